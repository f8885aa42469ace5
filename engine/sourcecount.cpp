// The count of a source: one walk, every item counted one way.
#include "engine/sourcecount.h"

#include <fcntl.h>

#include <chrono>

#include "platform/fd.h"
#include "platform/folderwalk.h"
#include "platform/pathtext.h"

namespace mivex {

SourceTotals countSource(int dir, const std::string& name, const struct stat& st,
                         const CountOptions& options) {
    SourceTotals totals;
    const std::uint64_t block = options.block;
    const auto add = [&totals, block](const struct stat& item) {
        const bool file = S_ISREG(item.st_mode);
        const auto size = static_cast<std::uint64_t>(item.st_size);
        if (file || S_ISLNK(item.st_mode)) {
            ++totals.files;
        }
        if (file) {
            totals.bytes += size;
        }
        if (block != 0) {
            totals.room += file ? (size + block - 1) / block * block : block;
        }
    };
    add(st);
    if (!S_ISDIR(st.st_mode)) {
        return totals;
    }
    const Fd top(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (top.valid()) {
        totals.stopped = !walkTree(top.get(), [&add, &options](const struct stat& item) {
            add(item);
            return !options.stop || !options.stop->load(std::memory_order_relaxed);
        });
    }
    return totals;
}

SourceTotals CountedSources::count(int dir, const std::string& name, const std::string& path,
                                   const struct stat& st, const CountOptions& options) {
    if (!S_ISDIR(st.st_mode)) {
        return countSource(dir, name, st, options);
    }
    const std::string key = withoutTrailingSlashes(path);
    const FileId id = FileId::of(st);
    std::unique_lock lock(mLock);
    for (;;) {
        const auto it = mKept.find(key);
        if (it == mKept.end() || it->second.id != id) {
            break;
        }
        const Kept& kept = it->second;
        if (!kept.counting && (options.block == 0 || kept.block == options.block)) {
            return kept.totals;
        }
        if (!kept.counting) {
            break;  // counted without room, or in other blocks
        }
        if (options.stop && options.stop->load(std::memory_order_relaxed)) {
            return {0, 0, 0, true};
        }
        // The wait is bounded so that the stop flag, which nothing signals here, is seen.
        mCounted.wait_for(lock, std::chrono::milliseconds(20));
    }
    mKept[key] = Kept{id, options.block, true, {}};
    lock.unlock();
    const SourceTotals totals = countSource(dir, name, st, options);
    lock.lock();
    if (totals.stopped) {
        mKept.erase(key);
    } else {
        mKept[key] = Kept{id, options.block, false, totals};
    }
    mCounted.notify_all();
    return totals;
}

std::optional<SourceTotals> CountedSources::countUnlessCounting(int dir, const std::string& name,
                                                                const std::string& path,
                                                                const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
        std::lock_guard lock(mLock);
        const auto it = mKept.find(withoutTrailingSlashes(path));
        if (it != mKept.end() && it->second.id == FileId::of(st) && it->second.counting) {
            return std::nullopt;
        }
    }
    return count(dir, name, path, st);
}

std::optional<SourceTotals> CountedSources::counted(const std::string& path,
                                                    const struct stat& st) {
    std::lock_guard lock(mLock);
    const auto it = mKept.find(withoutTrailingSlashes(path));
    if (it == mKept.end() || it->second.id != FileId::of(st) || it->second.counting) {
        return std::nullopt;
    }
    return it->second.totals;
}

}  // namespace mivex
