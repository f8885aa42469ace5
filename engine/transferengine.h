// Inside the transfer engine: the one object that carries out one queue entry, shared by the
// engine's files (transfer.cpp: the checks before anything is written and progress; copytree.cpp:
// the walk of a tree being copied; copyfile.cpp: one file or link put in place; copydata.cpp: the
// bytes; moves.cpp: moves). Nothing outside the engine includes this; engine/transfer.h is its
// face.
//
// Threads: the calling thread runs everything but the files of folders, which the pool's threads
// copy (copyBatch and all it calls). Members marked "pool" are touched by those threads, and say
// how; the others belong to the calling thread alone.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/copiedrecord.h"
#include "engine/copyoptions.h"
#include "engine/hardlinks.h"
#include "engine/identity.h"
#include "engine/session.h"
#include "engine/transfer.h"
#include "engine/workpool.h"
#include "engine/xattrs.h"
#include "platform/fd.h"
#include "platform/fileid.h"
#include "platform/filesystems.h"
#include "platform/folderwalk.h"
#include "platform/resultcodes.h"

namespace mivex::engine {

inline bool isSpecial(mode_t mode) {
    return !S_ISREG(mode) && !S_ISDIR(mode) && !S_ISLNK(mode);
}

// Failures that will only repeat for every further item at the destination: stop the walk.
inline bool isFatal(int code) {
    return code == kDiskFull || code == kWriteProtected || code == kIoError;
}

// The code for `err` from making `name` in the destination folder `dir`. FAT, exFAT and NTFS
// take no name that foreignFilesystemsRefuse: their kernel drivers answer EINVAL, FUSE ones EPERM
// (fusefat) or ENOENT (exfat-fuse), which would read as access denied or a missing folder. Said
// as a name the destination cannot hold, the user knows what to rename.
inline int nameFailure(int err, int dir, const std::string& name) {
    if ((err == EINVAL || err == EPERM || err == ENOENT) && foreignFilesystemsRefuse(name) &&
        unixModesOn(dir) != UnixModes::Held) {
        return kInvalidName;
    }
    return codeFromErrno(err);
}

// The code for a search for `name` in `dir` that failed: every candidate taken, or what the
// filesystem said.
inline int claimFailure(int dir, const std::string& name) {
    return errno == EEXIST ? kFileExists : nameFailure(errno, dir, name);
}

// Where a move across filesystems notes what it copied into one folder (copiedrecord.h), so that
// it removes exactly that and nothing that appeared or changed in the source meanwhile.
using CopiedItem = CopiedRecord::Folder;

// How an item takes its name at the destination.
enum class Placement {
    Replace,   // overwrite: replace a file or link, merge into a folder
    Fresh,     // inside a newly made folder: nothing may stand there; never replace
    KeepBoth,  // the entry's own item under "keep both": first free name of the collision series
};

// Before an item is put in place: with Replace, a folder must not be replaced by a file or link
// and a file or link must not be merged into; Fresh and KeepBoth never replace anything.
int checkReplaceable(int dstDir, const std::string& dstName, bool incomingIsDir,
                     bool* occupied = nullptr, struct stat* found = nullptr);

// One item of the entry on its way: where it is read from, where it goes and how it takes its name
// there. The calls that carry an item out take it whole.
struct HeldCopies;

struct ItemWay {
    int srcDir;                  // the source folder, open
    const std::string& name;     // the item's name in it
    int dstDir;                  // the destination folder, open
    const std::string& dstName;  // the name it takes at the destination
    Placement placement;
    const std::string& srcPath;  // its source path, for progress only
    CopiedItem* record;          // where a move across filesystems notes it, or null
    HeldCopies* held = nullptr;  // under verify: where a pool thread holds copies to check at once
};

// Files of a folder go to the pool in batches of this many. The batches waiting in line hold at
// most kQueuedBytes of names, and at most kQueuedPerThread a copying thread (each keeps its
// folder's two descriptors open until it is copied), so the walk never runs far ahead of the
// copying: memory and open folders stay bounded, and grow with the threads, not the tree.
constexpr std::size_t kBatchFiles = 256;
constexpr std::size_t kQueuedBytes = 1u << 20;
constexpr std::size_t kQueuedPerThread = 4;

// One source folder and its copy, open for the batches of its files: they keep it open while
// they wait or are copied, whatever folder the walk has gone on to.
struct BatchFolder {
    BatchFolder(Fd source, Fd destination, CopiedItem* copied)
        : src(std::move(source)), dst(std::move(destination)), record(copied) {}

