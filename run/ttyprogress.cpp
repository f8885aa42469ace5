// The progress line of an unattended run on a terminal.
#include "run/ttyprogress.h"

#include <unistd.h>

#include "platform/posixio.h"

namespace mivex {

std::string formatProgressLine(std::size_t entry, std::size_t entries, std::uint64_t bytesDone,
                               std::uint64_t bytesTotal, double bytesPerSecond) {
    std::string line = "Entry " + std::to_string(entry) + " of " + std::to_string(entries) + ": " +
                       formatBytes(bytesDone) + " of " + formatBytes(bytesTotal);
    if (bytesPerSecond >= 0) {
        line += ", " + formatBytes(static_cast<std::uint64_t>(bytesPerSecond)) + "/s";
    }
    return line;
}

void TtyProgress::startEntry(std::size_t number, std::size_t count) {
    mEarlierBytes += mBytesDone;
    mBytesDone = 0;
    mBytesTotal = 0;
    mEntry = number;
    mEntries = count;
}

void TtyProgress::progress(const TransferProgress& now) {
    mBytesDone = now.bytesDone;
    mBytesTotal = now.bytesTotal;
    if (!mDrawn || Clock::now() - mLastDraw >= std::chrono::milliseconds(100)) {
        draw();
    }
}

void TtyProgress::finish() {
    if (mEntry == 0) {
        return;
    }
    draw();
    writeAll(mFd, "\n");
    mShownWidth = 0;  // that line is finished: nothing left to wipe
}

void TtyProgress::clearLine() {
    if (mShownWidth == 0) {
        return;
    }
    writeAll(mFd, "\r" + std::string(mShownWidth, ' ') + "\r");
    mShownWidth = 0;
    mDrawn = false;
}

void TtyProgress::draw() {
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - mStart).count();
    const double speed = seconds >= 0.05 ? (mEarlierBytes + mBytesDone) / seconds : -1.0;
    const std::string line = formatProgressLine(mEntry, mEntries, mBytesDone, mBytesTotal, speed);
    // Blanks cover the rest of a longer line drawn before.
    std::string text = "\r" + line;
    if (line.size() < mShownWidth) {
        text.append(mShownWidth - line.size(), ' ');
    }
    mShownWidth = line.size();
    writeAll(mFd, text);  // a terminal that went away costs only the display
    mLastDraw = now;
    mDrawn = true;
}

}  // namespace mivex
