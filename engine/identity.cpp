// Identity checks of the transfer engine.
#include "engine/identity.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "platform/fd.h"
#include "platform/folderwalk.h"
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
    // Depth first on a FolderPath, as the copy walks: the names of a level's subfolders are read at
    // once, and only the deepest levels keep a descriptor, so a deep tree costs memory only. A
    // folder met again inside itself (a bind mount) is not entered twice.
    const auto subfolders = [](int folder) {
        std::vector<DirEntry> entries;
        std::vector<std::string> names;
        readFolder(folder, entries);  // one that cannot be read is left out: the copy will say why
        for (DirEntry& e : entries) {
            if (e.type == DT_DIR || e.type == DT_UNKNOWN) {
                names.push_back(std::move(e.name));
            }
        }
        return names;
    };
    FolderPath path(dir);
    std::vector<std::vector<std::string>> pending{subfolders(dir)};
    while (!pending.empty()) {
        if (pending.back().empty()) {
            pending.pop_back();
            if (!pending.empty() && path.leave() != 0) {
                return false;  // moved meanwhile: the copy will meet it and say so
            }
            continue;
        }
        const std::string name = std::move(pending.back().back());
        pending.back().pop_back();
        struct stat st;
        if (path.enter(name, &st) != 0) {
            continue;  // not a folder after all, unreadable, or met before on this path
        }
        if (sameFile(st, target)) {
            return true;
        }
        pending.push_back(subfolders(path.current()));
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