    Fd src;
    Fd dst;
    CopiedItem* record;  // where a move across filesystems notes what it copied, or null
    // Pool: batches handed over and not yet ended; raised by the walk before it hands one over,
    // lowered (release) by the pool thread as the batch's last act.
    std::atomic<std::size_t> batches{0};
};

// Some files of one folder, copied by a pool thread.
struct Batch {
    std::shared_ptr<BatchFolder> folder;
    std::vector<std::string> names;
    std::string srcPath;  // the folder's source path, for progress only
    Placement placement = Placement::Fresh;
};

// A folder of the tree being copied, from the time its copy is made until everything in it is.
struct CopyFrame {
    struct stat st;  // the source folder: the copy gets its mode and times last
    CopiedItem* record;
    Placement childPlacement;
    std::string srcPath;
    std::vector<DirEntry> rest;  // what is not a plain file, still to copy, in folder order
    std::size_t next = 0;
    std::weak_ptr<BatchFolder> batches;  // alive while a batch of its files waits or runs
};

// A folder the walk has left while batches of its files were still waiting or running, or behind
// one that was: it gets its mode and times when they have ended, folders in the order the walk
// left them, so a folder always after everything below it. The walk thread only.
struct LeftFolder {
    std::shared_ptr<BatchFolder> open;  // its batches' descriptors, or duplicates made to wait
    struct stat st;
};

struct CopyRange;     // where the copy of a range stands (copydata.cpp)
class ReadBackTrail;  // the read-back of a large copy as it is written (verify.h)
struct MergeFrame;    // a folder merged into by a move on one filesystem (moves.cpp)

class Transfer {
public:
    Transfer(const TransferRequest& request, TransferMonitor* monitor);
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    TransferOutcome run();

private:
    // Each returns 0 or a result code; aborting is recorded in mAborted and returns kSuccess.

    // ----- transfer.cpp: the steps of run(), in their order
    int openSourceFolder(KeptFolder& src, const std::string& source, struct stat& srcSt);
    int openDestination(KeptFolder& dest, const std::string& destFolder, int srcParent,
                        const std::string& name, const struct stat& srcSt);
    static bool goesIntoItself(int probeFd, int srcParent, const std::string& name,
                               const struct stat& srcSt);
    static int makeFolders(const std::string& existing, const std::string& destFolder);
    int prepare(KeptFolder& dest, const struct stat& parentSt, const struct stat& srcSt);
    void takeTotals(int srcParent, const std::string& name, const std::string& source,
                    const struct stat& srcSt);
    TransferOutcome carryOut(int srcParent, const std::string& name, const struct stat& srcSt,
                             int dest, const std::string& source);

    // ----- copytree.cpp
    int copyTree(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                 Placement placement, const std::string& srcPath, CopiedItem* record);
    int copyItem(const ItemWay& item, const struct stat& st);
    // Folders are walked with a stack on the heap, never by recursion: depth costs memory only.
    int copyFolder(const ItemWay& item);
    // `item`'s folders are the current ones of `src` and `dst`.
    int enterCopy(FolderPath& src, FolderPath& dst, const ItemWay& item,
                  std::vector<CopyFrame>& stack);
    int makeFolderCopy(int dstDir, const ItemWay& item, std::string& made, bool& merging,
                       struct stat& there);
    int startFolder(int srcFd, int dstFd, const ItemWay& item, const struct stat& st, bool merging,
                    std::vector<CopyFrame>& stack);
    int copyFiles(int srcFd, int dstFd, CopyFrame& frame, std::vector<DirEntry>& entries);
    // Gives the copy `dst` of `src` its access ACL, owner, mode and times, unless aborted.
    void finishFolder(int src, int dst, const struct stat& st, int& first);
    void leaveFolder(const FolderPath& src, const FolderPath& dst, const CopyFrame& frame,
                     std::deque<LeftFolder>& left, std::size_t bound, int& first);
    void finishLeft(std::deque<LeftFolder>& left, std::size_t keep, int& first);
    static std::size_t leftFolderBound(int threads);
    void submitBatch(Batch batch) {
        batch.folder->batches.fetch_add(1, std::memory_order_relaxed);
        std::size_t bytes = sizeof(Batch);
        for (const std::string& name : batch.names) {
            bytes += sizeof(std::string) + name.capacity();
        }
        mPool.submit([this, b = std::move(batch)] { copyBatch(b); }, bytes);
    }
    void copyBatch(const Batch& batch);  // on a pool thread
    void keepFirst(int& first, int code) {
        if (code != kSuccess && first == kSuccess) {
            first = code;
        }
        if (isFatal(code)) {
            mStopped = true;  // a full or read-only destination fails everything after it
        }
    }
    // In the walk of a copy: its failures are noted where the pool's are, as they happen, so that
    // the first one met wins, whichever thread met it.
    void keepFirstOfCopy(int& first, int code) {
        keepFirst(first, code);
        mPool.noteFailure(code);
    }
    void noteFailure(int code) {
        mPool.noteFailure(code);
        if (isFatal(code)) {
            mStopped = true;
        }
    }

