// The run's speed limit: a count of bytes charged against bytes paid for at the rate.
#include "engine/ratelimit.h"

#include <algorithm>

namespace mivex {

namespace {

constexpr auto kLongestNap = std::chrono::milliseconds(100);  // a stop is seen at least this often
constexpr std::size_t kSmallestBlock = 64u << 10;

}  // namespace

RateLimit::RateLimit(std::uint64_t bytesPerSecond, Now now)
    : mNow(std::move(now)), mRate(bytesPerSecond), mLastEarned(mNow()) {}

void RateLimit::earn(Clock::time_point now) {
    if (now > mLastEarned && mRate != 0) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - mLastEarned);
        // In 128-bit arithmetic: a rate of gigabytes times hours of nanoseconds passes 2^64.
        const auto earned =
            static_cast<unsigned __int128>(ns.count()) * mRate.load() / 1'000'000'000u;
        mPaid = static_cast<std::uint64_t>(std::min<unsigned __int128>(mCharged, mPaid + earned));
    }
    if (mRate == 0) {
        mPaid = mCharged;
    }
    mLastEarned = now;
}

void RateLimit::set(std::uint64_t bytesPerSecond) {
    {
        const std::lock_guard lock(mLock);
        earn(mNow());  // what was earned so far, at the old rate
        mRate = bytesPerSecond;
        earn(mLastEarned);
    }
    mChanged.notify_all();
}

std::uint64_t RateLimit::rate() const {
    return mRate.load(std::memory_order_relaxed);
}

std::uint64_t RateLimit::charge(std::uint64_t bytes) {
    const std::lock_guard lock(mLock);
    // Earned before the charge: the time since the last one is the idle time that earns nothing.
    earn(mNow());
    mCharged += bytes;
    return mCharged;
}

std::chrono::nanoseconds RateLimit::waitFor(std::uint64_t place) {
    const std::lock_guard lock(mLock);
    earn(mNow());
    if (mRate == 0 || mPaid >= place) {
        return std::chrono::nanoseconds(0);
    }
    const auto owed = static_cast<unsigned __int128>(place - mPaid);
    // Rounded up, so that a writer never wakes a nanosecond short and naps once more.
    const std::uint64_t rate = mRate;
    return std::chrono::nanoseconds(
        static_cast<std::int64_t>((owed * 1'000'000'000u + rate - 1) / rate));
}

void RateLimit::take(std::uint64_t bytes, const std::function<bool()>& stop) {
    // Unlimited, the bytes need not even be counted: lifting a limit pays for all that was charged.
    if (rate() == 0) {
        return;
    }
    const std::uint64_t place = charge(bytes);
    for (auto wait = waitFor(place); wait.count() > 0; wait = waitFor(place)) {
        if (stop && stop()) {
            return;
        }
        std::unique_lock lock(mLock);
        mChanged.wait_for(lock, std::min<std::chrono::nanoseconds>(wait, kLongestNap));
    }
}

std::size_t RateLimit::blockSize(std::size_t normal) const {
    const std::uint64_t rate = this->rate();
    if (rate == 0) {
        return normal;
    }
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(rate / 8, std::min(kSmallestBlock, normal), normal));
}

}  // namespace mivex
