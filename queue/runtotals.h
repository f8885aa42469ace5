// The size of a whole run, counted on a thread of its own while the run already works, so that a
// display can show how far the run is and how long it has left without delaying its first entry.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "engine/sourcecount.h"

namespace mivex {

class RunTotals {
public:
    RunTotals() = default;
    ~RunTotals();  // stops the count and waits for its thread
    RunTotals(const RunTotals&) = delete;
    RunTotals& operator=(const RunTotals&) = delete;

    // Starts counting the sources of `rows` (rows that are no entry count nothing) with the
    // transfer's own count (countSource): files and links, and the bytes of files. A count already
    // going is stopped first. Where the system gives no thread for it, nothing is counted.
    // `shared`: the run's counts, which sources counted already are taken from and new counts go
    // to, for the entries' progress (it must outlive the count); null: counts of its own.
    void start(std::vector<std::string> rows, CountedSources* shared = nullptr);
    void stop();

    bool counted() const { return mCounted.load(std::memory_order_acquire); }
    // Both grow, source by source, while the count goes on and hold the whole run once counted() is
    // true.
    std::uint64_t bytes() const { return mBytes.load(std::memory_order_relaxed); }
    std::uint64_t files() const { return mFiles.load(std::memory_order_relaxed); }

private:
    void count(const std::vector<std::string>& rows);

    CountedSources mOwnCounts;
    CountedSources* mCounts = &mOwnCounts;  // set before the thread starts
    std::thread mThread;
    std::atomic<bool> mStop{false};
    std::atomic<bool> mCounted{false};
    std::atomic<std::uint64_t> mBytes{0};
    std::atomic<std::uint64_t> mFiles{0};
};

}  // namespace mivex
