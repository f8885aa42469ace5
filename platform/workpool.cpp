// The pool of copying threads, and how many it has.
#include "platform/workpool.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace mivex {

int workerCount() {
    // MIVEX_WORKERS is read at every call: tests and benchmarks set it per run inside one process.
    if (const char* env = std::getenv("MIVEX_WORKERS"); env && *env) {
        return std::clamp(std::atoi(env), 0, 16);
    }
    // For many small files the work is system calls, which two cores do nearly twice as fast. The
    // cores are counted once (a system call each time otherwise).
    static const int count = std::thread::hardware_concurrency() >= 2 ? 2 : 0;
    return count;
}

WorkPool::WorkPool(int threads, std::size_t maxQueued, Tick tick)
    : mThreadCount(threads),
      mMaxQueued(std::max<std::size_t>(maxQueued, 1)),
      mTick(std::move(tick)) {}

WorkPool::~WorkPool() {
    {
        std::lock_guard lock(mLock);
        mClosing = true;
    }
    mWorkReady.notify_all();
    for (std::thread& t : mThreads) {
        t.join();
    }
}

template <typename Done>
void WorkPool::waitTicking(std::unique_lock<std::mutex>& lock, const Done& done) {
    while (!done()) {
        mWorkDone.wait_for(lock, kTick);
        if (mTick) {
            lock.unlock();
            mTick();
            lock.lock();
        }
    }
}

void WorkPool::submit(Task task) {
    std::unique_lock lock(mLock);
    if (mThreads.empty()) {
        for (int i = 0; i < mThreadCount; ++i) {
            mThreads.emplace_back([this] { workLoop(); });
        }
    }
    waitTicking(lock, [this] { return mLine.size() < mMaxQueued; });
    mLine.push_back(std::move(task));
    lock.unlock();
    mWorkReady.notify_one();
}

void WorkPool::drain() {
    std::unique_lock lock(mLock);
    waitTicking(lock, [this] { return mLine.empty() && mBusy == 0; });
}

void WorkPool::waitUntil(const std::function<bool()>& done) {
    std::unique_lock lock(mLock);
    waitTicking(lock, done);
}

void WorkPool::noteFailure(int code) {
    int none = 0;
    if (code != 0) {
        mFailure.compare_exchange_strong(none, code);
    }
}

void WorkPool::workLoop() {
    std::unique_lock lock(mLock);
    for (;;) {
        mWorkReady.wait(lock, [this] { return mClosing || !mLine.empty(); });
        if (mLine.empty()) {
            return;
        }
        Task task = std::move(mLine.front());
        mLine.pop_front();
        ++mBusy;
        lock.unlock();
        mWorkDone.notify_one();  // room in the line
        task();
        task = nullptr;  // lets go of what it holds before the task counts as ended
        lock.lock();
        --mBusy;
        mWorkDone.notify_all();
    }
}

}  // namespace mivex
