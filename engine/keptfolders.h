// Folders kept open from one entry of a run to the next. A list often names the same source
// folder and destination folder in entry after entry; opening both by their whole paths for every
// entry, and closing them again, costs more system calls than copying a small file. While a run
// keeps folders (a KeepFoldersForRun lives), the engine hands each entry's source folder and
// destination folder back here when the entry ends, and the next entry takes them again when a
// look at each path (one stat) finds there the very folder that was handed back: the same device,
// inode and change time. Anything done to that folder meanwhile (renamed away and replaced,
// removed, written into by another program) changes one of them, and the path is then opened
// afresh, as if nothing had been kept. The run's end closes them, so no folder stays busy after a
// run (a removable disk can be unmounted at once).
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/fd.h"

namespace mivex {

// One folder named by its path, open for one entry.
struct KeptFolder {
    std::string path;
    Fd fd;
    struct stat st {};  // when taken: what the path leads to now
    // Whether closing a file written into it can report an error (closeCanFail); -1: not asked.
    int closeCanFail = -1;
};

// Each entry keeps at most one folder of each role.
enum class FolderRole { SourceFolder, Destination };

// While one lives, folders are kept between entries. Runs may overlap (the count is shared); the
// last one to end closes what is kept.
class KeepFoldersForRun {
public:
    KeepFoldersForRun();
    ~KeepFoldersForRun();
    KeepFoldersForRun(const KeepFoldersForRun&) = delete;
    KeepFoldersForRun& operator=(const KeepFoldersForRun&) = delete;
};

// The folder kept for `role` when `path` still leads to it; one without a descriptor otherwise.
// Only one caller at a time can hold it: a second entry running at once opens its own.
KeptFolder takeKeptFolder(FolderRole role, const std::string& path);

// Hands a folder back after an entry: kept for the next entry while a run keeps folders, closed
// otherwise. `changed`: the entry may have changed the folder (made or removed something in it),
// so its state is taken once more now; else the state taken with it still holds.
void keepFolder(FolderRole role, KeptFolder folder, bool changed = true);

}  // namespace mivex
