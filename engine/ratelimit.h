// A speed limit on what a run writes: bytes per second over all its threads together.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

namespace mivex {

// Writers charge each block after writing it and then wait until the limit has paid for it, so
// that the run as a whole writes no faster than the rate; each waits on its own, no one spins.
// Time spent idle (a pause, a slow source, the work between files) earns no credit: after it the
// run goes on at the rate, never in a burst. The rate may be changed or lifted while writers wait;
// what they still owe is then paid at the new rate.
class RateLimit {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    explicit RateLimit(std::uint64_t bytesPerSecond = 0, Now now = &Clock::now);
    RateLimit(const RateLimit&) = delete;
    RateLimit& operator=(const RateLimit&) = delete;

    // 0 lifts the limit. Any thread, at any time.
    void set(std::uint64_t bytesPerSecond);
    std::uint64_t rate() const;

    // Charges `bytes` just written; the writer's place in the line, for waitFor.
    std::uint64_t charge(std::uint64_t bytes);
    // How long the writer at `place` still waits at the present rate; 0 once paid, or unlimited.
    std::chrono::nanoseconds waitFor(std::uint64_t place);
    // Charges `bytes` and sleeps until they are paid for, or until `stop` answers true (asked at
    // least every tenth of a second while waiting).
    void take(std::uint64_t bytes, const std::function<bool()>& stop);

    // How much a writer should write between charges: about an eighth of a second's worth, so the
    // pace is smooth, and no more than `normal`.
    std::size_t blockSize(std::size_t normal) const;

private:
    void earn(Clock::time_point now);  // with mLock held

    const Now mNow;
    mutable std::mutex mLock;
    std::condition_variable mChanged;  // the rate changed: waiters work out their wait anew
    // Written under the lock; read without it where no limit means nothing to do.
    std::atomic<std::uint64_t> mRate{0};
    // Every byte charged and every byte paid for since the start; paid never passes charged.
    std::uint64_t mCharged = 0;
    std::uint64_t mPaid = 0;
    Clock::time_point mLastEarned;
};

}  // namespace mivex
