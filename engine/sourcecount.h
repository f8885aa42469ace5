// The one count of what a source holds, as a transfer counts it: the check before a run, the whole
// run's count and the engine's progress all take it from here. One walk fills a SourceTotals, so
// that whoever counted a source can hand its totals on instead of walking it again.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/fileid.h"

namespace mivex {

struct SourceTotals {
    std::uint64_t files = 0;  // files and links: what a transfer counts as its files
    std::uint64_t bytes = 0;  // the bytes of those files
    // With a block size asked for, what the source takes on a destination of such blocks: every
    // file rounded up to a block, and a block for every other item (each folder, the top one too,
    // and each link).
    std::uint64_t room = 0;
    bool stopped = false;  // ended early by the stop flag: the totals are partial
};

struct CountOptions {
    std::uint64_t block = 0;                  // the block size `room` is counted in; 0: none
    const std::atomic<bool>* stop = nullptr;  // asked after every item; true ends the count
};

// Counts the item `name` in the open folder `dir` (or a path, with AT_FDCWD), whose lstat is `st`.
// A folder is walked below (walkTree); links are not followed, and what cannot be read counts
// nothing (the transfer will say why). A folder moved away during the walk ends it: the totals are
// only a guide.
SourceTotals countSource(int dir, const std::string& name, const struct stat& st,
                         const CountOptions& options = {});

// The counts of one run's source folders, kept so that each is walked once however many ask: the
// check before the run, the whole run's count and each entry's progress. Any thread may ask; one
// that asks for a folder another thread is counting waits for that count instead of walking too.
// A count is kept for the item it was taken of (device and inode): a path that leads to another
// folder by now is counted again. The counts are a guide, as the count itself is: a folder that
// changes after it was counted keeps its first count for the run.
class CountedSources {
public:
    // The totals of the source `path`, open as `name` in `dir` (or `path` with AT_FDCWD), whose
    // lstat is `st`: as counted before, with `room` in the block size asked for, or counted now.
    // A file or link is not kept: its lstat is its count. A count ended by the stop flag is not
    // kept either.
    SourceTotals count(int dir, const std::string& name, const std::string& path,
                       const struct stat& st, const CountOptions& options = {});
    // The same without waiting: nothing while another thread counts the folder (counted() gives
    // its totals once it is done), else its totals, counted here when nobody had.
    std::optional<SourceTotals> countUnlessCounting(int dir, const std::string& name,
                                                    const std::string& path, const struct stat& st);
    // The totals of the folder `path` (whose lstat is `st`) when its count is done; nothing while
    // it goes on.
    std::optional<SourceTotals> counted(const std::string& path, const struct stat& st);

private:
    struct Kept {
        FileId id;
        std::uint64_t block = 0;  // of its `room`; 0: none counted
        bool counting = true;     // a thread walks it now
        SourceTotals totals;
    };

    std::mutex mLock;
    std::condition_variable mCounted;             // a count ended
    std::unordered_map<std::string, Kept> mKept;  // by path, without trailing slashes
};

}  // namespace mivex
