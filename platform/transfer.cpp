// The transfer engine: one queue entry carried out on the real filesystem.
//
// Below the source's parent folder and the destination folder everything is reached through open
// folder descriptors (openat, mkdirat, renameat2, unlinkat with O_NOFOLLOW / AT_SYMLINK_NOFOLLOW),
// so a folder swapped for a link while the tree is walked cannot redirect a write or a delete.
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
#include "platform/hardlinks.h"
#include "platform/identity.h"
#include "platform/resultcodes.h"
#include "platform/xattrs.h"

namespace mivex {

namespace {

// copy_file_range is asked for at most this much per call, so progress and abort stay prompt; the
// kernel caps one call below 2 GiB anyway.
constexpr std::size_t kRangeChunk = 4u << 20;
constexpr std::size_t kBufferSize = 256u << 10;  // the plain read/write fallback
constexpr int kMaxCollisionNames = 100000;
// Files of a folder go to the pool in batches of this many; a few batches wait in line at most,
// so the walk never runs far ahead of the copying (memory and open folders stay bounded).
constexpr std::size_t kBatchFiles = 256;
constexpr std::size_t kQueuedBatches = 8;
// How often the calling thread reports progress and polls for an abort while the pool works.
constexpr auto kTick = std::chrono::milliseconds(20);

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : mFd(fd) {}
    Fd(Fd&& other) noexcept : mFd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return mFd; }
    bool valid() const { return mFd >= 0; }
    int release() { return std::exchange(mFd, -1); }
    void reset(int fd = -1) {
        if (mFd >= 0) {
            ::close(mFd);
        }
        mFd = fd;
    }

private:
    int mFd = -1;
};

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

int renameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    // A filesystem without RENAME_NOREPLACE: a hard link claims the name just as atomically.
    if (::linkat(fromDir, from, toDir, to, 0) != 0) {
        return -1;
    }
    ::unlinkat(fromDir, from, 0);
    return 0;
}

// What was copied, so that a move across filesystems removes exactly that and nothing that
// appeared in the source meanwhile.
struct CopiedItem {
    std::string name;
    dev_t dev = 0;
    ino_t ino = 0;
    bool isDir = false;
    CopiedState state;               // a file or link only
    std::list<CopiedItem> children;  // a list: pointers to its items stay valid as it grows
};

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

class Transfer;

// A destination folder being filled. Its descriptors stay open while the walk is inside it or a
// batch of its files is waiting or being copied; whoever lets go of it last gives the folder its
// mode and times, so nothing written into it afterwards touches them again.
struct Folder {
    Folder(Transfer& transfer, Fd source, Fd dest, const struct stat& attributes,
           CopiedItem* copied)
        : owner(transfer),
          src(std::move(source)),
          dst(std::move(dest)),
          st(attributes),
          record(copied) {}
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    Transfer& owner;
    Fd src;
    Fd dst;
    struct stat st;
    CopiedItem* record;  // where a move across filesystems notes what it copied, or null
};

// Some files of one folder, copied by a pool thread.
struct Batch {
    std::shared_ptr<Folder> folder;
    std::vector<std::string> names;
    std::string srcPath;  // the folder's source path, for progress only
    Placement placement = Placement::Fresh;
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
    void finishFolder(Folder& folder);

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
    int copyFolder(int srcDir, const std::string& name, int dstDir, const std::string& dstName,
                   Placement placement, const std::string& srcPath, CopiedItem* record);
    int copyFolderContents(const std::shared_ptr<Folder>& folder, Placement childPlacement,
                           const std::string& srcPath);
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

    std::mutex mPoolLock;
    std::condition_variable mWorkReady;
    std::condition_variable mWorkDone;
    std::deque<Batch> mBatches;
    int mBusy = 0;
    bool mClosing = false;
    std::vector<std::thread> mThreads;
};

Folder::~Folder() {
    owner.finishFolder(*this);
}

// ----- naming

