// Result codes of one transfer, and the mapping from the system's errno values to them.
//
// The numbers are the Win32 codes that fit, so that a run log reads the same whichever platform
// wrote it. This table is the only place that knows them; the help file lists the same table.
#pragma once

#include <string>
#include <string_view>

namespace mivex {

enum ResultCode : int {
    kNotAnEntry = -1,  // a list row that is no queue entry: it never reaches a transfer
    kSuccess = 0,
    kFileNotFound = 2,  // the source does not exist
    kPathNotFound = 3,  // a folder on the way to the destination is missing or not a folder
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kNotEnoughMemory = 8,
    kWriteProtected = 19,  // read-only filesystem
    kCopyDiffers = 23,     // verify: the copy read back from the destination is not the source
    kGeneralFailure = 31,  // anything that fits nowhere else
    kLinksNotHeld = 50,    // a symbolic link onto a filesystem that holds none (FAT, exFAT)
    kInUse = 32,           // busy, or the source changed while it was being copied
    kFileExists = 80,      // a file of the chosen name appeared at the destination
    kInvalidParameter = 87,
    kSameFile = 113,       // the item's own folder, or the very file it is or links to
    kInvalidName = 123,    // a name the destination cannot hold (FAT, exFAT, NTFS: "a:b", "c?")
    kIntoItself = 118,     // a folder copied or moved into itself or below itself
    kDirNotEmpty = 145,    // a moved folder could not be removed: something new appeared in it
    kAlreadyExists = 183,  // a file arrives where a folder stands, or the reverse
    kNameTooLong = 206,
    kFileTooLarge = 223,  // over the destination's largest file (FAT32: 4 GiB) or "ulimit -f"
    kIoError = 1117,
    kSkipped = 1235,      // the user skipped the entry during the run: it ended unfinished
    kSpecialFile = 1920,  // a FIFO, socket or device file: never opened, fails the entry
    kDiskFull = 1223,     // out of space or over quota
};

// The code for an errno value met while writing at the destination (the default) or while reading
// the source (`onSource`): ENOENT means "source missing" on one side and "path not found" on the
// other.
int codeFromErrno(int err, bool onSource = false);

// A short description of a code, for the help file and for messages; empty for unknown codes.
std::string_view describeCode(int code);

// The same description as a clause to follow a name: "the source does not exist" for 2;
// "error code N" for an unknown code.
std::string plainReason(int code);

}  // namespace mivex
