// Folders kept open from one entry of a run to the next. A list often names the same source
// folder and destination folder in entry after entry; opening both by their whole paths for every
// entry, and closing them again, costs more system calls than copying a small file. While a run
// keeps folders (a KeepFoldersForRun lives), the engine hands each entry's source folder and
// destination folder back here when the entry ends, and the next entry takes them again when a
// look at each path (one stat) finds there the very folder that was handed back: the same device,
// inode and birth time, or change time where the filesystem keeps no birth time. A folder renamed
// away and replaced, or removed and made again, differs in one of them (a new folder may get the
// old inode number back, but not its birth time as well), and the path is then opened afresh, as
// if nothing had been kept. The birth time, unlike the change time, stays as the entry writes into
// the folder, so the folder need not be looked at again when it is handed back. The run's end
// closes them, so no folder stays busy after a run (a removable disk can be unmounted at once).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform/fd.h"

namespace mivex {

// One folder named by its path, open for one entry.
struct KeptFolder {
    std::string path;
    Fd fd;
    struct stat st {};  // when taken: what the path leads to now (its device and inode at least)
    struct statx_timestamp birth {};
    bool hasBirth = false;  // its filesystem gave a birth time, in `birth`
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
// so its state is taken once more now unless its birth time is known; else the state taken with it
// still holds.
void keepFolder(FolderRole role, KeptFolder folder, bool changed = true);

}  // namespace mivex
