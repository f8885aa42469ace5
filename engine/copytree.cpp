// The walk of a tree being copied: folders made (or merged into) on the way down, their files
// handed to the pool in batches, everything else copied by the walking thread in folder order;
// each folder given its mode and times once everything in it is written, while the walk goes on.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/heldcopies.h"
#include "engine/nameclaim.h"
#include "engine/transferengine.h"
#include "platform/posixio.h"
#include "platform/tempnames.h"

namespace mivex::engine {

// Copies an item and waits for the pool to finish what the walk gave it. The first failure wins,
// whichever thread met it.
int Transfer::copyTree(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                       Placement placement, const std::string& srcPath, CopiedItem* record) {
    mPool.clearFailure();
    mDefaultAcls = mDestDefaultAcl;  // `dstDir` is always the entry's destination folder
    // A folder an earlier attempt began is merged into, whatever the rule: it is this entry's own.
    const bool resume = S_ISDIR(st.st_mode) && !mRequest.continueInto.empty();
    const std::string& dstName = resume ? mRequest.continueInto : name;
    int code = copyItem(
        {srcDir, name, dstDir, dstName, resume ? Placement::Replace : placement, srcPath, record},
        st);
    mPool.drain();
    mPool.noteFailure(code);
    report();
    return mPool.failure();
}

void Transfer::copyBatch(const Batch& batch) {
    BatchFolder& folder = *batch.folder;
    HeldCopies held;  // verify: the copies checked together
    for (const std::string& name : batch.names) {
        if (stopped()) {
            break;
        }
        const std::string path = childPath(batch.srcPath, name);
        noteFailure(copyFile({folder.src.get(), name, folder.dst.get(), name, batch.placement, path,
                              folder.record, &held}));
    }
    settleHeld(held);
    // Last: from here the walk may give the folder its mode and times.
    folder.batches.fetch_sub(1, std::memory_order_release);
}

int Transfer::copyItem(const ItemWay& item, const struct stat& st) {
    if (checkAbort()) {
        return kSuccess;
    }
    if (S_ISDIR(st.st_mode)) {
        return copyFolder(item);
    }
    if (S_ISLNK(st.st_mode)) {
        return copyLink(item, st);
    }
    if (S_ISREG(st.st_mode)) {
        return copyFile(item);
    }
    return kSpecialFile;  // never opened: a FIFO would block, a device could have side effects
}

int Transfer::copyFolder(const ItemWay& item) {
    FolderPath src(item.srcDir);
    FolderPath dst(item.dstDir);
    std::vector<CopyFrame> stack;
    std::deque<LeftFolder> left;
    const std::size_t leftBound = leftFolderBound(mPool.threads());
    int first = kSuccess;
    keepFirstOfCopy(first, enterCopy(src, dst, item, stack));
    if (stack.empty()) {
        return first;
    }
    // One unreadable or special item fails the entry, but the rest is still copied.
    while (!stack.empty()) {
        CopyFrame& top = stack.back();
        if (top.next < top.rest.size() && !stopped()) {
            // Copied out: entering a folder grows the stack and moves the frames.
            const DirEntry e = top.rest[top.next++];
            const Placement inside = top.childPlacement;
            CopiedItem* const parent = top.record;
            const std::string path = childPath(top.srcPath, e.name);
            const ItemWay way{src.current(), e.name, dst.current(), e.name, inside, path, parent};
            struct stat st;
            if (e.type == DT_DIR) {
                keepFirstOfCopy(first, enterCopy(src, dst, way, stack));
            } else if (::fstatat(src.current(), e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                keepFirstOfCopy(first, codeFromErrno(errno, true));
            } else if (S_ISDIR(st.st_mode)) {
                keepFirstOfCopy(first, enterCopy(src, dst, way, stack));
            } else {
                keepFirstOfCopy(first, copyItem(way, st));
            }
            continue;
        }
        leaveFolder(src, dst, top, left, leftBound, first);
        stack.pop_back();
        if (src.leave() != 0 || dst.leave() != 0) {
            // A folder on the way back up was moved meanwhile: the walk cannot go on safely.
            keepFirstOfCopy(first, kInUse);
            break;
        }
    }
    finishLeft(left, 0, first);
    return first;
}

// How many folders the walk may have left unfinished. Each keeps two descriptors: as many as the
// pool's line and threads can be busy with, within an eighth of what this process may open, so
// that a low limit still leaves room for the walk and the files being copied.
std::size_t Transfer::leftFolderBound(int threads) {
    std::size_t bound = (kQueuedPerThread + 1) * static_cast<std::size_t>(threads);
    if (struct rlimit limit;
        ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        bound = std::min<std::size_t>(bound, limit.rlim_cur / 8);
    }
    return std::max<std::size_t>(bound, 1);
}

// The walk leaves the folder of `frame` (src and dst still in it). Nothing more is made in it, but
// batches of its files may still run: rather than wait for them, the walk goes on and the folder
// is finished later, in turn, with the descriptors its batches hold.
void Transfer::leaveFolder(const FolderPath& src, const FolderPath& dst, const CopyFrame& frame,
                           std::deque<LeftFolder>& left, std::size_t bound, int& first) {
    finishLeft(left, bound - 1, first);
    std::shared_ptr<BatchFolder> open = frame.batches.lock();
    if (left.empty() && (!open || open->batches.load(std::memory_order_acquire) == 0)) {
        finishFolder(src.current(), dst.current(), frame.st, first);
        return;
    }
    if (!open) {
        // Nothing of its own to wait for, but folders below it to finish first.
        open =
            std::make_shared<BatchFolder>(Fd(::fcntl(src.current(), F_DUPFD_CLOEXEC, 0)),
                                          Fd(::fcntl(dst.current(), F_DUPFD_CLOEXEC, 0)), nullptr);
        if (!open->src.valid() || !open->dst.valid()) {
            finishLeft(left, 0, first);  // out of descriptors: wait instead
            finishFolder(src.current(), dst.current(), frame.st, first);
            return;
        }
    }
    left.push_back({std::move(open), frame.st});
}

// Finishes the left folders in the order they were left: each whose batches have ended, and,
// waiting for the oldest, until at most `keep` are left.
void Transfer::finishLeft(std::deque<LeftFolder>& left, std::size_t keep, int& first) {
    while (!left.empty()) {
        const BatchFolder& open = *left.front().open;
        const auto ended = [&open] { return open.batches.load(std::memory_order_acquire) == 0; };
        if (!ended()) {
            if (left.size() <= keep) {
                return;
            }
            mPool.waitUntil(ended);
        }
        finishFolder(open.src.get(), open.dst.get(), left.front().st, first);
        left.pop_front();
    }
}

// Everything in the folder is written: now its mode and times, which nothing written into it
// afterwards would touch again.
void Transfer::finishFolder(int src, int dst, const struct stat& st, int& first) {
    if (mAborted) {
        return;
    }
    // The mode is given even when an attribute failed, so the folder is not left at 0700.
    const int xattrCode = copyXattrs(src, dst, {XattrStage::FolderFilled});
    const int modeCode = keepAttributes(dst, st);
    keepFirstOfCopy(first, xattrCode != kSuccess ? xattrCode : modeCode);
}

// Opens the source folder `name`, makes (or, merging, finds) its copy, starts its files and puts
// the rest on the stack. Nothing is pushed when the copy could not be made.
int Transfer::enterCopy(FolderPath& src, FolderPath& dst, const ItemWay& item,
                        std::vector<CopyFrame>& stack) {
    if (checkAbort()) {
        return kSuccess;
    }
    struct stat st;
    if (const int entered = src.enter(item.name, &st); entered != 0) {
        return entered == FolderPath::kLoop ? kIntoItself : codeFromErrno(errno, true);
    }
    // The source holds the destination through a mount inside it that no check before the walk
    // could see: going on would copy the copy, again and again.
    if (sameFile(st, mDestSt)) {
        src.leave();
        return kIntoItself;
    }
    std::string made = item.dstName;
    bool merging = false;
    struct stat there {};  // what stood at the name, when merging
    int code = makeFolderCopy(dst.current(), item, made, merging, there);
    if (code == kSuccess && stack.empty()) {
        mPlacedAs = made;  // the entry's own folder: what an unfinished entry leaves is in it
        if (mRequest.onPlaced) {
            mRequest.onPlaced(made);  // a journal keeps it before anything is copied into it
        }
    }
    if (code == kSuccess && dst.enter(made) != 0) {
        code = errno == ELOOP || errno == ENOTDIR ? kAlreadyExists : codeFromErrno(errno);
    }
    if (code != kSuccess) {
        src.leave();
        return code;
    }
    if (merging) {
        mSession.temps.remove(dst.current(), there);
        // A folder merged into may be where another filesystem is mounted.
        if (there.st_dev != mDestSt.st_dev && !mCloseCanFail && closeCanFail(dst.current())) {
            mCloseCanFail = true;
        }
    }
    if (const int xattrs = copyXattrs(src.current(), dst.current(), {XattrStage::FolderOpened});
        xattrs != kSuccess) {
        dst.leave();
        src.leave();
        if (!merging) {
            ::unlinkat(dst.current(), made.c_str(), AT_REMOVEDIR);  // still empty, would stay 0700
        }
        return xattrs;
    }
    if (item.placement == Placement::Replace && !merging) {
        notePlaced(dst.current());
    }
    return startFolder(src.current(), dst.current(), item, st, merging, stack);
}

// Made private (0700) and given its real mode only when filled, so that a read-only source
// folder can still be filled and nobody else looks into it half made. `made`: the name it took;
// `merging`: it stood there already (`there`), and is merged into.
int Transfer::makeFolderCopy(int dstDir, const ItemWay& item, std::string& made, bool& merging,
                             struct stat& there) {
    const std::string& dstName = item.dstName;
    if (item.placement == Placement::KeepBoth) {
        const auto make = [&](const std::string& candidate) {
            return ::mkdirat(dstDir, candidate.c_str(), 0700);
        };
        if (claimCollisionName(dstDir, dstName, true, make, &mSession.numbers, &made) != 0) {
            return claimFailure(dstDir, dstName);
        }
        return kSuccess;
    }
    if (::mkdirat(dstDir, made.c_str(), 0700) == 0) {
        return kSuccess;
    }
    if (errno != EEXIST) {
        return nameFailure(errno, dstDir, made);
    }
    if (item.placement == Placement::Fresh) {
        return kAlreadyExists;
    }
    // Overwrite: merge into the folder of that name, but never into what a link points to.
    merging = true;
    int code = checkReplaceable(dstDir, made, true, nullptr, &there);
    // A folder this entry made a moment ago under a name that differs only in case: two
    // source folders would merge into one, and the second's files replace the first's.
    if (code == kSuccess && mPlaced.holdsName(dstDir, made)) {
        code = kFileExists;
    }
    return code;
}

// The copy of the folder is open: its files go first, the rest waits on the stack.
int Transfer::startFolder(int srcFd, int dstFd, const ItemWay& item, const struct stat& st,
                          bool merging, std::vector<CopyFrame>& stack) {
    // Only a folder that was there already can hold something to replace; in one made just now
    // every name is claimed without replacing, which spares a look before each file.
    CopyFrame frame{st,
                    noteCopied(item.record, st),
                    merging ? Placement::Replace : Placement::Fresh,
                    item.srcPath,
                    {},
                    0,
                    {}};
    std::vector<DirEntry> entries;
    int code;
    if (const int err = readFolder(srcFd, entries); err != 0) {
        code = codeFromErrno(err, true);
    } else {
        if (mCopied) {
            mCopied->expect(frame.record, entries.size());
        }
        code = copyFiles(srcFd, dstFd, frame, entries);
    }
    stack.push_back(std::move(frame));
    return code;
}

// The files first: with a pool they are handed over in batches, so that it has work while the
// walk goes on into the subfolders. What is not a plain file stays in the frame for the walk.
int Transfer::copyFiles(int srcFd, int dstFd, CopyFrame& frame, std::vector<DirEntry>& entries) {
    int first = kSuccess;
    std::shared_ptr<BatchFolder> folder;
    Batch batch;
    for (DirEntry& e : entries) {
        if (e.type != DT_REG) {
            frame.rest.push_back(std::move(e));
            continue;
        }
        if (stopped()) {
            continue;
        }
        if (mPool.threads() == 0) {
            const std::string path = childPath(frame.srcPath, e.name);
            keepFirst(first, copyFile({srcFd, e.name, dstFd, e.name, frame.childPlacement, path,
                                       frame.record}));
            continue;
        }
        if (!folder) {
            folder =
                std::make_shared<BatchFolder>(Fd(::fcntl(srcFd, F_DUPFD_CLOEXEC, 0)),
                                              Fd(::fcntl(dstFd, F_DUPFD_CLOEXEC, 0)), frame.record);
            if (!folder->src.valid() || !folder->dst.valid()) {
                keepFirst(first, codeFromErrno(errno));
                return first;
            }
            frame.batches = folder;
            batch = Batch{folder, {}, frame.srcPath, frame.childPlacement};
        }
        batch.names.push_back(std::move(e.name));
        if (batch.names.size() == kBatchFiles) {
            submitBatch(
                std::exchange(batch, Batch{folder, {}, frame.srcPath, frame.childPlacement}));
        }
    }
    if (!batch.names.empty() && !stopped()) {
        submitBatch(std::move(batch));
    }
    return first;
}

}  // namespace mivex::engine
