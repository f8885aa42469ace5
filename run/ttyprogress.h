// The progress line of an unattended run on a terminal: redrawn in place on standard error.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/transfer.h"
#include "run/bytesize.h"

namespace mivex {

// One progress line, e.g. "Entry 2 of 5: 1.5 MB of 4.0 MB, 12.0 MB/s". The speed is left out
// while it is not known yet (negative).
std::string formatProgressLine(std::size_t entry, std::size_t entries, std::uint64_t bytesDone,
                               std::uint64_t bytesTotal, double bytesPerSecond);

// Draws the line on `fd` (a terminal) at most ten times a second. One monitor serves every
// entry of the run: call startEntry before each transfer and finish once after the last.
class TtyProgress : public TransferMonitor {
public:
    explicit TtyProgress(int fd) : mFd(fd) {}

    // Entry `number` of `count`, counted from 1, starts.
    void startEntry(std::size_t number, std::size_t count);
    void finish();
    // Wipes the line drawn so far, so that a message can take its place; the line comes back
    // with the next progress.
    void clearLine();

    bool wantsTotals() const override { return true; }
    void progress(const TransferProgress& now) override;

private:
    using Clock = std::chrono::steady_clock;
    void draw();

    int mFd;
    std::size_t mEntries = 0;
    std::size_t mEntry = 0;
    std::uint64_t mBytesDone = 0;
    std::uint64_t mBytesTotal = 0;
    std::uint64_t mEarlierBytes = 0;  // bytes of the entries already carried out
    Clock::time_point mStart = Clock::now();
    Clock::time_point mLastDraw{};
    bool mDrawn = false;
    std::size_t mShownWidth = 0;
};

}  // namespace mivex
