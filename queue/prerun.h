// The check before a run writes anything: sources that are not there, and destination
// filesystems without room for what the entries would write there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mivex {

class CountedSources;

struct MissingSource {
    std::size_t row;  // from 0, in queue order
    std::string source;
};

// One destination filesystem that lacks room: all entries writing there, counted together.
struct ShortFilesystem {
    std::string dest;  // the first destination folder on it, in queue order
    std::uint64_t needed = 0;
    std::uint64_t available = 0;
};

struct PreRunReport {
    std::vector<MissingSource> missing;
    std::vector<ShortFilesystem> shortOfRoom;
    bool clean() const { return missing.empty() && shortOfRoom.empty(); }
};

// Looks at every row once, writing nothing. A row that is not an entry, or whose destination is
// not a folder, is left to the run, which reports it; a destination folder that the run would make
// counts on the filesystem of the folder it would be made in. A move within one filesystem is a
// rename and needs no room. The bytes of a folder are counted only when its destination could be
// short: a folder cannot hold more than its filesystem's used blocks, so the usual run costs one
// lstat a row and one statvfs a filesystem.
// `counted`: where the folders it walks keep their counts for the run (engine/sourcecount.h).
PreRunReport checkBeforeRun(const std::vector<std::string>& rows,
                            CountedSources* counted = nullptr);

}  // namespace mivex
