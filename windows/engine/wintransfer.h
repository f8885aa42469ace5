// The transfer engine on Windows: one queue entry carried out with the system's own calls, under
// the rules of engine/transferengine.h. Every file is copied (CopyFileExW) under a temporary name
// beside its target and named only when complete: MoveFileExW with MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH replaces a file atomically, and without REPLACE_EXISTING claims a free
// name (" - Copy", " - Copy (2)", ...) without a race. A move on one volume is
// MoveFileWithProgressW; across volumes everything is copied first, and only then is each source
// item removed that is still the item copied (volume serial, file index, size, write time).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "queue/queueentry.h"

namespace mivex::win {

struct TransferProgress {
    std::atomic<bool> cancel{false};      // set from another thread: the transfer stops
    std::atomic<std::uint64_t> bytes{0};  // bytes written so far, over the whole run
};

struct TransferResult {
    int code = 0;  // a code of platform/resultcodes.h; 0 with `aborted` when cancelled
    bool aborted = false;
    std::string placedAs;  // the name the entry's item got in its destination folder
};

// Carries out one entry; paths in `entry` are UTF-8.
TransferResult DoFileOperation(const QueueEntry& entry, TransferProgress& progress);

}  // namespace mivex::win
