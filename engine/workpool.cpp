// The pool of copying threads, and how many it has.
#include "engine/workpool.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <system_error>
#include <utility>

#include "platform/fd.h"

namespace mivex {

bool isRotating(dev_t dev) {
    static std::mutex lock;
    static std::map<dev_t, bool> known;
    std::lock_guard hold(lock);
    if (auto it = known.find(dev); it != known.end()) {
        return it->second;
    }
    bool rotating = false;
    const std::string base =
        "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    for (const char* tail : {"/queue/rotational", "/../queue/rotational"}) {
        Fd fd(::open((base + tail).c_str(), O_RDONLY | O_CLOEXEC));
        char c = 0;
        if (fd.valid() && ::read(fd.get(), &c, 1) == 1) {
            rotating = c == '1';
            break;
        }
    }
    known.emplace(dev, rotating);
    return rotating;
}

int workerCount(dev_t destination) {
    // MIVEX_WORKERS is read at every call: tests and benchmarks set it per run inside one process.
    if (const char* env = std::getenv("MIVEX_WORKERS"); env && *env) {
        return std::clamp(std::atoi(env), 0, 16);
    }
    // The cores this process may run on (taskset, a container's cpuset), counted once: three
    // system calls each time otherwise.
    static const int cores = [] {
        cpu_set_t set;
        if (::sched_getaffinity(0, sizeof set, &set) == 0) {
            return CPU_COUNT(&set);
        }
        return static_cast<int>(std::thread::hardware_concurrency());
    }();
    const int count = cores < 2 ? 0 : std::min(cores, 16);
    // Up to 2 the disk is never asked.
    return count > 2 && isRotating(destination) ? 2 : count;
}

WorkPool::WorkPool(int threads, std::size_t maxQueued, Tick tick, std::size_t maxQueuedBytes)
    : mThreadCount(threads),
      mMaxQueued(std::max<std::size_t>(maxQueued, 1)),
      mTick(std::move(tick)),
      mMaxQueuedBytes(maxQueuedBytes) {}

void WorkPool::resize(int threads, std::size_t maxQueued) {
    if (mThreads.empty()) {
        mThreadCount = threads;
        std::lock_guard lock(mLock);
        mMaxQueued = std::max<std::size_t>(maxQueued, 1);
    }
}

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

void WorkPool::startThreads() {
    // The system may refuse a thread: a user's or a container's task limit, or too little address
    // space left for its stack (ulimit -v). The pool works with the threads it got; with none, the
    // feeding thread does every task itself, as if it had been given none.
    for (int i = 0; i < mThreadCount; ++i) {
        try {
            mThreads.emplace_back([this] { workLoop(); });
        } catch (const std::system_error&) {
            break;
        }
    }
    mThreadCount = static_cast<int>(mThreads.size());
}

void WorkPool::submit(Task task, std::size_t bytes) {
    std::unique_lock lock(mLock);
    if (mThreads.empty()) {
        startThreads();
    }
    if (mThreadCount == 0) {
        lock.unlock();
        task();
        return;
    }
    waitTicking(lock, [this, bytes] {
        return mLine.empty() || (mLine.size() < mMaxQueued &&
                                 (mMaxQueuedBytes == 0 || mQueuedBytes + bytes <= mMaxQueuedBytes));
    });
    mQueuedBytes += bytes;
    mLine.push_back({std::move(task), bytes});
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
        Task task = std::move(mLine.front().task);
        mQueuedBytes -= mLine.front().bytes;
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
