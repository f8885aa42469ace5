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

// The request's paths as names, before anything is opened: 0, or what is wrong with them.
int checkNames(const std::string& source, const std::string& destFolder) {
    if (source.empty()) {
        return kFileNotFound;
    }
    if (destFolder.empty()) {
        return kPathNotFound;
    }
    if (source == "/") {
        return kIntoItself;  // every folder lies below the root
    }
    const std::string name = nameOf(source);
    return name == "." || name == ".." ? kInvalidParameter : kSuccess;
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
    if (const int code = checkNames(source, destFolder); code != kSuccess) {
        return {code, false};
    }
    const std::string name = nameOf(source);

    // The folders of the entry, kept for the next entry of the run when it names them too.
    struct Keep {
        KeptFolders& folders;
        KeptFolder src, dest;
        bool move;
        ~Keep() {
            folders.keep(FolderRole::SourceFolder, std::move(src), move);
            folders.keep(FolderRole::Destination, std::move(dest));
        }
    } kept{mSession.folders,
           mSession.folders.take(FolderRole::SourceFolder, parentOf(source), !mRequest.inBatch),
           mSession.folders.take(FolderRole::Destination, destFolder, !mRequest.inBatch),
           mRequest.kind == TransferKind::Move};
    struct stat srcSt;
    int code = openSourceFolder(kept.src, source, srcSt);
    if (code == kSuccess) {
        code = openDestination(kept.dest, destFolder, kept.src.fd.get(), name, srcSt);
    }
    if (code == kSuccess) {
        code = prepare(kept.dest, kept.src.st, srcSt);
    }
    if (code != kSuccess) {
        return {code, false};
    }
    if (mMonitor && mMonitor->wantsTotals()) {
        takeTotals(kept.src.fd.get(), name, source, srcSt);
    }
    return carryOut(kept.src.fd.get(), name, srcSt, kept.dest.fd.get(), source);
}

// The entry's totals for its progress. A source the run's count is walking right now is not
// waited for: the copy begins, and report() takes the totals once that count is done.
void Transfer::takeTotals(int srcParent, const std::string& name, const std::string& source,
                          const struct stat& srcSt) {
    std::optional<SourceTotals> totals;
    if (!mRequest.counted) {
        totals = countSource(srcParent, name, srcSt);
    } else if (totals = mRequest.counted->countUnlessCounting(srcParent, name, source, srcSt);
               !totals) {
        mTotalsPending.emplace(source, srcSt);
        return;
    }
    mProgress.filesTotal = totals->files;
    mProgress.bytesTotal = totals->bytes;
}

