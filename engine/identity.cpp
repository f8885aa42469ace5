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
    return sameFile(resolved, there);
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
        if (::fstat(fd.get(), &st) == 0 && sameFile(st, target)) {
            return true;
        }
        enter(std::move(fd));
    }
    return false;
}

void PlacedItems::note(const struct stat& st) {
    std::lock_guard lock(mLock);
    mItems.insert(FileId::of(st));
    mAny.store(true, std::memory_order_release);
}

bool PlacedItems::holds(const struct stat& st) const {
    std::lock_guard lock(mLock);
    return mItems.count(FileId::of(st)) != 0;
}

bool PlacedItems::holdsName(int dir, const std::string& name) const {
    if (!mAny.load(std::memory_order_acquire)) {
        return false;  // nothing placed yet: no need to look
    }
    struct stat there;
    return ::fstatat(dir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && holds(there);
}

}  // namespace mivex
