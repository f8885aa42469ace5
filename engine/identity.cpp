// Identity checks of the transfer engine.
#include "engine/identity.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "platform/fd.h"
#include "platform/folderwalk.h"

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
    // On the walk the copy's checks share: only the deepest levels keep a descriptor, so a deep
    // tree costs memory only. A folder met again inside itself (a bind mount) is not entered
    // twice; one moved meanwhile ends the walk, and the copy will meet it and say so.
    bool found = false;
    const auto inFolder = [&](int folder, const std::string&, const struct stat* st,
                              std::vector<std::string>& subfolders) {
        if (st && sameFile(*st, target)) {
            found = true;
            return false;
        }
        std::vector<DirEntry> entries;
        readFolder(folder, entries);  // one that cannot be read is left out: the copy will say why
        for (DirEntry& e : entries) {
            // One that turns out not to be a folder is not entered.
            if (e.type == DT_DIR || e.type == DT_UNKNOWN) {
                subfolders.push_back(std::move(e.name));
            }
        }
        return true;
    };
    walkFolders(dir, {}, inFolder);
    return found;
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
