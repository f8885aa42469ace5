// Folders kept open from one entry of a run to the next. A list often names the same source
// folder and destination folder in entry after entry; opening both by their whole paths for every
// entry, and closing them again, costs more system calls than copying a small file. Within a run
// (its TransferSession holds a KeptFolders), the engine hands each entry's source folder and
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
    // Whether it has a default ACL, which files made in it inherit (hasDefaultAcl); -1: not asked.
    // Asked once while it is kept: an ACL given to the folder in the middle of a run is seen by
    // the next run, or when the folder is opened afresh.
    int defaultAcl = -1;
};

// Each entry keeps at most one folder of each role.
enum class FolderRole { SourceFolder, Destination };

// The folders one run keeps, one of each role; used by one entry at a time. Its end closes them.
class KeptFolders {
public:
    // `keeps` false: nothing is kept (an entry carried out alone).
    explicit KeptFolders(bool keeps = true) : mKeeps(keeps) {}

    // The folder kept for `role` when `path` still leads to it; one without a descriptor
    // otherwise. `look` false: the caller knows that the path was looked at for this run moments
    // ago (entries of one batch, sharing their folders as a folder entry's files do): the folder
    // kept for that path is taken as it is.
    KeptFolder take(FolderRole role, const std::string& path, bool look = true);

    // Hands a folder back after an entry: kept for the next entry, or closed when nothing is
    // kept. `changed`: the entry may have changed the folder (made or removed something in it),
    // so its state is taken once more now; else the state taken with it still holds.
    void keep(FolderRole role, KeptFolder folder, bool changed = true);

private:
    KeptFolder& slot(FolderRole role) { return mKept[role == FolderRole::SourceFolder ? 0 : 1]; }

    bool mKeeps;
    KeptFolder mKept[2];
};

}  // namespace mivex