std::string tempName(const std::string& name) {
    static std::atomic<unsigned> counter{0};
    static const unsigned pid = static_cast<unsigned>(::getpid());
    const unsigned n = counter.fetch_add(1) * 2654435761u ^ pid;
    std::array<char, 16> tag;
    std::snprintf(tag.data(), tag.size(), "%08x", n);
    // Hidden, recognisable, and short enough for NAME_MAX whatever the final name's length.
    return ".mivex-" + std::string(tag.data()) + "-" + name.substr(0, 180) + ".part";
}

}  // namespace

std::string collisionName(const std::string& name, bool isFolder, int n) {
    std::string stem = name;
    std::string ext;
    if (!isFolder) {
        auto dot = name.find_last_of('.');
        if (dot != std::string::npos && dot != 0) {
            stem = name.substr(0, dot);
            ext = name.substr(dot);
        }
    }
    std::string suffix = n <= 1 ? " - Copy" : " - Copy (" + std::to_string(n) + ")";
    return stem + suffix + ext;
}

namespace {

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
    if (!record) {
        return nullptr;
    }
    std::lock_guard lock(mRecordLock);
    return &record->children.emplace_back(
        CopiedItem{name, st.st_dev, st.st_ino, S_ISDIR(st.st_mode), copiedState(st), {}});
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
    Folder& folder = *batch.folder;
    for (const std::string& name : batch.names) {
        if (stopped()) {
            return;
        }
        noteFailure(copyFile(folder.src.get(), name, folder.dst.get(), name, batch.placement,
                             childPath(batch.srcPath, name), folder.record));
    }
}

void Transfer::finishFolder(Folder& folder) {
    if (!mAborted) {
        // The mode is given even when an attribute failed, so the folder is not left at 0700.
        const int xattrCode =
            copyXattrs(folder.src.get(), folder.dst.get(), {XattrStage::FolderFilled});
        const int modeCode = keepAttributes(folder.dst.get(), folder.st);
        noteFailure(xattrCode != kSuccess ? xattrCode : modeCode);
    }
}

// ----- the copy

void Transfer::countTotals(int dir, const std::string& name, const struct stat& st) {
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
        ++mProgress.filesTotal;
        if (S_ISREG(st.st_mode)) {
            mProgress.bytesTotal += static_cast<std::uint64_t>(st.st_size);
        }
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        return;
    }
    Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        return;
    }
    DIR* d = ::fdopendir(::dup(fd.get()));
    if (!d) {
        return;
    }
    while (dirent* e = ::readdir(d)) {
        if (std::string_view n = e->d_name; n == "." || n == "..") {
            continue;
        }
        struct stat child;
        if (::fstatat(fd.get(), e->d_name, &child, AT_SYMLINK_NOFOLLOW) == 0) {
            countTotals(fd.get(), e->d_name, child);
        }
    }
    ::closedir(d);
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
    for (int n = 0; n < kMaxCollisionNames; ++n) {
        const std::string candidate = n == 0 ? dstName : collisionName(dstName, false, n);
        if (renameNoReplace(dstDir, temp.c_str(), dstDir, candidate.c_str()) == 0) {
            return kSuccess;
        }
        if (errno != EEXIST) {
            return codeFromErrno(errno);
        }
    }
    return kFileExists;
}

