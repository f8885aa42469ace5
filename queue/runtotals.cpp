// The size of a whole run, counted beside it.
#include "queue/runtotals.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <system_error>
#include <utility>

#include "engine/sourcecount.h"
#include "queue/queueentry.h"

namespace mivex {

RunTotals::~RunTotals() {
    stop();
}

void RunTotals::start(std::vector<std::string> rows, CountedSources* shared) {
    stop();
    mCounts = shared ? shared : &mOwnCounts;
    mStop = false;
    mCounted.store(false, std::memory_order_release);
    mBytes = 0;
    mFiles = 0;
    try {
        mThread = std::thread([this, list = std::move(rows)] { count(list); });
    } catch (const std::system_error&) {
        // No thread to be had (a task limit): the run goes on without its whole size.
    }
}

void RunTotals::stop() {
    mStop = true;
    if (mThread.joinable()) {
        mThread.join();
    }
}

void RunTotals::count(const std::vector<std::string>& rows) {
    for (const std::string& row : rows) {
        const std::optional<QueueEntry> entry = ParseRecord(row);
        struct stat st;
        if (mStop.load(std::memory_order_relaxed) || !entry ||
            ::lstat(entry->source.c_str(), &st) != 0) {
            continue;
        }
        const SourceTotals totals =
            mCounts->count(AT_FDCWD, entry->source, entry->source, st, {0, &mStop});
        mFiles.fetch_add(totals.files, std::memory_order_relaxed);
        mBytes.fetch_add(totals.bytes, std::memory_order_relaxed);
        if (totals.stopped) {
            return;
        }
    }
    if (!mStop.load(std::memory_order_relaxed)) {
        mCounted.store(true, std::memory_order_release);
    }
}

}  // namespace mivex