    // ----- copyfile.cpp
    int copyFile(const ItemWay& item);
    int copyLink(const ItemWay& item, const struct stat& st);
    int linkToCopy(const HardLinks::Claim& copy, const struct stat& st, int dstDir,
                   const std::string& dstName, Placement placement, CopiedItem* record);
    // Gives a finished unnamed file its name at the destination; `taken`: something was seen
    // standing at the name.
    int placeUnnamed(int fd, int dstDir, const std::string& dstName, Placement placement,
                     bool taken = false);
    // Gives a finished temporary file or link its name at the destination; `placedAs`, when
    // given, gets the name it took.
    int placeTemp(int dstDir, const std::string& temp, const std::string& dstName,
                  Placement placement, std::string* placedAs = nullptr);
    int keepAttributes(int fd, const struct stat& st);
    int keepFileAttributes(int src, int dst, const struct stat& st);
    int copyXattrs(int src, int dst, std::initializer_list<XattrStage> stages);
    // The steps of copyFile, in their order.
    int checkTarget(const ItemWay& item, const struct stat& st, bool& occupied);
    int writeAndPlace(const ItemWay& item, int src, const struct stat& st, bool occupied,
                      HardLinks::Claim& link);
    int createCopy(int dstDir, const std::string& dstName, Fd& dst, std::string& temp);
    // `verifyNow`: the copy is read back and compared before it gets its attributes; `srcPath`
    // names the file when it differs.
    int writeCopy(int src, int dst, const struct stat& st, bool verifyNow,
                  const std::string& srcPath);
    int nameCopy(Fd& dst, const std::string& temp, const ItemWay& item, bool occupied,
                 const struct stat& st);
    // The end of writeAndPlace once the copy is written (`code`): named and counted, or gone.
    int placeCopy(const ItemWay& item, Fd& dst, const std::string& temp, const struct stat& st,
                  bool occupied, HardLinks::Claim& link, int code);

    // ----- updaterule.cpp: what "U" leaves as it is
    // Update: whether the file standing at the destination equals the source (size and
    // modification time, and for a move the bytes), so that it is left as it is; counted and
    // noted as copied then.
    int leaveIfEqual(const ItemWay& item, bool& left);
    // The two modification times are one as finely as the destination's filesystem keeps times.
    bool sameTime(const ItemWay& item, const struct stat& st, const struct stat& there);
    // Whether the files `st` (the source) and `there` (at the destination), as looked at, hold
    // the same bytes: false when either cannot be read to its end or changed meanwhile, or the
    // transfer stops; the copy then says what is wrong.
    bool sameBytes(const ItemWay& item, const struct stat& st, const struct stat& there);
    // fusefat stamps a renamed file with the time of the rename: a file placed by a rename gets
    // the source's time again, by name, where it lost it (else every "U" rerun copies it again).
    void keepTimeByName(int dstDir, const std::string& name, const struct stat& st);

    // ----- heldcopies.cpp: verify for many files at once
    int holdCopy(const ItemWay& item, int src, Fd& dst, const std::string& temp,
                 const struct stat& st, bool occupied);
    void settleHeld(HeldCopies& held);

    // ----- copydata.cpp
    // With a `trail`, a copy written from its start without holes is read back as it grows.
    int copyData(int src, int dst, const struct stat& st, ReadBackTrail* trail = nullptr);
    int copyKnownSize(int src, int dst, const struct stat& st, bool& endChecked,
                      ReadBackTrail* trail);
    int copyToEnd(int src, int dst);
    // With `endChecked`, the range ends at the file's size: the last request asks for one byte
    // more, and a file that gives it is longer than its size (kInUse); `endChecked` then tells
    // whether that request was made.
    int copyRange(int src, int dst, off_t from, off_t length, bool& useReadWrite,
                  bool* endChecked = nullptr, ReadBackTrail* trail = nullptr);
    int copyRangeInKernel(int src, int dst, CopyRange& range, bool& useReadWrite);
    int copyRangeThroughBuffer(int src, int dst, CopyRange& range);

    // ----- moves.cpp
    int moveItem(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                 Placement placement);
    int moveOne(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                Placement placement, bool& merge);
    int moveOnto(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                 const struct stat& there, bool& merge);
    int mergeFolder(int srcDir, const std::string& name, const struct stat& st, int dstDir);
    int enterMerge(FolderPath& src, FolderPath& dst, const std::string& folder,
                   const struct stat& folderSt, std::vector<MergeFrame>& stack);
    int finishMerged(int src, int dst, const MergeFrame& done);
    int moveAcross(int srcDir, const std::string& name, const struct stat& st, int dstDir);
    void movedByRename(const struct stat& st);

