// The size of a whole run, counted beside it.
#include "queue/runtotals.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <system_error>
#include <utility>

#include "platform/fd.h"
#include "platform/folderwalk.h"
#include "queue/queueentry.h"

namespace mivex {

RunTotals::~RunTotals() {
    stop();
}

void RunTotals::start(std::vector<std::string> rows) {
    stop();
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
    // Counted as the transfer counts its totals: files and links, and the bytes of files; links
    // are not followed, and what cannot be read counts nothing (the entry will say why).
    const auto add = [this](const struct stat& st) {
        if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            mFiles.fetch_add(1, std::memory_order_relaxed);
        }
        if (S_ISREG(st.st_mode)) {
            mBytes.fetch_add(static_cast<std::uint64_t>(st.st_size), std::memory_order_relaxed);
        }
        return !mStop.load(std::memory_order_relaxed);
    };
    for (const std::string& row : rows) {
        const std::optional<QueueEntry> entry = ParseRecord(row);
        struct stat st;
        if (mStop.load(std::memory_order_relaxed) || !entry ||
            ::lstat(entry->source.c_str(), &st) != 0) {
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            add(st);
            continue;
        }
        const Fd top(::open(entry->source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (top.valid() && !walkTree(top.get(), add)) {
            return;  // stopped
        }
    }
    if (!mStop.load(std::memory_order_relaxed)) {
        mCounted.store(true, std::memory_order_release);
    }
}

}  // namespace mivex
