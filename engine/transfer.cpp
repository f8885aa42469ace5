// The transfer engine's entry: the checks made before anything is written (a folder into itself,
// an item onto itself), the destination folders made on the way, and progress reports. The walk
// of a copy, the placing of files, their data and moves have files of their own (transferengine.h
// names them).
#include "engine/transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "engine/identity.h"
#include "engine/keptfolders.h"
#include "engine/sourcecount.h"
#include "engine/transferengine.h"
#include "platform/pathtext.h"
#include "platform/posixio.h"
#include "platform/resultcodes.h"
#include "platform/tempnames.h"

namespace mivex::engine {

namespace {

// What the process is, asked once rather than for every entry: its effective ids, and whether
// /proc/self/fd is there to link unnamed files through.
struct ProcessIds {
    uid_t euid;
    gid_t egid;
    bool noProcFd;
};
const ProcessIds& processIds() {
    static const ProcessIds ids{::geteuid(), ::getegid(), ::access("/proc/self/fd", X_OK) != 0};
    return ids;
}

}  // namespace

// The pool gets its threads once the destination is known (workerCount asks about its disk).
Transfer::Transfer(const TransferRequest& request, TransferMonitor* monitor)
    : mRequest(request),
      mMonitor(monitor),
      mOwnSession(request.session ? std::nullopt : std::make_optional<TransferSession>(false)),
      mSession(request.session ? *request.session : *mOwnSession),
      mEuid(processIds().euid),
      mEgid(processIds().egid),
      mCaller(std::this_thread::get_id()),
      mOptions(request.options),
      mNamedOnly(processIds().noProcFd),
      mPool(
          0, kQueuedPerThread, [this] { tick(); }, kQueuedBytes) {}

TransferOutcome Transfer::run() {
    const std::string source = withoutTrailingSlashes(mRequest.source);
    const std::string destFolder = withoutTrailingSlashes(mRequest.destFolder);
    if (source.empty()) {
        return {kFileNotFound, false};
    }
    if (destFolder.empty()) {
        return {kPathNotFound, false};
    }
    if (source == "/") {
        return {kIntoItself, false};  // every folder lies below the root
    }
    const std::string name = nameOf(source);
    if (name == "." || name == "..") {
        return {kInvalidParameter, false};
    }

    // The folders of the entry, kept for the next entry of the run when it names them too.
    struct Keep {
        KeptFolders& folders;
        KeptFolder src, dest;
        bool move;
        ~Keep() {
            folders.keep(FolderRole::SourceFolder, std::move(src), move);
            folders.keep(FolderRole::Destination, std::move(dest));
        }
    } kept{mSession.folders, mSession.folders.take(FolderRole::SourceFolder, parentOf(source)),
           mSession.folders.take(FolderRole::Destination, destFolder),
           mRequest.kind == TransferKind::Move};
    if (!kept.src.fd.valid()) {
        kept.src.path = parentOf(source);
        kept.src.fd.reset(::open(kept.src.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!kept.src.fd.valid() || ::fstat(kept.src.fd.get(), &kept.src.st) != 0) {
            return {codeFromErrno(errno, true), false};
        }
    }
    const Fd& srcParent = kept.src.fd;
    struct stat srcSt;
    if (::fstatat(srcParent.get(), name.c_str(), &srcSt, AT_SYMLINK_NOFOLLOW) != 0) {
        return {codeFromErrno(errno, true), false};
    }
    if (isSpecial(srcSt.st_mode)) {
        return {kSpecialFile, false};
    }

    // A folder must not go into itself. Judge it on the part of the destination that exists
    // already, before anything is created, by comparing inodes up to the root (links and "..", as
    // the kernel resolves them, cannot hide it).
    std::string existing = destFolder;
    Fd probe;
    // A destination kept from the last entry exists, and is where the walk up starts.
    if (!kept.dest.fd.valid()) {
        for (;;) {
            probe.reset(::open(existing.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (probe.valid() || errno != ENOENT || existing == "/" || existing == ".") {
                break;
            }
            existing = parentOf(existing);
        }
        if (!probe.valid()) {
            return {codeFromErrno(errno), false};
        }
    }
    const int probeFd = kept.dest.fd.valid() ? kept.dest.fd.get() : probe.get();
    if (S_ISDIR(srcSt.st_mode)) {
        Fd walk(::dup(probeFd));
        for (;;) {
            struct stat here;
            if (::fstat(walk.get(), &here) != 0) {
                break;
            }
            if (sameFile(here, srcSt)) {
                return {kIntoItself, false};
            }
            Fd up(::openat(walk.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            struct stat upSt;
            if (!up.valid() || ::fstat(up.get(), &upSt) != 0 || sameFile(upSt, here)) {
                break;
            }
            walk = std::move(up);
        }
        // ".." leads from the root of a bind mount to where it is mounted, not to the folder's
        // real parent, so the walk up misses a destination that is the source's own subfolder
        // mounted elsewhere. Then look for the destination in the source instead: only for one
        // filesystem reached through two mounts, as otherwise the walk up is exact.
        struct stat probeSt;
        Fd srcFolder(::openat(srcParent.get(), name.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (srcFolder.valid() && ::fstat(probeFd, &probeSt) == 0 &&
            probeSt.st_dev == srcSt.st_dev && !onOneMount(srcFolder.get(), probeFd) &&
            treeHoldsFolder(srcFolder.get(), probeSt)) {
            return {kIntoItself, false};
        }
    }
    probe.reset();

    if (!kept.dest.fd.valid()) {
        // Missing destination folders are made without asking.
        if (existing != destFolder) {
            // "." is where a relative destination starts: its first folder is the first to make.
            std::size_t pos = existing == "/" ? 1 : existing == "." ? 0 : existing.size() + 1;
            while (pos <= destFolder.size()) {
                std::size_t next = destFolder.find('/', pos);
                if (next == std::string::npos) {
                    next = destFolder.size();
                }
                const std::string prefix = destFolder.substr(0, next);
                if (next > pos && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
                    const int err = errno;
                    const Fd parent(
                        ::open(parentOf(prefix).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                    return {nameFailure(err, parent.get(), prefix.substr(pos)), false};
                }
                pos = next + 1;
            }
        }
        kept.dest.path = destFolder;
        kept.dest.fd.reset(::open(destFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!kept.dest.fd.valid() || ::fstat(kept.dest.fd.get(), &kept.dest.st) != 0) {
            return {codeFromErrno(errno), false};
        }
    }
    const Fd& dest = kept.dest.fd;
    const struct stat& destSt = kept.dest.st;
    const struct stat& parentSt = kept.src.st;
    mDestSt = destSt;
    if (kept.dest.closeCanFail < 0) {
        kept.dest.closeCanFail = closeCanFail(dest.get()) ? 1 : 0;
    }
    mCloseCanFail = kept.dest.closeCanFail == 1;

    const bool keepBoth = mRequest.rule == CollisionRule::KeepBoth;
    const bool isMove = mRequest.kind == TransferKind::Move;
    if (sameFile(destSt, parentSt) && (isMove || !keepBoth)) {
        // Only a copy that keeps both can land in its own folder; anything else would at best do
        // nothing and at worst truncate the file onto itself.
        return {kSameFile, false};
    }

    // Space held by the temporary files of a killed earlier run is given back before this run
    // needs it. Folders made by this run hold none; merged ones are looked through as they come.
    mSession.temps.remove(dest.get(), destSt);
    // Only the files of a folder go to the pool: one file is copied here, without asking.
    if (S_ISDIR(srcSt.st_mode)) {
        const int threads = workerCount(destSt.st_dev);
        mPool.resize(threads, kQueuedPerThread * static_cast<std::size_t>(threads));
    }

    if (mMonitor && mMonitor->wantsTotals()) {
        const SourceTotals totals = countSource(srcParent.get(), name, srcSt);
        mProgress.filesTotal = totals.files;
        mProgress.bytesTotal = totals.bytes;
    }

    const Placement top = keepBoth ? Placement::KeepBoth : Placement::Replace;
    mOneItem = !S_ISDIR(srcSt.st_mode);
    int code;
    if (isMove && srcSt.st_dev == destSt.st_dev) {
        code = moveItem(srcParent.get(), name, srcSt, dest.get(), top);
    } else if (isMove) {
        code = moveAcross(srcParent.get(), name, srcSt, dest.get());
    } else {
        code = copyTree(srcParent.get(), name, srcSt, dest.get(), top, source, nullptr);
    }
    TransferOutcome outcome{code, mAborted.load()};
    if (mAborted) {
        outcome.code = kSuccess;
    }
    outcome.placedAs = mPlacedAs;
    outcome.filesPlaced = mFilesDone.load();
    outcome.bytesPlaced = mBytesPlaced.load();
    outcome.filesLeft = mFilesLeft.load();
    return outcome;
}

void Transfer::started(const std::string& srcPath) {
    if (!mMonitor) {
        return;
    }
    if (onCaller()) {
        mProgress.currentFile = srcPath;
        report();
    } else {
        std::lock_guard lock(mCurrentLock);
        mCurrentFile = srcPath;
    }
}

void Transfer::report() {
    if (!mMonitor || !onCaller()) {
        return;
    }
    if (mPool.started()) {
        std::lock_guard lock(mCurrentLock);
        if (!mCurrentFile.empty()) {
            mProgress.currentFile = mCurrentFile;
        }
    }
    if (mPool.started() && mProgress.currentFile.empty()) {
        return;  // the pool has not started a file yet
    }
    mProgress.bytesDone = mBytesDone.load(std::memory_order_relaxed);
    mProgress.filesDone = mFilesDone.load(std::memory_order_relaxed);
    mMonitor->progress(mProgress);
}

}  // namespace mivex::engine

namespace mivex {

TransferOutcome transferItem(const TransferRequest& request, TransferMonitor* monitor) {
    return engine::Transfer(request, monitor).run();
}

}  // namespace mivex