// Opens the source's folder (unless kept from the last entry) and looks at the item itself.
int Transfer::openSourceFolder(KeptFolder& src, const std::string& source, struct stat& srcSt) {
    if (!src.fd.valid()) {
        src.path = parentOf(source);
        src.fd.reset(::open(src.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!src.fd.valid() || ::fstat(src.fd.get(), &src.st) != 0) {
            return codeFromErrno(errno, true);
        }
    }
    if (mRequest.sourceSt) {
        srcSt = *mRequest.sourceSt;
    } else if (::fstatat(src.fd.get(), nameOf(source).c_str(), &srcSt, AT_SYMLINK_NOFOLLOW) != 0) {
        return codeFromErrno(errno, true);
    }
    return isSpecial(srcSt.st_mode) ? kSpecialFile : kSuccess;
}

// Opens the destination folder (unless kept from the last entry), making what is missing of it,
// once it is sure that a folder would not go into itself.
int Transfer::openDestination(KeptFolder& dest, const std::string& destFolder, int srcParent,
                              const std::string& name, const struct stat& srcSt) {
    // A folder must not go into itself. Judge it on the part of the destination that exists
    // already, before anything is created, by comparing inodes up to the root (links and "..", as
    // the kernel resolves them, cannot hide it).
    std::string existing = destFolder;
    Fd probe;
    // A destination kept from the last entry exists, and is where the walk up starts.
    if (!dest.fd.valid()) {
        for (;;) {
            probe.reset(::open(existing.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (probe.valid() || errno != ENOENT || existing == "/" || existing == ".") {
                break;
            }
            existing = parentOf(existing);
        }
        if (!probe.valid()) {
            return codeFromErrno(errno);
        }
    }
    const int probeFd = dest.fd.valid() ? dest.fd.get() : probe.get();
    if (S_ISDIR(srcSt.st_mode) && goesIntoItself(probeFd, srcParent, name, srcSt)) {
        return kIntoItself;
    }
    probe.reset();
    if (dest.fd.valid()) {
        return kSuccess;
    }
    // Missing destination folders are made without asking.
    if (existing != destFolder) {
        if (const int code = makeFolders(existing, destFolder); code != kSuccess) {
            return code;
        }
    }
    dest.path = destFolder;
    dest.fd.reset(::open(destFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dest.fd.valid() || ::fstat(dest.fd.get(), &dest.st) != 0) {
        return codeFromErrno(errno);
    }
    return kSuccess;
}

// Whether the destination `probeFd` (the part of it that exists) lies in the source folder.
bool Transfer::goesIntoItself(int probeFd, int srcParent, const std::string& name,
                              const struct stat& srcSt) {
    Fd walk(::dup(probeFd));
    for (;;) {
        struct stat here;
        if (::fstat(walk.get(), &here) != 0) {
            break;
        }
        if (sameFile(here, srcSt)) {
            return true;
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
    Fd srcFolder(
        ::openat(srcParent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return srcFolder.valid() && ::fstat(probeFd, &probeSt) == 0 && probeSt.st_dev == srcSt.st_dev &&
           !onOneMount(srcFolder.get(), probeFd) && treeHoldsFolder(srcFolder.get(), probeSt);
}

// Makes the folders of `destFolder` below `existing`, the part of it that exists.
int Transfer::makeFolders(const std::string& existing, const std::string& destFolder) {
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
            const Fd parent(::open(parentOf(prefix).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            return nameFailure(err, parent.get(), prefix.substr(pos));
        }
        pos = next + 1;
    }
    return kSuccess;
}

// What the entry learns of its destination before it writes, and the last refusal.
int Transfer::prepare(KeptFolder& dest, const struct stat& parentSt, const struct stat& srcSt) {
    const struct stat& destSt = dest.st;
    mDestSt = destSt;
    if (dest.closeCanFail < 0) {
        dest.closeCanFail = closeCanFail(dest.fd.get()) ? 1 : 0;
    }
    mCloseCanFail = dest.closeCanFail == 1;
    if (dest.defaultAcl < 0) {
        dest.defaultAcl = hasDefaultAcl(dest.fd.get()) ? 1 : 0;
    }
    mDestDefaultAcl = dest.defaultAcl == 1;

    const bool keepBoth = mRequest.rule == CollisionRule::KeepBoth;
    const bool isMove = mRequest.kind == TransferKind::Move;
    if (sameFile(destSt, parentSt) && (isMove || !keepBoth)) {
        // Only a copy that keeps both can land in its own folder; anything else would at best do
        // nothing and at worst truncate the file onto itself.
        return kSameFile;
    }

    // Space held by the temporary files of a killed earlier run is given back before this run
    // needs it. Folders made by this run hold none; merged ones are looked through as they come.
    mSession.temps.remove(dest.fd.get(), destSt);
    // Only the files of a folder go to the pool: one file is copied here, without asking.
    if (S_ISDIR(srcSt.st_mode)) {
        const int threads = workerCount(destSt.st_dev);
        mPool.resize(threads, kQueuedPerThread * static_cast<std::size_t>(threads));
    }
    return kSuccess;
}

// Moves or copies the item, and says how it went.
TransferOutcome Transfer::carryOut(int srcParent, const std::string& name, const struct stat& srcSt,
                                   int dest, const std::string& source) {
    const bool isMove = mRequest.kind == TransferKind::Move;
    const Placement top =
        mRequest.rule == CollisionRule::KeepBoth ? Placement::KeepBoth : Placement::Replace;
    mOneItem = !S_ISDIR(srcSt.st_mode);
    int code;
    if (isMove && srcSt.st_dev == mDestSt.st_dev) {
        code = moveItem(srcParent, name, srcSt, dest, top);
    } else if (isMove) {
        code = moveAcross(srcParent, name, srcSt, dest);
    } else {
        code = copyTree(srcParent, name, srcSt, dest, top, source, nullptr);
    }
    TransferOutcome outcome{code, mAborted.load()};
    if (mAborted) {
        outcome.code = kSuccess;
    }
    outcome.placedAs = mPlacedAs;
    outcome.filesPlaced = mFilesDone.load();
    outcome.bytesPlaced = mBytesPlaced.load();
    outcome.filesLeft = mFilesLeft.load();
    outcome.differs = mDiffers;
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
    if (mTotalsPending) {
        if (const auto totals =
                mRequest.counted->counted(mTotalsPending->first, mTotalsPending->second)) {
            mProgress.filesTotal = totals->files;
            mProgress.bytesTotal = totals->bytes;
            mTotalsPending.reset();
        }
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
