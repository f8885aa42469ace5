// A few threads that run the tasks one feeding thread hands them, with a short line between: the
// feeder waits while the line is full, so it never runs far ahead of the work. While it waits
// (for room, for the line to empty, or for a condition) it calls its tick every kTick, so that it
// can report progress and notice an abort. The first failure a task notes is kept.
#pragma once

#include <sys/types.h>

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

// How many threads copy the files of a folder tree besides the one that walks it, into a
// destination on the filesystem `destination`. For many small files the work is system calls,
// which scale with the cores this process may use: one thread a core, up to 16 (past that the one
// walking thread, which reads every folder and hands out every name, is the limit; bench/RESULTS.md
// has the model). One core copies on the calling thread. A destination on a rotating disk gets at
// most 2, as more threads only make its head seek between their files. The machine and each disk
// are asked once per process. MIVEX_WORKERS overrides the choice (0 copies everything on the
// calling thread).
int workerCount(dev_t destination);

// Whether the block device under the filesystem `dev` says that it rotates (the whole disk's
// answer for a partition). Filesystems without one (tmpfs, NFS) do not.
bool isRotating(dev_t dev);

class WorkPool {
public:
    using Task = std::function<void()>;
    using Tick = std::function<void()>;

    static constexpr auto kTick = std::chrono::milliseconds(20);

    // The threads start with the first task. With none (`threads` 0, or none that the system would
    // give) the feeding thread runs each task itself as it is submitted.
    // The line holds at most `maxQueued` tasks and, past its first, `maxQueuedBytes` of what the
    // tasks say they hold (0: no bound).
    WorkPool(int threads, std::size_t maxQueued, Tick tick, std::size_t maxQueuedBytes = 0);
    ~WorkPool();  // lets the threads finish the line, then joins them
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // Fewer than asked for once the system has refused some.
    int threads() const { return mThreadCount; }
    // Before the first task only: the number of threads and the line's length.
    void resize(int threads, std::size_t maxQueued);
    // Whether the threads have started (the feeding thread only).
    bool started() const { return !mThreads.empty(); }

    // The feeding thread only. `bytes`: what the task holds while it waits.
    void submit(Task task, std::size_t bytes = 0);
    // Returns once the line is empty and no task runs.
    void drain();
    // Returns once `done` holds; it is asked under the pool's lock after each task ends.
    void waitUntil(const std::function<bool()>& done);

    // Any thread. Keeps the first nonzero code noted since the last clearFailure.
    void noteFailure(int code);
    int failure() const { return mFailure.load(); }
    void clearFailure() { mFailure = 0; }

private:
    void startThreads();
    void workLoop();
    template <typename Done>
    void waitTicking(std::unique_lock<std::mutex>& lock, const Done& done);

    int mThreadCount;        // the feeding thread only
    std::size_t mMaxQueued;  // guarded by mLock
    const Tick mTick;
    const std::size_t mMaxQueuedBytes;
    std::atomic<int> mFailure{0};
    std::vector<std::thread> mThreads;  // the feeding thread only

    std::mutex mLock;
    std::condition_variable mWorkReady;  // a task waits, or the pool closes
    std::condition_variable mWorkDone;   // room in the line, or a task ended
    struct Waiting {
        Task task;
        std::size_t bytes;
    };
    std::deque<Waiting> mLine;     // guarded by mLock
    std::size_t mQueuedBytes = 0;  // guarded by mLock
    int mBusy = 0;                 // guarded by mLock: tasks running
    bool mClosing = false;         // guarded by mLock
};

}  // namespace mivex
