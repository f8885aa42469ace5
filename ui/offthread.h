// Work carried out off the window thread while the window keeps answering: the one way the
// windows wait. One worker thread, started with the first job and kept for the next, serves one
// job at a time; the window thread waits for each job in a local event loop, so that it repaints
// and takes Cancel, or without one when the job ends within a moment (starting a loop costs more
// than a small job).
#pragma once

#include <functional>
#include <memory>

namespace mivex::ui {

class OffThread {
public:
    OffThread();
    ~OffThread();  // waits for the job in hand, then ends the worker
    OffThread(const OffThread&) = delete;
    OffThread& operator=(const OffThread&) = delete;

    // Runs `job` on the worker (on this thread when `here`, or when no thread can be had) and
    // returns once it is over. When the wait is ended from outside before that (endWait(), or the
    // loop told to exit as the application quits), `stop` is called to make the job give up, and
    // the wait goes on, without a loop, until the job is over. True when the job ended without a
    // loop having run (a quick one).
    bool run(const std::function<void()>& job, bool here = false,
             const std::function<void()>& stop = {});

    // Ends the wait of the run in progress (from the window thread: a Cancel).
    void endWait();

    // Whether a run is waiting for its job now.
    bool waiting() const;

private:
    struct State;
    std::shared_ptr<State> mState;
};

}  // namespace mivex::ui
