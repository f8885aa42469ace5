// The worker and the window thread share one reference-counted block: the window may be deleted
// while a run waits, the block may not. Every job is over before its run returns, and the worker
// is joined before the owner goes.
#include "ui/offthread.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace mivex::ui {

namespace {

// A job that ends within this is waited for without an event loop.
constexpr auto kQuickJob = std::chrono::milliseconds(20);
// The loop also looks for the end of the job this often, in case the worker's wake-up was lost.
constexpr int kWatchMs = 100;

}  // namespace

struct OffThread::State {
    // Under mutex: a job is waiting or running (`pending`), the worker is to end (`quit`), and the
    // loop to wake when the job is done. `changed` wakes the worker for a job and the window
    // thread when one is done.
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> job;
    bool pending = false;
    bool quit = false;
    QEventLoop* loop = nullptr;
    std::thread worker;  // the window thread's

    void serve() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return pending || quit; });
            if (!pending) {
                return;
            }
            lock.unlock();
            job();
            lock.lock();
            pending = false;
            // Posted under the lock: the run leaves its loop only after seeing the job done, so
            // the loop is still there. A wake-up no longer needed is dropped by Qt.
            if (loop) {
                QMetaObject::invokeMethod(loop, "quit", Qt::QueuedConnection);
            }
            changed.notify_all();
        }
    }
    bool busy() {
        std::lock_guard lock(mutex);
        return pending;
    }
};

OffThread::OffThread() : mState(std::make_shared<State>()) {}

OffThread::~OffThread() {
    const std::shared_ptr<State> state = mState;
    {
        std::lock_guard lock(state->mutex);
        state->quit = true;
        if (state->loop) {
            state->loop->quit();
        }
    }
    state->changed.notify_all();
    if (state->worker.joinable()) {
        state->worker.join();
    }
}

bool OffThread::run(const std::function<void()>& job, bool here,
                    const std::function<void()>& stop) {
    // Held locally: the owner may be deleted while we wait, the block may not.
    const std::shared_ptr<State> state = mState;
    if (!here && !state->worker.joinable()) {
        try {
            state->worker = std::thread([state] { state->serve(); });
        } catch (const std::system_error&) {
            // No thread to be had: the job is done here, without a live window meanwhile.
        }
    }
    if (here || !state->worker.joinable()) {
        job();
        return true;
    }
    QEventLoop loop;
    std::unique_lock lock(state->mutex);
    state->job = job;
    state->pending = true;
    state->changed.notify_all();
    if (state->changed.wait_for(lock, kQuickJob, [&] { return !state->pending; })) {
        return true;
    }
    state->loop = &loop;
    lock.unlock();

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (!state->busy()) {
            loop.quit();
        }
    });
    watch.start(kWatchMs);
    loop.exec();

    lock.lock();
    state->loop = nullptr;
    if (state->pending) {
        // Ended from outside: the job is told to give up, and is over before its loop goes.
        lock.unlock();
        if (stop) {
            stop();
        }
        lock.lock();
        state->changed.wait(lock, [&] { return !state->pending; });
    }
    return false;
}

void OffThread::endWait() {
    std::lock_guard lock(mState->mutex);
    if (mState->loop) {
        mState->loop->quit();
    }
}

bool OffThread::waiting() const {
    std::lock_guard lock(mState->mutex);
    return mState->loop != nullptr;
}

}  // namespace mivex::ui
