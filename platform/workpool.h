// A few threads that run the tasks one feeding thread hands them, with a short line between: the
// feeder waits while the line is full, so it never runs far ahead of the work. While it waits
// (for room, for the line to empty, or for a condition) it calls its tick every kTick, so that it
// can report progress and notice an abort. The first failure a task notes is kept.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace mivex {

// How many threads copy the files of a folder tree besides the one that walks it; the machine is
// asked once per process. MIVEX_WORKERS overrides the choice (0 copies everything on the calling
// thread).
int workerCount();

class WorkPool {
public:
    using Task = std::function<void()>;
    using Tick = std::function<void()>;

    static constexpr auto kTick = std::chrono::milliseconds(20);

    // `threads` may be 0: then nothing may be submitted. The threads start with the first task.
    WorkPool(int threads, std::size_t maxQueued, Tick tick);
    ~WorkPool();  // lets the threads finish the line, then joins them
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    int threads() const { return mThreadCount; }
    // Whether the threads have started (the feeding thread only).
    bool started() const { return !mThreads.empty(); }

    // The feeding thread only.
    void submit(Task task);
    // Returns once the line is empty and no task runs.
    void drain();
    // Returns once `done` holds; it is asked under the pool's lock after each task ends.
    void waitUntil(const std::function<bool()>& done);

    // Any thread. Keeps the first nonzero code noted since the last clearFailure.
    void noteFailure(int code);
    int failure() const { return mFailure.load(); }
    void clearFailure() { mFailure = 0; }

private:
    void workLoop();
    template <typename Done>
    void waitTicking(std::unique_lock<std::mutex>& lock, const Done& done);

    const int mThreadCount;
    const std::size_t mMaxQueued;
    const Tick mTick;
    std::atomic<int> mFailure{0};
    std::vector<std::thread> mThreads;  // the feeding thread only

    std::mutex mLock;
    std::condition_variable mWorkReady;  // a task waits, or the pool closes
    std::condition_variable mWorkDone;   // room in the line, or a task ended
    std::deque<Task> mLine;              // guarded by mLock
    int mBusy = 0;                       // guarded by mLock: tasks running
    bool mClosing = false;               // guarded by mLock
};

}  // namespace mivex
