// The transfer engine: carries out one queue entry on the real filesystem.
//
// One call moves or copies one source (a file, a symbolic link, or a folder with everything below
// it) into one destination folder. The rules it keeps, in short:
//   - every file is written without a name (O_TMPFILE) in its destination folder and named only
//     when complete; where the filesystem has no unnamed files it is written under a hidden
//     temporary name beside its target and renamed into place; either way no partial file ever
//     sits under a real name;
//   - overwrite replaces a file atomically and merges a folder into a folder of the same name;
//     keep-both gives the top item the first free "name - Copy", "name - Copy (2)", ... claimed
//     without a race, and never replaces anything;
//   - a move on one filesystem is a rename; across filesystems it copies, makes the copy durable
//     and only then removes exactly what it copied;
//   - links are copied as links, special files are never opened, a folder never goes into itself;
//   - an item never replaces the file it is or links to, two source names never end in one file
//     (a destination that ignores case), and a move removes a source file only while it is
//     unchanged since its copy; a mode that cannot be set fails the item, but on a filesystem
//     that holds no modes (FAT, exFAT, NTFS) the data is the copy;
//   - update replaces as overwrite does, but a file whose size and modification time (at the
//     destination's time grain, platform/timegrain.h) equal the incoming one's is left
//     untouched; a move across filesystems compares such a file's bytes first, and removes the
//     source only when they are its bytes, else replaces the file;
//   - a copy keeps what cp -a keeps: hard links inside the entry, extended attributes, ACLs and
//     capabilities too (copyoptions.h holds the rules);
//   - the tree is walked and written with descriptor-relative calls and O_NOFOLLOW below the two
//     folders named by the entry, so a folder swapped for a link cannot redirect a write or delete.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "engine/copyoptions.h"

namespace mivex {

enum class TransferKind { Copy, Move };
// Update overwrites like Overwrite, but leaves a file alone whose size and modification time
// equal the incoming file's (a rerun of a list copies only what changed); a move leaves it only
// when its bytes are the source's too.
enum class CollisionRule { Overwrite, KeepBoth, Update };

struct TransferSession;
class CountedSources;

struct TransferRequest {
    TransferRequest(std::string from = {}, std::string to = {},
                    TransferKind how = TransferKind::Copy,
                    CollisionRule onCollision = CollisionRule::KeepBoth)
        : source(std::move(from)), destFolder(std::move(to)), kind(how), rule(onCollision) {}

    std::string source;      // a file, link or folder; a trailing "/" is ignored
    std::string destFolder;  // created when missing
    TransferKind kind = TransferKind::Copy;
    CollisionRule rule = CollisionRule::KeepBoth;
    CopyOptions options;  // what the copy keeps (copyoptions.h)
    // The run this entry belongs to (session.h), or null for an entry carried out alone.
    TransferSession* session = nullptr;
    // The name an earlier, unfinished attempt at this entry gave its folder at the destination
    // (TransferOutcome::placedAs): the folder is then merged into that copy instead of a new one
    // being claimed, so that a retry never leaves a second partial copy beside the first.
    std::string continueInto{};
    // Each file copied is made durable, read back from the destination's storage (not the page
    // cache) and compared with its source before it gets its name; one that differs is thrown
    // away and fails the entry (kCopyDiffers), so nothing it would replace is lost.
    bool verify = false;
    // Told, on the calling thread, the name the entry's folder takes at the destination as soon
    // as it has it: a run's journal keeps it, so that a run cut off carries on in that folder.
    std::function<void(const std::string&)> onPlaced{};
    // The run's counts of its sources (sourcecount.h), shared with whoever counted them before the
    // entry, such as the check before the run and the whole run's count: a monitor that wants
    // totals gets them from there rather than from another walk of the source. Null: counted here.
    CountedSources* counted = nullptr;
    // The source's lstat, taken by the caller just before (by its path); null: taken here. Only
    // the kind of item is read from it: a file is looked at again once it is open.
    const struct stat* sourceSt = nullptr;
    // The entry belongs to a batch of entries of one source folder and one destination that the
    // session's last entry began: the folders it kept are taken without a look at their paths,
    // as a folder entry's files share their folders (keptfolders.h).
    bool inBatch = false;
};

struct TransferProgress {
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;  // 0 when the monitor did not ask for totals
    std::uint64_t filesDone = 0;
    std::uint64_t filesTotal = 0;
    std::string currentFile;  // source path of the file being written
};

// Watches one transfer. Called on the thread that runs the transfer.
class TransferMonitor {
public:
    virtual ~TransferMonitor() = default;
    // Totals cost a walk of the source before the work starts; only progress displays want them.
    virtual bool wantsTotals() const { return false; }
    // Called when a file starts and after every block written.
    virtual void progress(const TransferProgress&) {}
    // Polled before every file and every block; once true the transfer stops there.
    virtual bool abortRequested() { return false; }
    // Called on every thread of the transfer, the work pool's too, before every file and every
    // block: blocks while the run is paused, and returns once it resumes or is to stop. It must
    // not wait on a lock that is held across I/O.
    virtual void waitWhilePaused() {}
};

struct TransferOutcome {
    int code = 0;          // 0 on success, else a ResultCode
    bool aborted = false;  // stopped on request; code is then 0
    // The name a folder took at the destination (its own, or the claimed "name - Copy (n)"), ""
    // for a file or link, which never stays half written; with the files (and links) complete in
    // it and their bytes, for telling what an unfinished entry left behind.
    std::string placedAs{};
    std::uint64_t filesPlaced = 0;
    std::uint64_t bytesPlaced = 0;
    std::uint64_t filesLeft = 0;  // files left as they were under Update: equal already
    std::string differs{};        // kCopyDiffers: the source path of the file whose copy differed
};

TransferOutcome transferItem(const TransferRequest& request, TransferMonitor* monitor = nullptr);

// The name the n-th collision gives an item: n = 1 gives "report - Copy.doc", n = 2
// "report - Copy (2).doc". Folders, and names without an extension, get no extension part.
std::string collisionName(const std::string& name, bool isFolder, int n);

}  // namespace mivex
