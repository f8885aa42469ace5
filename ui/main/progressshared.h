// What the progress window and the transfer it watches share: the latest progress, and the
// requests that go the other way (stop the run, skip the entry, pause). The transfer's threads
// and the window's touch nothing else of each other.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/transfer.h"
#include "queue/copyoperation.h"

namespace mivex::ui {

struct ProgressShared {
    std::mutex mutex;
    TransferProgress latest;          // guarded by mutex
    std::atomic<bool> cancel{false};  // the whole run
    std::atomic<bool> skip{false};    // the entry in hand only
    // The job's own copy of the record and its result; touched by the window only between jobs.
    ShellOpRecord record;
    int code = 0;

    // Pausing: the transfer's threads wait in waitWhilePaused() while `paused` is set. The lock
    // is held only to look at the flags, never across I/O.
    void setPaused(bool on);
    bool isPaused() const;
    // Stops the run, or skips the entry: both end a pause.
    void request(std::atomic<bool>& flag);
    void waitWhilePaused();

private:
    mutable std::mutex mPauseLock;
    std::condition_variable mResumed;
    bool mPaused = false;  // guarded by mPauseLock
    // The same, looked at without the lock by every block of every thread: a run that is not
    // paused costs no lock.
    std::atomic<bool> mPausedHint{false};
    // The window's thread never waits: a small file copied there would hold the window.
    const std::thread::id mWindowThread = std::this_thread::get_id();
};

// The monitor the transfer is given: it reports into the shared block and asks it.
class SharedMonitor : public TransferMonitor {
public:
    explicit SharedMonitor(ProgressShared& shared) : mShared(shared) {}
    bool wantsTotals() const override { return true; }
    void progress(const TransferProgress& progress) override {
        std::lock_guard lock(mShared.mutex);
        mShared.latest = progress;
    }
    bool abortRequested() override {
        return mShared.cancel.load(std::memory_order_relaxed) ||
               mShared.skip.load(std::memory_order_relaxed);
    }
    void waitWhilePaused() override { mShared.waitWhilePaused(); }

private:
    ProgressShared& mShared;
};

inline void ProgressShared::setPaused(bool on) {
    {
        std::lock_guard lock(mPauseLock);
        mPaused = on;
        mPausedHint = on;
    }
    mResumed.notify_all();
}

inline bool ProgressShared::isPaused() const {
    std::lock_guard lock(mPauseLock);
    return mPaused;
}

inline void ProgressShared::request(std::atomic<bool>& flag) {
    {
        // Set under the lock, so that no thread can miss it between its look and its wait.
        std::lock_guard lock(mPauseLock);
        flag = true;
    }
    mResumed.notify_all();
}

inline void ProgressShared::waitWhilePaused() {
    if (!mPausedHint.load() || std::this_thread::get_id() == mWindowThread) {
        return;
    }
    std::unique_lock lock(mPauseLock);
    mResumed.wait(lock, [this] { return !mPaused || cancel.load() || skip.load(); });
}

}  // namespace mivex::ui