int Transfer::placeUnnamed(int fd, int dstDir, const std::string& dstName, Placement placement) {
    if (placement == Placement::KeepBoth) {
        for (int n = 0; n < kMaxCollisionNames; ++n) {
            const std::string candidate = n == 0 ? dstName : collisionName(dstName, false, n);
            if (linkUnnamed(fd, dstDir, candidate) == 0) {
                return kSuccess;
            }
            if (errno != EEXIST) {
                return codeFromErrno(errno);
            }
        }
        return kFileExists;
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
    // Overwrite, and a file or link arrived at the name since it was looked at: replace it in one
    // step through a temporary name, as when it had been there from the start.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = tempName(dstName);
        if (linkUnnamed(fd, dstDir, temp) == 0) {
            const int code = placeTemp(dstDir, temp, dstName, Placement::Replace);
            if (code != kSuccess) {
                ::unlinkat(dstDir, temp.c_str(), 0);
            }
            return code;
        }
        if (errno != EEXIST) {
            return codeFromErrno(errno);
        }
    }
    return kFileExists;
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
    bool occupied = false;
    if (placement == Placement::Replace) {
        // Checked before the data is written, so a wrong kind of target costs no copy.
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
    // and is linked to its name only when complete, so an interrupted run leaves nothing behind.
    // A copy that replaces a file, and any copy on a filesystem without unnamed files, is written
    // under a hidden temporary name instead and renamed into place in one step.
    std::string temp;
    Fd dst;
    if (!occupied && !mNamedOnly.load(std::memory_order_relaxed)) {
        dst.reset(::openat(dstDir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600));
        if (!dst.valid()) {
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
                return codeFromErrno(errno);
            }
            mNamedOnly = true;
        }
    }
    for (int attempt = 0; attempt < 100 && !dst.valid(); ++attempt) {
        temp = tempName(dstName);
        dst.reset(::openat(dstDir, temp.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!dst.valid() && errno != EEXIST) {
            return codeFromErrno(errno);
        }
    }
    if (!dst.valid()) {
        return kFileExists;
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
        if (unnamed) {
            code = placeUnnamed(dst.get(), dstDir, dstName, placement);
            dst.reset();
        } else if (::close(dst.release()) != 0) {
            // close() can report a delayed write error (NFS, some FUSE filesystems).
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
    for (int attempt = 0;; ++attempt) {
        temp = tempName(dstName);
        if (::symlinkat(target.c_str(), dstDir, temp.c_str()) == 0) {
            break;
        }
        if (errno != EEXIST || attempt > 100) {
            return codeFromErrno(errno);
        }
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
    Fd src;
    struct stat st;
    if (int code = openSource(srcDir, name, O_DIRECTORY, src, st); code != kSuccess) {
        return code;
    }
    // The source holds the destination through a mount inside it that no check before the walk
    // could see: going on would copy the copy, again and again.
    if (sameInode(st, mDestSt)) {
        return kIntoItself;
    }

    // Made private (0700) and given its real mode only when filled, so that a read-only source
    // folder can still be filled and nobody else looks into it half made.
    std::string made = dstName;
    bool merging = false;
    if (placement == Placement::KeepBoth) {
        int n = 0;
        for (; n < kMaxCollisionNames; ++n) {
            made = n == 0 ? dstName : collisionName(dstName, true, n);
            if (::mkdirat(dstDir, made.c_str(), 0700) == 0) {
                break;
            }
            if (errno != EEXIST) {
                return codeFromErrno(errno);
            }
        }
        if (n == kMaxCollisionNames) {
            return kFileExists;
        }
    } else if (::mkdirat(dstDir, made.c_str(), 0700) != 0) {
        if (errno != EEXIST) {
            return codeFromErrno(errno);
        }
        if (placement == Placement::Fresh) {
            return kAlreadyExists;
        }
        // Overwrite: merge into the folder of that name, but never into what a link points to.
        if (int code = checkReplaceable(dstDir, made, true); code != kSuccess) {
            return code;
        }
        // A folder this entry made a moment ago under a name that differs only in case: two
        // source folders would merge into one, and the second's files replace the first's.
        if (mPlaced.holdsName(dstDir, made)) {
            return kFileExists;
        }
        merging = true;
    }
    Fd dst(::openat(dstDir, made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dst.valid()) {
        return errno == ELOOP || errno == ENOTDIR ? kAlreadyExists : codeFromErrno(errno);
    }
    if (int code = copyXattrs(src.get(), dst.get(), {XattrStage::FolderOpened}); code != kSuccess) {
        if (!merging) {
            ::unlinkat(dstDir, made.c_str(), AT_REMOVEDIR);  // still empty, and would stay 0700
        }
        return code;
    }
    if (placement == Placement::Replace && !merging) {
        notePlaced(dst.get());
    }
    CopiedItem* self = noteCopied(record, name, st);
    // Only a folder that was there already can hold something to replace; in one made just now
    // every name is claimed without replacing, which spares a look before each file.
    const Placement childPlacement = merging ? Placement::Replace : Placement::Fresh;
    auto folder = std::make_shared<Folder>(*this, std::move(src), std::move(dst), st, self);
    return copyFolderContents(folder, childPlacement, srcPath);
}

int Transfer::copyFolderContents(const std::shared_ptr<Folder>& folder, Placement childPlacement,
                                 const std::string& srcPath) {
    const int srcFd = folder->src.get();
    const int dstFd = folder->dst.get();
    // Read the names first and close the folder, so a deep tree holds two descriptors a level.
    struct Entry {
        std::string name;
        unsigned char type;
    };
    std::vector<Entry> entries;
    {
        DIR* d = ::fdopendir(::dup(srcFd));
        if (!d) {
            return codeFromErrno(errno, true);
        }
        errno = 0;
        while (dirent* e = ::readdir(d)) {
            std::string_view n = e->d_name;
            if (n != "." && n != "..") {
                entries.push_back({std::string(n), e->d_type});
            }
        }
        const int readErr = errno;
        ::closedir(d);
        if (readErr != 0) {
            return codeFromErrno(readErr, true);
        }
    }

    // One unreadable or special item fails the entry, but the rest is still copied; a full or
    // read-only destination would fail everything after it the same way, so stop there.
    int first = kSuccess;
    auto note = [&](int code) {
        if (code != kSuccess && first == kSuccess) {
            first = code;
        }
        if (isFatal(code)) {
            mStopped = true;
        }
    };

    // The files first: with a pool they are handed over in batches, so that it has work while
    // the walk goes on into the subfolders.
    Batch batch{folder, {}, srcPath, childPlacement};
    for (const Entry& e : entries) {
        if (e.type != DT_REG) {
            continue;
        }
        if (stopped()) {
            break;
        }
        if (mWorkers == 0) {
            note(copyFile(srcFd, e.name, dstFd, e.name, childPlacement, childPath(srcPath, e.name),
                          folder->record));
            continue;
        }
        batch.names.push_back(e.name);
        if (batch.names.size() == kBatchFiles) {
            submit(std::exchange(batch, Batch{folder, {}, srcPath, childPlacement}));
        }
    }
    if (!batch.names.empty() && !stopped()) {
        submit(std::move(batch));
    }

    for (const Entry& e : entries) {
        if (e.type == DT_REG) {
            continue;
        }
        if (stopped()) {
            break;
        }
        const std::string path = childPath(srcPath, e.name);
        if (e.type == DT_DIR) {
            note(copyFolder(srcFd, e.name, dstFd, e.name, childPlacement, path, folder->record));
            continue;
        }
        struct stat st;
        if (::fstatat(srcFd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            note(codeFromErrno(errno, true));
        } else {
            note(copyItem(srcFd, e.name, st, dstFd, e.name, childPlacement, path, folder->record));
        }
    }
    return first;
}

// ----- moves

int Transfer::moveItem(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                       Placement placement) {
    if (checkAbort()) {
        return kSuccess;
    }
    const bool isDir = S_ISDIR(st.st_mode);
    if (placement == Placement::KeepBoth) {
        for (int n = 0; n < kMaxCollisionNames; ++n) {
            const std::string candidate = n == 0 ? name : collisionName(name, isDir, n);
            if (renameNoReplace(srcDir, name.c_str(), dstDir, candidate.c_str()) == 0) {
                mFilesDone = mProgress.filesTotal;
                mBytesDone = mProgress.bytesTotal;
                report();
                return kSuccess;
            }
            if (errno == EXDEV) {
                return moveAcross(srcDir, name, st, dstDir);
            }
            if (errno != EEXIST) {
                return codeFromErrno(errno);
            }
        }
        return kFileExists;
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
    if (!isDir) {
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

    // A folder onto a folder: merge, child by child, then remove the emptied source folder.
    Fd src(::openat(srcDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Fd dst(::openat(dstDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!src.valid()) {
        return codeFromErrno(errno, true);
    }
    if (!dst.valid()) {
        return errno == ELOOP ? kAlreadyExists : codeFromErrno(errno);
    }
    std::vector<std::string> names;
    {
        DIR* d = ::fdopendir(::dup(src.get()));
        if (!d) {
            return codeFromErrno(errno, true);
        }
        while (dirent* e = ::readdir(d)) {
            std::string_view n = e->d_name;
            if (n != "." && n != "..") {
                names.emplace_back(n);
            }
        }
        ::closedir(d);
    }
    int first = kSuccess;
    for (const std::string& child : names) {
        struct stat childSt;
        int code;
        if (::fstatat(src.get(), child.c_str(), &childSt, AT_SYMLINK_NOFOLLOW) != 0) {
            code = codeFromErrno(errno, true);
        } else if (isSpecial(childSt.st_mode)) {
            code = kSpecialFile;
        } else {
            code = moveItem(src.get(), child, childSt, dst.get(), Placement::Replace);
        }
        if (mAborted) {
            return kSuccess;
        }
        if (code != kSuccess && first == kSuccess) {
            first = code;
        }
    }
    if (first != kSuccess) {
        return first;  // what could not be moved stays in the source folder
    }
    if (int code =
            copyXattrs(src.get(), dst.get(), {XattrStage::FolderOpened, XattrStage::FolderFilled});
        code != kSuccess) {
        return code;
    }
    if (int code = keepAttributes(dst.get(), st); code != kSuccess) {
        return code;  // the emptied source folder stays, saying what mode it should have had
    }
    if (::unlinkat(srcDir, name.c_str(), AT_REMOVEDIR) != 0) {
        return errno == ENOTEMPTY || errno == EEXIST ? kDirNotEmpty : codeFromErrno(errno);
    }
    return kSuccess;
}

int Transfer::moveAcross(int srcDir, const std::string& name, const struct stat& st, int dstDir) {
    const Placement top =
        mRequest.rule == CollisionRule::KeepBoth ? Placement::KeepBoth : Placement::Replace;
    CopiedItem copied;
    int code = copyTree(srcDir, name, st, dstDir, top, mRequest.source, &copied);
    if (code != kSuccess || mAborted) {
        return code;  // the source stays whole
    }
    // The source goes only once the copy is on disk.
    if (::syncfs(dstDir) != 0) {
        return codeFromErrno(errno);
    }
    for (const CopiedItem& item : copied.children) {
        if (int removed = removeCopied(srcDir, item); removed != kSuccess) {
            return removed;
        }
    }
    return kSuccess;
}

int Transfer::removeCopied(int parent, const CopiedItem& item) {
    struct stat now;
    if (::fstatat(parent, item.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
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
        return ::unlinkat(parent, item.name.c_str(), 0) == 0 ? kSuccess
                                                             : codeFromErrno(errno, true);
    }
    Fd fd(::openat(parent, item.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        return codeFromErrno(errno, true);
    }
    for (const CopiedItem& child : item.children) {
        if (int code = removeCopied(fd.get(), child); code != kSuccess) {
            return code;
        }
    }
    if (::unlinkat(parent, item.name.c_str(), AT_REMOVEDIR) != 0) {
        return errno == ENOTEMPTY || errno == EEXIST ? kDirNotEmpty : codeFromErrno(errno, true);
    }
    return kSuccess;
}

}  // namespace

TransferOutcome transferItem(const TransferRequest& request, TransferMonitor* monitor) {
    return Transfer(request, monitor).run();
}

}  // namespace mivex