    // ----- transfer.cpp: progress and the notes kept on the way
    CopiedItem* noteCopied(CopiedItem* record, const struct stat& st) {
        return record && mCopied ? mCopied->note(record, st) : nullptr;
    }
    void notePlaced(int fd) {
        // An entry of one file or link places nothing that another of its items could meet.
        if (struct stat st; !mOneItem && ::fstat(fd, &st) == 0) {
            mPlaced.note(st);
        }
    }
    void tick() {
        checkAbort();
        report();
    }
    // After each block written: counted for the progress, then held back as long as the run's
    // speed limit asks (a stop ends the wait).
    void paced(std::uint64_t bytes) {
        mBytesDone += bytes;
        report();
        if (mSession.rateLimit) {
            mSession.rateLimit->take(bytes, [this] { return stopped(); });
        }
    }
    // Under a limit, blocks small enough that the pace stays smooth.
    std::size_t blockSize(std::size_t normal) const {
        return mSession.rateLimit ? mSession.rateLimit->blockSize(normal) : normal;
    }
    bool onCaller() const { return std::this_thread::get_id() == mCaller; }
    // The monitor is only ever asked on the calling thread; the pool sees the flag it sets.
    bool checkAbort() {
        if (mMonitor) {
            mMonitor->waitWhilePaused();
        }
        if (!mAborted.load(std::memory_order_relaxed) && mMonitor && onCaller() &&
            mMonitor->abortRequested()) {
            mAborted = true;
        }
        return mAborted.load(std::memory_order_relaxed);
    }
    bool stopped() { return checkAbort() || mStopped.load(std::memory_order_relaxed); }
    void started(const std::string& srcPath);
    void report();
    // Paths are made only for those who show them: the progress, and a copy that verify refused.
    std::string childPath(const std::string& folder, const std::string& name) const {
        return mMonitor || mRequest.verify ? folder + "/" + name : std::string();
    }
    void noteDiffers(const std::string& srcPath) {
        const std::lock_guard lock(mDiffersLock);
        if (mDiffers.empty()) {
            mDiffers = srcPath;
        }
    }

    // Set before the pool starts and never changed: pool threads read them freely.
    const TransferRequest& mRequest;
    TransferMonitor* mMonitor;  // asked on the calling thread only
    // The run's session, or one of this entry's own; the calling thread's alone, but for the
    // collision numbers, which have their own lock.
    std::optional<TransferSession> mOwnSession;
    TransferSession& mSession;
    const uid_t mEuid;
    const gid_t mEgid;
    const std::thread::id mCaller;
    const CopyOptions mOptions;
    struct stat mDestSt {};  // the destination folder, which the walk of the source must not meet
    bool mOneItem = false;   // the entry's item is not a folder
    bool mDestDefaultAcl = false;  // the destination folder has a default ACL (KeptFolder)

    // Pool: each has its own lock inside.
    PlacedItems mPlaced;  // what this entry put where something could already stand
    HardLinks mLinks;     // the first copies of files with several names, for this entry only

    // Pool: atomics.
    // A destination folder of this entry has a default ACL, so a new file may inherit an ACL that
    // its source lacks; until then no file is looked at for one.
    std::atomic<bool> mDefaultAcls{false};
    std::atomic<std::uint64_t> mBytesDone{0};
    std::atomic<std::uint64_t> mFilesDone{0};
    std::atomic<std::uint64_t> mBytesPlaced{0};  // of the files complete and named
    std::mutex mDiffersLock;
    std::string mDiffers;                      // the first file whose copy verify refused
    std::atomic<std::uint64_t> mFilesLeft{0};  // equal files left as they were (Update)
    std::atomic<bool> mAborted{false};         // set on the calling thread only
    std::atomic<bool> mStopped{false};         // a failure that every further file would repeat
    std::atomic<bool> mNamedOnly;  // no unnamed files: no O_TMPFILE, or no /proc to link
    // Closing a copy can report a delayed write error on some destination folder of this entry;
    // only ever set, before the pool gets any file of a folder where it holds.
    std::atomic<bool> mCloseCanFail{true};

    // Pool: under mCurrentLock.
    std::mutex mCurrentLock;
    std::string mCurrentFile;  // set by pool threads, reported by the calling thread

    // Pool: the pointer is set and cleared by the calling thread while the pool is idle; the
    // record it points to has its own lock.
    CopiedRecord* mCopied = nullptr;  // during a move across filesystems

    TransferProgress mProgress;  // the calling thread only: totals and the current file
    // The calling thread only: the source (path and lstat) whose count another thread of the run
    // is taking, for the totals that report() has yet to take from it.
    std::optional<std::pair<std::string, struct stat>> mTotalsPending;
    std::string mPlacedAs;  // the calling thread only: the name the entry's folder took

    // Last, so that it is destroyed first: its threads are joined before anything they use goes.
    WorkPool mPool;
};

}  // namespace mivex::engine
