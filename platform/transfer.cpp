// The transfer engine: one queue entry carried out on the real filesystem.
//
// Below the source's parent folder and the destination folder everything is reached through open
// folder descriptors (openat, mkdirat, renameat2, unlinkat with O_NOFOLLOW / AT_SYMLINK_NOFOLLOW),
// so a folder swapped for a link while the tree is walked cannot redirect a write or a delete.
//
// Over 500 lines for now: the walk, the checks before placing, the data copy, moves and the copy
// pool still share one class. Name claiming, temporary names, the folder walk's tools, attributes
// and hard links already have files of their own; the rest is to follow, one room at a time.
#include "platform/transfer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <initializer_list>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/copyoptions.h"
#include "platform/folderwalk.h"
#include "platform/hardlinks.h"
#include "platform/identity.h"
#include "platform/nameclaim.h"
#include "platform/resultcodes.h"
#include "platform/tempnames.h"
#include "platform/xattrs.h"

namespace mivex {

namespace {

// copy_file_range is asked for at most this much per call, so progress and abort stay prompt; the
// kernel caps one call below 2 GiB anyway.
constexpr std::size_t kRangeChunk = 4u << 20;
constexpr std::size_t kBufferSize = 256u << 10;  // the plain read/write fallback
// Files of a folder go to the pool in batches of this many; a few batches wait in line at most,
// so the walk never runs far ahead of the copying (memory and open folders stay bounded).
constexpr std::size_t kBatchFiles = 256;
constexpr std::size_t kQueuedBatches = 8;
// How often the calling thread reports progress and polls for an abort while the pool works.
constexpr auto kTick = std::chrono::milliseconds(20);

bool isSpecial(mode_t mode) {
    return !S_ISREG(mode) && !S_ISDIR(mode) && !S_ISLNK(mode);
}

bool sameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Failures that will only repeat for every further item at the destination: stop the walk.
bool isFatal(int code) {
    return code == kDiskFull || code == kWriteProtected || code == kIoError;
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string stripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The code for a name search that failed: every candidate taken, or what the filesystem said.
int claimFailure() {
    return errno == EEXIST ? kFileExists : codeFromErrno(errno);
}

// What was copied, so that a move across filesystems removes exactly that and nothing that
// appeared in the source meanwhile.
struct CopiedItem {
    std::string name;
    dev_t dev = 0;
    ino_t ino = 0;
    bool isDir = false;
    CopiedState state;                  // a file or link only
    std::vector<CopiedItem*> children;  // items of the store
};
// The items of one move across filesystems. A deque keeps them in place as it grows, and frees
// them without recursing however deep the tree.
using CopiedStore = std::deque<CopiedItem>;

// How an item takes its name at the destination.
enum class Placement {
    Replace,   // overwrite: replace a file or link, merge into a folder
    Fresh,     // inside a newly made folder: nothing may stand there; never replace
    KeepBoth,  // the entry's own item under "keep both": first free name of the collision series
};

// How many threads copy the files of a folder tree besides the one that walks it. For many small
// files the work is system calls, which two cores do nearly twice as fast; MIVEX_WORKERS overrides
// the choice (0 copies everything on the calling thread).
int workerCount() {
    if (const char* env = std::getenv("MIVEX_WORKERS"); env && *env) {
        return std::clamp(std::atoi(env), 0, 16);
    }
    return std::thread::hardware_concurrency() >= 2 ? 2 : 0;
}

// One source folder and its copy, open for the batches of its files: they keep it open while
// they wait or are copied, whatever folder the walk has gone on to.
struct BatchFolder {
    Fd src;
    Fd dst;
    CopiedItem* record;  // where a move across filesystems notes what it copied, or null
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

// A folder being merged into the folder of that name by a move on one filesystem.
struct MergeFrame {
    std::string name;
    struct stat st;
    std::vector<std::string> names;
    std::size_t next = 0;
    int first = 0;  // the first failure among its items: then it stays, with what is left
};

class Transfer {
public:
    Transfer(const TransferRequest& request, TransferMonitor* monitor)
        : mRequest(request),
          mMonitor(monitor),
          mEuid(::geteuid()),
          mEgid(::getegid()),
          mCaller(std::this_thread::get_id()),
          mWorkers(workerCount()),
          mNamedOnly(::access("/proc/self/fd", X_OK) != 0) {}
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    TransferOutcome run();

private:
    // Each returns 0 or a result code; aborting is recorded in mAborted and returns kSuccess.
    int copyTree(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                 Placement placement, const std::string& srcPath, CopiedItem* record);
    int copyItem(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                 const std::string& dstName, Placement placement, const std::string& srcPath,
                 CopiedItem* record);
    int copyFile(int srcDir, const std::string& name, int dstDir, const std::string& dstName,
                 Placement placement, const std::string& srcPath, CopiedItem* record);
    int copyLink(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                 const std::string& dstName, Placement placement, CopiedItem* record);
    // Folders are walked with a stack on the heap, never by recursion: depth costs memory only.
    int copyFolder(int srcDir, const std::string& name, int dstDir, const std::string& dstName,
                   Placement placement, const std::string& srcPath, CopiedItem* record);
    int enterCopy(FolderPath& src, FolderPath& dst, const std::string& name,
                  const std::string& dstName, Placement placement, const std::string& srcPath,
                  CopiedItem* record, std::vector<CopyFrame>& stack);
    int copyFiles(int srcFd, int dstFd, CopyFrame& frame, std::vector<DirEntry>& entries);
    void waitForBatches(const std::weak_ptr<BatchFolder>& folder);
    void keepFirst(int& first, int code) {
        if (code != kSuccess && first == kSuccess) {
            first = code;
        }
        if (isFatal(code)) {
            mStopped = true;  // a full or read-only destination fails everything after it
        }
    }
    int copyData(int src, int dst, const struct stat& st);
    int copyKnownSize(int src, int dst, const struct stat& st, bool& endChecked);
    int copyToEnd(int src, int dst);
    // With `endChecked`, the range ends at the file's size: the last request asks for one byte
    // more, and a file that gives it is longer than its size (kInUse); `endChecked` then tells
    // whether that request was made.
    int copyRange(int src, int dst, off_t from, off_t length, bool& useReadWrite,
                  bool* endChecked = nullptr);
    // Gives a finished unnamed file its name at the destination.
    int placeUnnamed(int fd, int dstDir, const std::string& dstName, Placement placement);
    // Gives a finished temporary file or link its name at the destination.
    int placeTemp(int dstDir, const std::string& temp, const std::string& dstName,
                  Placement placement);
    int moveItem(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                 Placement placement);
    int moveOne(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                Placement placement, bool& merge);
    int mergeFolder(int srcDir, const std::string& name, const struct stat& st, int dstDir);
    int moveAcross(int srcDir, const std::string& name, const struct stat& st, int dstDir);
    int removeCopied(int parent, const CopiedItem& item);
    int keepAttributes(int fd, const struct stat& st);
    int keepFileAttributes(int src, int dst, const struct stat& st);
    int copyXattrs(int src, int dst, std::initializer_list<XattrStage> stages);
    int linkToCopy(const HardLinks::Claim& copy, const std::string& name, const struct stat& st,
                   int dstDir, const std::string& dstName, Placement placement, CopiedItem* record);
    void countTotals(int dir, const std::string& name, const struct stat& st);
    CopiedItem* noteCopied(CopiedItem* record, const std::string& name, const struct stat& st);
    void notePlaced(int fd) {
        if (struct stat st; ::fstat(fd, &st) == 0) {
            mPlaced.note(st);
        }
    }

    // The pool: started with the first batch, drained by copyTree, joined by the destructor.
    void submit(Batch batch);
    void drainPool();
    void workLoop();
    void copyBatch(const Batch& batch);
    void noteFailure(int code);
    void tick() {
        checkAbort();
        report();
    }

    bool onCaller() const { return std::this_thread::get_id() == mCaller; }
    // The monitor is only ever asked on the calling thread; the pool sees the flag it sets.
    bool checkAbort() {
        if (!mAborted.load(std::memory_order_relaxed) && mMonitor && onCaller() &&
            mMonitor->abortRequested()) {
            mAborted = true;
        }
        return mAborted.load(std::memory_order_relaxed);
    }
    bool stopped() { return checkAbort() || mStopped.load(std::memory_order_relaxed); }
    void started(const std::string& srcPath);
    void report();
    std::string childPath(const std::string& folder, const std::string& name) const {
        return mMonitor ? folder + "/" + name : std::string();
    }

    const TransferRequest& mRequest;
    TransferMonitor* mMonitor;
    uid_t mEuid;
    gid_t mEgid;
    std::thread::id mCaller;
    const int mWorkers;
    PlacedItems mPlaced;     // what this entry put where something could already stand
    struct stat mDestSt {};  // the destination folder, which the walk of the source must not meet
    const CopyOptions mOptions;
    HardLinks mLinks;  // the first copies of files with several names, for this entry only
    // A destination folder of this entry has a default ACL, so a new file may inherit an ACL that
    // its source lacks; until then no file is looked at for one.
    std::atomic<bool> mDefaultAcls{false};

    TransferProgress mProgress;  // totals and the current file, as last reported
    std::atomic<std::uint64_t> mBytesDone{0};
    std::atomic<std::uint64_t> mFilesDone{0};
    std::atomic<bool> mAborted{false};
    std::atomic<bool> mStopped{false};  // a failure that every further file would repeat
    std::atomic<bool> mNamedOnly;       // no unnamed files: no O_TMPFILE, or no /proc to link
    std::atomic<int> mPoolFailure{0};   // the first failure of a file copied by the pool

    std::mutex mCurrentLock;
    std::string mCurrentFile;  // set by pool threads, reported by the calling thread
    std::mutex mRecordLock;
    CopiedStore* mCopied = nullptr;  // during a move across filesystems

    std::mutex mPoolLock;
    std::condition_variable mWorkReady;
    std::condition_variable mWorkDone;
    std::deque<Batch> mBatches;
    int mBusy = 0;
    bool mClosing = false;
    std::vector<std::thread> mThreads;
};

// ----- the walk

TransferOutcome Transfer::run() {
    const std::string source = stripTrailingSlashes(mRequest.source);
    const std::string destFolder = stripTrailingSlashes(mRequest.destFolder);
    if (source.empty()) {
        return {kFileNotFound, false};
    }
    if (destFolder.empty()) {
        return {kPathNotFound, false};
    }
    if (source == "/") {
        return {kIntoItself, false};  // every folder lies below the root
    }
    const std::string name = source.substr(source.find_last_of('/') + 1);
    if (name == "." || name == "..") {
        return {kInvalidParameter, false};
    }

    Fd srcParent(::open(parentOf(source).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!srcParent.valid()) {
        return {codeFromErrno(errno, true), false};
    }
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
    if (S_ISDIR(srcSt.st_mode)) {
        Fd walk(::dup(probe.get()));
        for (;;) {
            struct stat here;
            if (::fstat(walk.get(), &here) != 0) {
                break;
            }
            if (sameInode(here, srcSt)) {
                return {kIntoItself, false};
            }
            Fd up(::openat(walk.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            struct stat upSt;
            if (!up.valid() || ::fstat(up.get(), &upSt) != 0 || sameInode(upSt, here)) {
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
        if (srcFolder.valid() && ::fstat(probe.get(), &probeSt) == 0 &&
            probeSt.st_dev == srcSt.st_dev && !onOneMount(srcFolder.get(), probe.get()) &&
            treeHoldsFolder(srcFolder.get(), probeSt)) {
            return {kIntoItself, false};
        }
    }
    probe.reset();

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
                return {codeFromErrno(errno), false};
            }
            pos = next + 1;
        }
    }
    Fd dest(::open(destFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dest.valid()) {
        return {codeFromErrno(errno), false};
    }
    struct stat destSt, parentSt;
    if (::fstat(dest.get(), &destSt) != 0 || ::fstat(srcParent.get(), &parentSt) != 0) {
        return {codeFromErrno(errno), false};
    }
    mDestSt = destSt;

    const bool keepBoth = mRequest.rule == CollisionRule::KeepBoth;
    const bool isMove = mRequest.kind == TransferKind::Move;
    if (sameInode(destSt, parentSt) && (isMove || !keepBoth)) {
        // Only a copy that keeps both can land in its own folder; anything else would at best do
        // nothing and at worst truncate the file onto itself.
        return {kSameFile, false};
    }

    // Space held by the temporary files of a killed earlier run is given back before this run
    // needs it. Folders made by this run hold none; merged ones are looked through as they come.
    removeStaleTemps(dest.get());

    if (mMonitor && mMonitor->wantsTotals()) {
        countTotals(srcParent.get(), name, srcSt);
    }

    const Placement top = keepBoth ? Placement::KeepBoth : Placement::Replace;
    int code;
    if (isMove && srcSt.st_dev == destSt.st_dev) {
        code = moveItem(srcParent.get(), name, srcSt, dest.get(), top);
    } else if (isMove) {
        code = moveAcross(srcParent.get(), name, srcSt, dest.get());
    } else {
        code = copyTree(srcParent.get(), name, srcSt, dest.get(), top, source, nullptr);
    }
    if (mAborted) {
        return {kSuccess, true};
    }
    return {code, false};
}

Transfer::~Transfer() {
    {
        std::lock_guard lock(mPoolLock);
        mClosing = true;
    }
    mWorkReady.notify_all();
    for (std::thread& t : mThreads) {
        t.join();
    }
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
    if (!mThreads.empty()) {
        std::lock_guard lock(mCurrentLock);
        if (!mCurrentFile.empty()) {
            mProgress.currentFile = mCurrentFile;
        }
    }
    if (!mThreads.empty() && mProgress.currentFile.empty()) {
        return;  // the pool has not started a file yet
    }
    mProgress.bytesDone = mBytesDone.load(std::memory_order_relaxed);
    mProgress.filesDone = mFilesDone.load(std::memory_order_relaxed);
    mMonitor->progress(mProgress);
}

CopiedItem* Transfer::noteCopied(CopiedItem* record, const std::string& name,
                                 const struct stat& st) {
    if (!record || !mCopied) {
        return nullptr;
    }
    std::lock_guard lock(mRecordLock);
    CopiedItem& item = mCopied->emplace_back(
        CopiedItem{name, st.st_dev, st.st_ino, S_ISDIR(st.st_mode), copiedState(st), {}});
    record->children.push_back(&item);
    return &item;
}

// ----- the pool

// Copies an item and waits for the pool to finish what the walk gave it. The first failure wins,
// whichever thread met it.
int Transfer::copyTree(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                       Placement placement, const std::string& srcPath, CopiedItem* record) {
    mPoolFailure = kSuccess;
    mDefaultAcls = hasDefaultAcl(dstDir);
    int code = copyItem(srcDir, name, st, dstDir, name, placement, srcPath, record);
    drainPool();
    report();
    return code != kSuccess ? code : mPoolFailure.load();
}

void Transfer::noteFailure(int code) {
    if (code == kSuccess) {
        return;
    }
    int none = kSuccess;
    mPoolFailure.compare_exchange_strong(none, code);
    if (isFatal(code)) {
        mStopped = true;
    }
}

void Transfer::submit(Batch batch) {
    std::unique_lock lock(mPoolLock);
    if (mThreads.empty()) {
        for (int i = 0; i < mWorkers; ++i) {
            mThreads.emplace_back([this] { workLoop(); });
        }
    }
    // The walk waits while the line is full, reporting progress and watching for an abort.
    while (mBatches.size() >= kQueuedBatches) {
        mWorkDone.wait_for(lock, kTick);
        lock.unlock();
        tick();
        lock.lock();
    }
    mBatches.push_back(std::move(batch));
    lock.unlock();
    mWorkReady.notify_one();
}

void Transfer::drainPool() {
    std::unique_lock lock(mPoolLock);
    while (!mBatches.empty() || mBusy > 0) {
        mWorkDone.wait_for(lock, kTick);
        lock.unlock();
        tick();
        lock.lock();
    }
}

void Transfer::workLoop() {
    std::unique_lock lock(mPoolLock);
    for (;;) {
        mWorkReady.wait(lock, [this] { return mClosing || !mBatches.empty(); });
        if (mBatches.empty()) {
            return;
        }
        Batch batch = std::move(mBatches.front());
        mBatches.pop_front();
        ++mBusy;
        lock.unlock();
        mWorkDone.notify_one();  // room in the line
        copyBatch(batch);
        batch = {};  // lets go of the folder, which may finish it
        lock.lock();
        --mBusy;
        mWorkDone.notify_one();
    }
}

void Transfer::copyBatch(const Batch& batch) {
    BatchFolder& folder = *batch.folder;
    for (const std::string& name : batch.names) {
        if (stopped()) {
            return;
        }
        noteFailure(copyFile(folder.src.get(), name, folder.dst.get(), name, batch.placement,
                             childPath(batch.srcPath, name), folder.record));
    }
}

void Transfer::waitForBatches(const std::weak_ptr<BatchFolder>& folder) {
    std::unique_lock lock(mPoolLock);
    while (!folder.expired()) {
        mWorkDone.wait_for(lock, kTick);
        lock.unlock();
        tick();
        lock.lock();
    }
}

// ----- the copy

void Transfer::countTotals(int dir, const std::string& name, const struct stat& st) {
    auto count = [this](const struct stat& item) {
        if (S_ISREG(item.st_mode) || S_ISLNK(item.st_mode)) {
            ++mProgress.filesTotal;
        }
        if (S_ISREG(item.st_mode)) {
            mProgress.bytesTotal += static_cast<std::uint64_t>(item.st_size);
        }
    };
    if (!S_ISDIR(st.st_mode)) {
        count(st);
        return;
    }
    // Per level entered, the subfolders still to count.
    FolderPath path(dir);
    std::vector<std::vector<std::string>> pending;
    auto enter = [&](const std::string& folder) {
        if (path.enter(folder) != 0) {
            return;
        }
        std::vector<DirEntry> entries;
        readFolder(path.current(), entries);
        std::vector<std::string> subfolders;
        for (DirEntry& e : entries) {
            struct stat child;
            if (::fstatat(path.current(), e.name.c_str(), &child, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            if (S_ISDIR(child.st_mode)) {
                subfolders.push_back(std::move(e.name));
            } else {
                count(child);
            }
        }
        pending.push_back(std::move(subfolders));
    };
    enter(name);
    while (!pending.empty()) {
        if (!pending.back().empty()) {
            const std::string next = std::move(pending.back().back());
            pending.back().pop_back();
            enter(next);
            continue;
        }
        pending.pop_back();
        if (path.leave() != 0) {
            return;  // moved meanwhile: the totals are only a guide
        }
    }
}

int Transfer::copyItem(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                       const std::string& dstName, Placement placement, const std::string& srcPath,
                       CopiedItem* record) {
    if (checkAbort()) {
        return kSuccess;
    }
    if (S_ISDIR(st.st_mode)) {
        return copyFolder(srcDir, name, dstDir, dstName, placement, srcPath, record);
    }
    if (S_ISLNK(st.st_mode)) {
        return copyLink(srcDir, name, st, dstDir, dstName, placement, record);
    }
    if (S_ISREG(st.st_mode)) {
        return copyFile(srcDir, name, dstDir, dstName, placement, srcPath, record);
    }
    return kSpecialFile;  // never opened: a FIFO would block, a device could have side effects
}

// Opens a source item without following a link in its place, and looks at what was opened.
int openSource(int dir, const std::string& name, int flags, Fd& fd, struct stat& st) {
    fd.reset(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | flags));
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        return codeFromErrno(errno, true);
    }
    return kSuccess;
}

// Before an item is put in place: with Replace, a folder must not be replaced by a file or link
// and a file or link must not be merged into; Fresh and KeepBoth never replace anything.
int checkReplaceable(int dstDir, const std::string& dstName, bool incomingIsDir,
                     bool* occupied = nullptr, struct stat* found = nullptr) {
    struct stat there;
    if (::fstatat(dstDir, dstName.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? kSuccess : codeFromErrno(errno);
    }
    if (occupied) {
        *occupied = true;
    }
    if (found) {
        *found = there;
    }
    return S_ISDIR(there.st_mode) == incomingIsDir ? kSuccess : kAlreadyExists;
}

// Gives a complete unnamed file (O_TMPFILE) the name `name`; fails with EEXIST where the name is
// taken, never replacing anything. Linking by descriptor alone takes CAP_DAC_READ_SEARCH;
// through /proc/self/fd anyone may.
int linkUnnamed(int fd, int dir, const std::string& name) {
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) {
            return 0;
        }
        if (errno != ENOENT && errno != EPERM) {
            return -1;
        }
        byDescriptor = false;
    }
    std::array<char, 32> proc;
    std::snprintf(proc.data(), proc.size(), "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, proc.data(), dir, name.c_str(), AT_SYMLINK_FOLLOW);
}

int Transfer::placeTemp(int dstDir, const std::string& temp, const std::string& dstName,
                        Placement placement) {
    if (placement == Placement::Replace) {
        // The name reaches what this entry placed moments ago under another name: the destination
        // ignores case (or folds names otherwise), and replacing would lose that file for this one.
        if (mPlaced.holdsName(dstDir, dstName)) {
            return kFileExists;
        }
        // renameat replaces a file or a link (never what a link points to) in one step. The caller
        // has looked for a folder of that name; one made since then makes this fail (EISDIR).
        return ::renameat(dstDir, temp.c_str(), dstDir, dstName.c_str()) == 0
                   ? kSuccess
                   : codeFromErrno(errno);
    }
    if (placement == Placement::Fresh) {
        if (renameNoReplace(dstDir, temp.c_str(), dstDir, dstName.c_str()) == 0) {
            return kSuccess;
        }
        return errno == EEXIST ? kFileExists : codeFromErrno(errno);
    }
    const auto rename = [&](const std::string& candidate) {
        return renameNoReplace(dstDir, temp.c_str(), dstDir, candidate.c_str());
    };
    return claimCollisionName(dstDir, dstName, false, rename) == 0 ? kSuccess : claimFailure();
}

int Transfer::placeUnnamed(int fd, int dstDir, const std::string& dstName, Placement placement) {
    const auto link = [&](const std::string& candidate) {
        return linkUnnamed(fd, dstDir, candidate);
    };
    if (placement == Placement::KeepBoth) {
        return claimCollisionName(dstDir, dstName, false, link) == 0 ? kSuccess : claimFailure();
    }
    if (linkUnnamed(fd, dstDir, dstName) == 0) {
        return kSuccess;
    }
    if (errno != EEXIST) {
        return codeFromErrno(errno);
    }
    if (placement == Placement::Fresh) {
        return kFileExists;
    }
    // Overwrite: a file or link stands at the name. It is replaced in one step through a
    // temporary name, which the file gets only now, complete: a run killed before this point
    // leaves nothing behind, and one killed in the instant between leaves a whole file that the
    // next run into this folder removes.
    std::string temp;
    if (claimTempName(dstName, link, temp) != 0) {
        return claimFailure();
    }
    const int code = placeTemp(dstDir, temp, dstName, Placement::Replace);
    if (code != kSuccess) {
        ::unlinkat(dstDir, temp.c_str(), 0);
    }
    return code;
}

int Transfer::copyFile(int srcDir, const std::string& name, int dstDir, const std::string& dstName,
                       Placement placement, const std::string& srcPath, CopiedItem* record) {
    // O_NONBLOCK: if a FIFO was put in the file's place since the folder was read, opening it
    // must not wait for a writer; the type check below then refuses it.
    Fd src;
    struct stat st;
    if (int code = openSource(srcDir, name, O_NONBLOCK, src, st); code != kSuccess) {
        return code;
    }
    if (!S_ISREG(st.st_mode)) {
        return kSpecialFile;
    }
    started(srcPath);
    if (placement == Placement::Replace) {
        // Checked before the data is written, so a wrong kind of target costs no copy.
        bool occupied = false;
        struct stat there;
        if (int code = checkReplaceable(dstDir, dstName, false, &occupied, &there);
            code != kSuccess) {
            return code;
        }
        // The destination item may be this very file under another name (a hard link, or the
        // same folder reached through a bind mount); replacing it by a copy of itself is what
        // cp refuses as "the same file".
        if (occupied && sameInode(there, st)) {
            return kSameFile;
        }
    }
    // A later name of a file copied earlier in this entry becomes a link to that copy. The entry's
    // own item, the only one placed "keep both", has no other name inside the entry.
    HardLinks::Claim link;
    if (mOptions.keepHardLinks && st.st_nlink > 1 && placement != Placement::KeepBoth) {
        link = mLinks.claim(st);
        if (link.later()) {
            return linkToCopy(link, name, st, dstDir, dstName, placement, record);
        }
    }

    // The copy is written into a file of the destination folder that has no name yet (O_TMPFILE)
    // and is named only when complete, so an interrupted run leaves nothing behind; that holds for
    // a copy that replaces a file too. On a filesystem without unnamed files it is written under a
    // hidden temporary name instead and renamed into place in one step.
    std::string temp;
    Fd dst;
    if (!mNamedOnly.load(std::memory_order_relaxed)) {
        dst.reset(::openat(dstDir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
        if (!dst.valid()) {
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
                return codeFromErrno(errno);
            }
            mNamedOnly = true;
        }
    }
    if (!dst.valid()) {
        const auto create = [&](const std::string& candidate) {
            dst.reset(::openat(dstDir, candidate.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            return dst.valid() ? 0 : -1;
        };
        if (claimTempName(dstName, create, temp) != 0) {
            return claimFailure();
        }
    }
    const bool unnamed = temp.empty();

    int code = copyData(src.get(), dst.get(), st);
    if (code == kSuccess && !mAborted) {
        // A source that grew, shrank or was rewritten meanwhile gives no consistent copy.
        struct stat after;
        if (::fstat(src.get(), &after) != 0 || after.st_size != st.st_size ||
            after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
            after.st_mtim.tv_nsec != st.st_mtim.tv_nsec) {
            code = kInUse;
        }
    }
    if (code == kSuccess && !mAborted) {
        code = keepFileAttributes(src.get(), dst.get(), st);
    }
    if (code == kSuccess && placement == Placement::Replace) {
        notePlaced(dst.get());  // before it has its name, so no other thread misses it
    }
    if (code == kSuccess && !mAborted) {
        // close() can report a delayed write error (NFS, some FUSE filesystems). An unnamed file
        // needs its descriptor to get a name, but every close of a descriptor asks the
        // filesystem to flush (not only the last), so closing a duplicate hears that error
        // while the file still has no name.
        if (unnamed) {
            const int dup = ::fcntl(dst.get(), F_DUPFD_CLOEXEC, 0);
            code = dup < 0 || ::close(dup) != 0 ? codeFromErrno(errno) : kSuccess;
            if (code == kSuccess) {
                code = placeUnnamed(dst.get(), dstDir, dstName, placement);
            }
            dst.reset();
        } else if (::close(dst.release()) != 0) {
            code = codeFromErrno(errno);
        }
    }
    if (!unnamed && code == kSuccess && !mAborted) {
        code = placeTemp(dstDir, temp, dstName, placement);
    }
    if (code != kSuccess || mAborted) {
        if (!unnamed) {
            ::unlinkat(dstDir, temp.c_str(), 0);
        }
        return code;  // an unnamed file goes away with its descriptor
    }
    link.named(dstDir, dstName);
    noteCopied(record, name, st);
    ++mFilesDone;
    report();
    return kSuccess;
}

int Transfer::keepAttributes(int fd, const struct stat& st) {
    // Ownership first: chown clears the set-user-ID and set-group-ID bits that fchmod then sets.
    // Owners are kept only when running as root, and a filesystem without owners is no fault of
    // the item, as with cp -a.
    if (mEuid == 0 && (st.st_uid != mEuid || st.st_gid != mEgid)) {
        // Owners are kept when permitted; a refusal does not fail the entry. (A cast to void
        // does not quiet glibc's warn_unused_result under _FORTIFY_SOURCE.)
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        }
    }
    // The mode is not optional: an item left at its private 0600/0700, or more open than its
    // source, would differ from it in who may read it, so a mode that cannot be set fails it.
    if (::fchmod(fd, st.st_mode & 07777) != 0) {
        return codeFromErrno(errno);
    }
    // Times that cannot be set only make the copy look newer; cp -a merely warns, and so the
    // item stays a success.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    (void)::futimens(fd, times);
    return kSuccess;
}

// Writes all of `data` at `offset`, or answers a result code.
int writeAll(int fd, const char* data, std::size_t length, off_t offset) {
    while (length > 0) {
        const ssize_t put = ::pwrite(fd, data, length, offset);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return codeFromErrno(errno);
        }
        data += put;
        length -= static_cast<std::size_t>(put);
        offset += put;
    }
    return kSuccess;
}

// One buffer per thread, kept for the thread's later files.
char* copyBuffer() {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) {
        buffer = std::make_unique<char[]>(kBufferSize);
    }
    return buffer.get();
}

int Transfer::keepFileAttributes(int src, int dst, const struct stat& st) {
    Xattrs xattrs;
    if (int err = mOptions.keepXattrs ? xattrs.read(src) : 0; err != 0) {
        return codeFromErrno(err, true);
    }
    if (int err = xattrs.apply(dst, XattrStage::FileBeforeOwner, mOptions, mDefaultAcls);
        err != 0) {
        return codeFromErrno(err);
    }
    if (int code = keepAttributes(dst, st); code != kSuccess) {
        return code;
    }
    const int err = xattrs.apply(dst, XattrStage::FileAfterOwner, mOptions);
    return err == 0 ? kSuccess : codeFromErrno(err);
}

int Transfer::copyXattrs(int src, int dst, std::initializer_list<XattrStage> stages) {
    Xattrs xattrs;
    if (int err = mOptions.keepXattrs ? xattrs.read(src) : 0; err != 0) {
        return codeFromErrno(err, true);
    }
    if (xattrs.hasDefaultAcl()) {
        mDefaultAcls = true;  // before the folder's files go to the pool
    }
    for (XattrStage stage : stages) {
        if (int err = xattrs.apply(dst, stage, mOptions); err != 0) {
            return codeFromErrno(err);
        }
    }
    return kSuccess;
}

int Transfer::linkToCopy(const HardLinks::Claim& copy, const std::string& name,
                         const struct stat& st, int dstDir, const std::string& dstName,
                         Placement placement, CopiedItem* record) {
    if (copy.error() != 0) {
        return codeFromErrno(copy.error());
    }
    // Placed like an unnamed copy: a link made under its name, or under "overwrite" over what
    // stands there in one rename, never leaving the name half replaced.
    if (int code = placeUnnamed(copy.copy(), dstDir, dstName, placement); code != kSuccess) {
        return code;
    }
    noteCopied(record, name, st);
    mBytesDone += static_cast<std::uint64_t>(st.st_size);
    ++mFilesDone;
    report();
    return kSuccess;
}

int Transfer::copyData(int src, int dst, const struct stat& st) {
    // A size of 0 is what /proc, /sys and some FUSE filesystems report for files whose text is
    // made as it is read: such a file is read to its end.
    if (st.st_size == 0) {
        return copyToEnd(src, dst);
    }
    bool endChecked = false;
    const int code = copyKnownSize(src, dst, st, endChecked);
    if (code != kSuccess || mAborted || endChecked) {
        return code;
    }
    // More data than the size promised: the file grew, or its size is not its length. Either way
    // the copy is not the file, and a move must not delete the source for it. The copy itself
    // looked past the end unless the file ends in a hole or the size is a whole number of chunks.
    char probe;
    ssize_t more;
    do {
        more = ::pread(src, &probe, 1, st.st_size);
    } while (more < 0 && (errno == EINTR || errno == EAGAIN));
    if (more < 0) {
        return codeFromErrno(errno, true);
    }
    return more == 0 ? kSuccess : kInUse;
}

int Transfer::copyToEnd(int src, int dst) {
    char* buffer = copyBuffer();
    for (off_t offset = 0;;) {
        if (checkAbort()) {
            return kSuccess;
        }
        const ssize_t got = ::pread(src, buffer, kBufferSize, offset);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return codeFromErrno(errno, true);
        }
        if (got == 0) {
            return kSuccess;
        }
        if (int code = writeAll(dst, buffer, static_cast<std::size_t>(got), offset);
            code != kSuccess) {
            return code;
        }
        offset += got;
        mBytesDone += static_cast<std::uint64_t>(got);
        report();
    }
}

int Transfer::copyKnownSize(int src, int dst, const struct stat& st, bool& endChecked) {
    const off_t size = st.st_size;
    bool useReadWrite = false;
    // Fewer blocks than bytes: the file has holes. Copy only its data and leave the holes.
    if (size > 0 && st.st_blocks * 512 < size) {
        off_t pos = 0;
        while (pos < size) {
            off_t data = ::lseek(src, pos, SEEK_DATA);
            if (data < 0) {
                if (errno == ENXIO) {
                    break;  // only a hole remains
                }
                // No hole support after all.
                return copyRange(src, dst, 0, size, useReadWrite, &endChecked);
            }
            off_t hole = ::lseek(src, data, SEEK_HOLE);
            if (hole < 0 || hole > size) {
                hole = size;
            }
            if (int code = copyRange(src, dst, data, hole - data, useReadWrite,
                                     hole == size ? &endChecked : nullptr);
                code != 0) {
                return code;
            }
            if (mAborted) {
                return kSuccess;
            }
            pos = hole;
        }
        return ::ftruncate(dst, size) == 0 ? kSuccess : codeFromErrno(errno);
    }
    return copyRange(src, dst, 0, size, useReadWrite, &endChecked);
}

int Transfer::copyRange(int src, int dst, off_t from, off_t length, bool& useReadWrite,
                        bool* endChecked) {
    off_t inOff = from;
    off_t outOff = from;
    const off_t end = from + length;
    // How much to ask for next, at most `limit`; one byte more at the end of the file.
    const auto ask = [&](off_t limit) {
        const off_t left = end - inOff;
        if (endChecked && left < limit) {
            *endChecked = true;
            return static_cast<std::size_t>(left + 1);
        }
        return static_cast<std::size_t>(std::min(left, limit));
    };
    while (!useReadWrite && inOff < end) {
        if (checkAbort()) {
            return kSuccess;
        }
        ssize_t n =
            ::copy_file_range(src, &inOff, dst, &outOff, ask(static_cast<off_t>(kRangeChunk)), 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
                useReadWrite = true;
                break;
            }
            // EIO, ENOSPC, EDQUOT and the rest are the answer; another way would not help.
            return codeFromErrno(errno);
        }
        if (n == 0) {
            if (inOff == from) {
                useReadWrite = true;  // some filesystems copy nothing and say so only like this
                break;
            }
            return kInUse;  // the source ended early: it shrank under us
        }
        if (inOff > end) {
            return kInUse;  // longer than its size
        }
        mBytesDone += static_cast<std::uint64_t>(n);
        report();
    }
    if (!useReadWrite) {
        return kSuccess;
    }
    char* buffer = copyBuffer();
    while (inOff < end) {
        if (checkAbort()) {
            return kSuccess;
        }
        ssize_t got = ::pread(src, buffer, ask(static_cast<off_t>(kBufferSize)), inOff);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return codeFromErrno(errno, true);
        }
        if (got == 0 || got > end - inOff) {
            return kInUse;  // shorter or longer than its size
        }
        if (int code = writeAll(dst, buffer, static_cast<std::size_t>(got), outOff);
            code != kSuccess) {
            return code;
        }
        outOff += got;
        inOff += got;
        mBytesDone += static_cast<std::uint64_t>(got);
        report();
    }
    return kSuccess;
}

int Transfer::copyLink(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                       const std::string& dstName, Placement placement, CopiedItem* record) {
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    for (;;) {
        ssize_t n = ::readlinkat(srcDir, name.c_str(), target.data(), target.size());
        if (n < 0) {
            return codeFromErrno(errno, true);
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            break;
        }
        target.resize(target.size() * 2);  // the link grew since it was looked at
    }
    if (placement == Placement::Replace) {
        if (int code = checkReplaceable(dstDir, dstName, false); code != kSuccess) {
            return code;
        }
        // A link that points at the very item it would replace would end up pointing at itself,
        // and the item's data would be gone: neither side is touched.
        if (replacesItself(srcDir, name, st, dstDir, dstName)) {
            return kSameFile;
        }
    }
    std::string temp;
    const auto make = [&](const std::string& candidate) {
        return ::symlinkat(target.c_str(), dstDir, candidate.c_str());
    };
    if (claimTempName(dstName, make, temp) != 0) {
        return claimFailure();
    }
    if (mEuid == 0) {
        if (::fchownat(dstDir, temp.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
        }  // as for files: owners kept when permitted
    }
    if (struct stat placed; placement == Placement::Replace &&
                            ::fstatat(dstDir, temp.c_str(), &placed, AT_SYMLINK_NOFOLLOW) == 0) {
        mPlaced.note(placed);
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(dstDir, temp.c_str(), times, AT_SYMLINK_NOFOLLOW);
    int code = placeTemp(dstDir, temp, dstName, placement);
    if (code != kSuccess) {
        ::unlinkat(dstDir, temp.c_str(), 0);
        return code;
    }
    noteCopied(record, name, st);
    ++mFilesDone;
    report();
    return kSuccess;
}

int Transfer::copyFolder(int srcDir, const std::string& name, int dstDir,
                         const std::string& dstName, Placement placement,
                         const std::string& srcPath, CopiedItem* record) {
    FolderPath src(srcDir);
    FolderPath dst(dstDir);
    std::vector<CopyFrame> stack;
    int first = enterCopy(src, dst, name, dstName, placement, srcPath, record, stack);
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
            struct stat st;
            if (e.type == DT_DIR) {
                keepFirst(first, enterCopy(src, dst, e.name, e.name, inside, path, parent, stack));
            } else if (::fstatat(src.current(), e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                keepFirst(first, codeFromErrno(errno, true));
            } else if (S_ISDIR(st.st_mode)) {
                keepFirst(first, enterCopy(src, dst, e.name, e.name, inside, path, parent, stack));
            } else {
                keepFirst(first, copyItem(src.current(), e.name, st, dst.current(), e.name, inside,
                                          path, parent));
            }
            continue;
        }
        // Everything in it is done once its batches are: now its mode and times, which nothing
        // written into it afterwards would touch again.
        waitForBatches(top.batches);
        if (!mAborted) {
            // The mode is given even when an attribute failed, so the folder is not left at 0700.
            const int xattrCode =
                copyXattrs(src.current(), dst.current(), {XattrStage::FolderFilled});
            const int modeCode = keepAttributes(dst.current(), top.st);
            keepFirst(first, xattrCode != kSuccess ? xattrCode : modeCode);
        }
        stack.pop_back();
        if (src.leave() != 0 || dst.leave() != 0) {
            // A folder on the way back up was moved meanwhile: the walk cannot go on safely.
            keepFirst(first, kInUse);
            break;
        }
    }
    return first;
}

// Opens the source folder `name`, makes (or, merging, finds) its copy, starts its files and puts
// the rest on the stack. Nothing is pushed when the copy could not be made.
int Transfer::enterCopy(FolderPath& src, FolderPath& dst, const std::string& name,
                        const std::string& dstName, Placement placement, const std::string& srcPath,
                        CopiedItem* record, std::vector<CopyFrame>& stack) {
    if (checkAbort()) {
        return kSuccess;
    }
    struct stat st;
    if (const int entered = src.enter(name, &st); entered != 0) {
        return entered == FolderPath::kLoop ? kIntoItself : codeFromErrno(errno, true);
    }
    // The source holds the destination through a mount inside it that no check before the walk
    // could see: going on would copy the copy, again and again.
    if (sameInode(st, mDestSt)) {
        src.leave();
        return kIntoItself;
    }
    // Made private (0700) and given its real mode only when filled, so that a read-only source
    // folder can still be filled and nobody else looks into it half made.
    std::string made = dstName;
    bool merging = false;
    int code = kSuccess;
    if (placement == Placement::KeepBoth) {
        const auto make = [&](const std::string& candidate) {
            return ::mkdirat(dst.current(), candidate.c_str(), 0700);
        };
        if (claimCollisionName(dst.current(), dstName, true, make, &made) != 0) {
            code = claimFailure();
        }
    } else if (::mkdirat(dst.current(), made.c_str(), 0700) != 0) {
        if (errno != EEXIST) {
            code = codeFromErrno(errno);
        } else if (placement == Placement::Fresh) {
            code = kAlreadyExists;
        } else {
            // Overwrite: merge into the folder of that name, but never into what a link points to.
            code = checkReplaceable(dst.current(), made, true);
            // A folder this entry made a moment ago under a name that differs only in case: two
            // source folders would merge into one, and the second's files replace the first's.
            if (code == kSuccess && mPlaced.holdsName(dst.current(), made)) {
                code = kFileExists;
            }
            merging = true;
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
        removeStaleTemps(dst.current());
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
    if (placement == Placement::Replace && !merging) {
        notePlaced(dst.current());
    }
    // Only a folder that was there already can hold something to replace; in one made just now
    // every name is claimed without replacing, which spares a look before each file.
    CopyFrame frame{st,
                    noteCopied(record, name, st),
                    merging ? Placement::Replace : Placement::Fresh,
                    srcPath,
                    {},
                    0,
                    {}};
    std::vector<DirEntry> entries;
    if (const int err = readFolder(src.current(), entries); err != 0) {
        code = codeFromErrno(err, true);
    } else {
        code = copyFiles(src.current(), dst.current(), frame, entries);
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
        if (mWorkers == 0) {
            keepFirst(first, copyFile(srcFd, e.name, dstFd, e.name, frame.childPlacement,
                                      childPath(frame.srcPath, e.name), frame.record));
            continue;
        }
        if (!folder) {
            folder = std::make_shared<BatchFolder>(
                BatchFolder{Fd(::fcntl(srcFd, F_DUPFD_CLOEXEC, 0)),
                            Fd(::fcntl(dstFd, F_DUPFD_CLOEXEC, 0)), frame.record});
            if (!folder->src.valid() || !folder->dst.valid()) {
                keepFirst(first, codeFromErrno(errno));
                return first;
            }
            frame.batches = folder;
            batch = Batch{folder, {}, frame.srcPath, frame.childPlacement};
        }
        batch.names.push_back(std::move(e.name));
        if (batch.names.size() == kBatchFiles) {
            submit(std::exchange(batch, Batch{folder, {}, frame.srcPath, frame.childPlacement}));
        }
    }
    if (!batch.names.empty() && !stopped()) {
        submit(std::move(batch));
    }
    return first;
}

// ----- moves

int Transfer::moveItem(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                       Placement placement) {
    bool merge = false;
    const int code = moveOne(srcDir, name, st, dstDir, placement, merge);
    return merge ? mergeFolder(srcDir, name, st, dstDir) : code;
}

// Moves one item by a rename, or sets `merge` where a folder meets a folder of its name.
int Transfer::moveOne(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                      Placement placement, bool& merge) {
    if (checkAbort()) {
        return kSuccess;
    }
    const bool isDir = S_ISDIR(st.st_mode);
    if (placement == Placement::KeepBoth) {
        const auto rename = [&](const std::string& candidate) {
            return renameNoReplace(srcDir, name.c_str(), dstDir, candidate.c_str());
        };
        if (claimCollisionName(dstDir, name, isDir, rename) == 0) {
            mFilesDone = mProgress.filesTotal;
            mBytesDone = mProgress.bytesTotal;
            report();
            return kSuccess;
        }
        return errno == EXDEV ? moveAcross(srcDir, name, st, dstDir) : claimFailure();
    }

    struct stat there;
    if (::fstatat(dstDir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            return codeFromErrno(errno);
        }
        if (renameNoReplace(srcDir, name.c_str(), dstDir, name.c_str()) == 0) {
            mPlaced.note(st);  // a rename keeps the inode
            return kSuccess;
        }
        if (errno == EXDEV) {
            return moveAcross(srcDir, name, st, dstDir);
        }
        if (errno != EEXIST) {
            return codeFromErrno(errno);
        }
        // Something appeared there meanwhile: look again and go on as for an existing item.
        if (::fstatat(dstDir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
            return codeFromErrno(errno);
        }
    }
    if (S_ISDIR(there.st_mode) != isDir) {
        return kAlreadyExists;
    }
    // What stands there was moved in by this entry under a name that differs only in case.
    if (mPlaced.holds(there)) {
        return kFileExists;
    }
    if (isDir) {
        merge = true;
        return kSuccess;
    }
    // A link onto the very file it points to would replace that file by a link to itself.
    if (S_ISLNK(st.st_mode) && replacesItself(srcDir, name, st, dstDir, name)) {
        return kSameFile;
    }
    if (sameInode(there, st)) {
        // Two hard links of one file: rename would keep both names; drop the source's.
        return ::unlinkat(srcDir, name.c_str(), 0) == 0 ? kSuccess : codeFromErrno(errno);
    }
    if (::renameat(srcDir, name.c_str(), dstDir, name.c_str()) == 0) {
        mPlaced.note(st);
        ++mFilesDone;
        report();
        return kSuccess;
    }
    return errno == EXDEV ? moveAcross(srcDir, name, st, dstDir) : codeFromErrno(errno);
}

// A folder onto a folder: merge, child by child and level by level, then remove each emptied
// source folder. What could not be moved stays in its source folder, which then stays too.
int Transfer::mergeFolder(int srcDir, const std::string& name, const struct stat& st, int dstDir) {
    FolderPath src(srcDir);
    FolderPath dst(dstDir);
    std::vector<MergeFrame> stack;
    auto enter = [&](const std::string& folder, const struct stat& folderSt) -> int {
        if (src.enter(folder) != 0) {
            return codeFromErrno(errno, true);
        }
        if (dst.enter(folder) != 0) {
            const int code = errno == ELOOP ? kAlreadyExists : codeFromErrno(errno);
            src.leave();
            return code;
        }
        MergeFrame frame{folder, folderSt, {}, 0, kSuccess};
        std::vector<DirEntry> entries;
        if (const int err = readFolder(src.current(), entries); err != 0) {
            frame.first = codeFromErrno(err, true);
        }
        for (DirEntry& e : entries) {
            frame.names.push_back(std::move(e.name));
        }
        stack.push_back(std::move(frame));
        return kSuccess;
    };
    if (const int code = enter(name, st); code != kSuccess) {
        return code;
    }
    for (;;) {
        if (stack.back().next < stack.back().names.size()) {
            const std::string child = stack.back().names[stack.back().next++];
            struct stat childSt;
            bool merge = false;
            int code;
            if (::fstatat(src.current(), child.c_str(), &childSt, AT_SYMLINK_NOFOLLOW) != 0) {
                code = codeFromErrno(errno, true);
            } else if (isSpecial(childSt.st_mode)) {
                code = kSpecialFile;
            } else {
                code = moveOne(src.current(), child, childSt, dst.current(), Placement::Replace,
                               merge);
            }
            if (mAborted) {
                return kSuccess;
            }
            if (merge) {
                code = enter(child, childSt);
            }
            keepFirst(stack.back().first, code);
            continue;
        }
        const MergeFrame done = std::move(stack.back());
        stack.pop_back();
        int code = done.first;
        if (code == kSuccess) {
            code = copyXattrs(src.current(), dst.current(),
                              {XattrStage::FolderOpened, XattrStage::FolderFilled});
        }
        if (code == kSuccess) {
            // Failing, the emptied source folder stays, saying what mode it should have had.
            code = keepAttributes(dst.current(), done.st);
        }
        if (src.leave() != 0 || dst.leave() != 0) {
            return kInUse;  // moved meanwhile: the walk cannot go on safely
        }
        if (code == kSuccess && ::unlinkat(src.current(), done.name.c_str(), AT_REMOVEDIR) != 0) {
            code = errno == ENOTEMPTY || errno == EEXIST ? kDirNotEmpty : codeFromErrno(errno);
        }
        if (stack.empty()) {
            return code;
        }
        keepFirst(stack.back().first, code);
    }
}

int Transfer::moveAcross(int srcDir, const std::string& name, const struct stat& st, int dstDir) {
    const Placement top =
        mRequest.rule == CollisionRule::KeepBoth ? Placement::KeepBoth : Placement::Replace;
    CopiedStore store;
    CopiedItem copied;
    mCopied = &store;
    int code = copyTree(srcDir, name, st, dstDir, top, mRequest.source, &copied);
    mCopied = nullptr;
    if (code != kSuccess || mAborted) {
        return code;  // the source stays whole
    }
    // The source goes only once the copy is on disk.
    if (::syncfs(dstDir) != 0) {
        return codeFromErrno(errno);
    }
    for (const CopiedItem* item : copied.children) {
        if (int removed = removeCopied(srcDir, *item); removed != kSuccess) {
            return removed;
        }
    }
    return kSuccess;
}

// Removes what was copied, and only that: an item replaced since it was copied stays, and so does
// every folder above it.
int Transfer::removeCopied(int parent, const CopiedItem& top) {
    struct Frame {
        const CopiedItem* item;
        std::size_t next;
    };
    FolderPath path(parent);
    std::vector<Frame> stack;
    auto visit = [&](const CopiedItem& item) -> int {
        struct stat now;
        if (::fstatat(path.current(), item.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT ? kSuccess : codeFromErrno(errno, true);
        }
        if (now.st_dev != item.dev || now.st_ino != item.ino) {
            return kDirNotEmpty;  // replaced since it was copied: not ours to delete
        }
        if (!item.isDir) {
            // Written to since it was copied (the same inode, appended or rewritten in place): its
            // copy holds the old bytes, so the source keeps the only current ones.
            if (!stillAsCopied(item.state, now)) {
                return kInUse;
            }
            return ::unlinkat(path.current(), item.name.c_str(), 0) == 0
                       ? kSuccess
                       : codeFromErrno(errno, true);
        }
        if (path.enter(item.name, &now) != 0) {
            return codeFromErrno(errno, true);
        }
        if (now.st_dev != item.dev || now.st_ino != item.ino) {
            path.leave();
            return kDirNotEmpty;  // swapped between the look and the opening
        }
        stack.push_back({&item, 0});
        return kSuccess;
    };
    if (const int code = visit(top); code != kSuccess) {
        return code;
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.item->children.size()) {
            if (const int code = visit(*frame.item->children[frame.next++]); code != kSuccess) {
                return code;
            }
            continue;
        }
        const CopiedItem& done = *frame.item;
        stack.pop_back();
        if (path.leave() != 0) {
            return kInUse;
        }
        if (::unlinkat(path.current(), done.name.c_str(), AT_REMOVEDIR) != 0) {
            return errno == ENOTEMPTY || errno == EEXIST ? kDirNotEmpty
                                                         : codeFromErrno(errno, true);
        }
    }
    return kSuccess;
}

}  // namespace

TransferOutcome transferItem(const TransferRequest& request, TransferMonitor* monitor) {
    return Transfer(request, monitor).run();
}

}  // namespace mivex
