// Identity checks of the transfer engine.
#include "engine/identity.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "platform/fd.h"
#include "platform/posixio.h"

namespace mivex {

namespace {

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool replacesItself(int srcDir, const std::string& name, const struct stat& st, int dstDir,
                    const std::string& dstName) {
    struct stat there;
    if (::fstatat(dstDir, dstName.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;  // nothing to replace
    }
    // A link is judged by what it resolves to at the source (a relative target from the link's
    // own folder); a dangling or looping link resolves to nothing that could stand there.
    struct stat resolved = st;
    if (S_ISLNK(st.st_mode) && ::fstatat(srcDir, name.c_str(), &resolved, 0) != 0) {
        return false;
    }
    return resolved.st_dev == there.st_dev && resolved.st_ino == there.st_ino;
}

bool onOneMount(int a, int b) {
    struct statx sa, sb;
    if (::statx(a, "", AT_EMPTY_PATH, STATX_MNT_ID, &sa) != 0 ||
        ::statx(b, "", AT_EMPTY_PATH, STATX_MNT_ID, &sb) != 0 || !(sa.stx_mask & STATX_MNT_ID) ||
        !(sb.stx_mask & STATX_MNT_ID)) {
        return false;
    }
    return sa.stx_mnt_id == sb.stx_mnt_id;
}

bool treeHoldsFolder(int dir, const struct stat& target) {
    // Depth first with one open folder a level: the names of a level's subfolders are read at
    // once, so a deep tree costs no more descriptors than the copy of it does.
    struct Level {
        Fd fd;
        std::vector<std::string> folders;
    };
    std::vector<Level> stack;
    auto enter = [&](Fd fd) {
        Level level{std::move(fd), {}};
        // A folder that cannot be read is left out: the copy will say why.
        readFolderEntries(level.fd.get(), [&level](const char* name, unsigned char type) {
            if (type == DT_DIR || type == DT_UNKNOWN) {
                level.folders.emplace_back(name);
            }
            return true;
        });
        stack.push_back(std::move(level));
    };
    Fd top(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
    if (!top.valid()) {
        return false;
    }
    enter(std::move(top));
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.folders.empty()) {
            stack.pop_back();
            continue;
        }
        const std::string name = std::move(level.folders.back());
        level.folders.pop_back();
        Fd fd(::openat(level.fd.get(), name.c_str(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!fd.valid()) {
            continue;  // not a folder after all, or unreadable: the copy will say so
        }
        if (::fstat(fd.get(), &st) == 0 && st.st_dev == target.st_dev &&
            st.st_ino == target.st_ino) {
            return true;
        }
        enter(std::move(fd));
    }
    return false;
}

void PlacedItems::note(const struct stat& st) {
    std::lock_guard lock(mLock);
    mItems.emplace(st.st_dev, st.st_ino);
    mAny.store(true, std::memory_order_release);
}

bool PlacedItems::holds(const struct stat& st) const {
    std::lock_guard lock(mLock);
    return mItems.count({st.st_dev, st.st_ino}) != 0;
}

bool PlacedItems::holdsName(int dir, const std::string& name) const {
    if (!mAny.load(std::memory_order_acquire)) {
        return false;  // nothing placed yet: no need to look
    }
    struct stat there;
    return ::fstatat(dir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && holds(there);
}

CopiedState copiedState(const struct stat& st) {
    return {st.st_size, st.st_mtim, st.st_ctim, st.st_nlink == 1};
}

bool stillAsCopied(const CopiedState& copied, const struct stat& now) {
    if (now.st_size != copied.size || !sameTime(now.st_mtim, copied.mtime)) {
        return false;
    }
    // ctime also catches a write that put the modification time back (touch -d, rsync -t). Removing
    // one name of a file with several changes its ctime, so a tree holding two links of one file
    // would refuse its own second removal: there only size and modification time are compared.
    return !copied.soleLink || sameTime(now.st_ctim, copied.ctime);
}

}  // namespace mivex
