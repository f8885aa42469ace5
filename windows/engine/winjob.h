// One entry's work inside the Windows engine: the copy (wincopy.cpp) and the moves and removals
// (wintransfer.cpp) share it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "queue/queueentry.h"
#include "windows/engine/winpaths.h"
#include "windows/engine/wintransfer.h"

namespace mivex::win {

// The code for a transfer the user cancelled (never logged as a failure).
inline constexpr int kStopped = -2;

// How an item meets its name at the destination: it replaces a file there (merges into a folder),
// takes the first free keep-both name, or must find the name free (inside a folder just made).
enum class Placing { Replace, KeepBoth, New };

struct Job {
    const QueueEntry& entry;
    TransferProgress& progress;
    std::string placedAs;  // UTF-8, the top item's name at the destination
    // Every source item copied, folders after what they hold: what a move may remove.
    std::vector<std::pair<std::wstring, ItemState>> copied;
};

// Copies the file or folder `source` (as it was: `state`) into `folder` as `name`.
int copyItem(const std::wstring& source, const ItemState& state, const std::wstring& folder,
             const std::wstring& name, Placing placing, Job& job);

// The progress routine of CopyFileExW and MoveFileWithProgressW: counts bytes, answers a cancel.
struct FileProgress {
    TransferProgress& progress;
    std::uint64_t counted = 0;
};
DWORD CALLBACK onFileProgress(LARGE_INTEGER total, LARGE_INTEGER done, LARGE_INTEGER, LARGE_INTEGER,
                              DWORD, DWORD, HANDLE, HANDLE, LPVOID data);

// The free name of the n-th try (n = 0: the name itself) under `placing`; the last try is 9999.
inline constexpr int kKeepBothTries = 10000;

}  // namespace mivex::win
