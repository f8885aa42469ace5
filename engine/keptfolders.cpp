// Folders kept open between the entries of a run, each taken again only when its path still leads
// to the very folder that was kept.
#include "engine/keptfolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdint>
#include <utility>

#include "platform/fileid.h"

namespace mivex {

namespace {

bool sameTime(const struct statx_timestamp& a, const struct statx_timestamp& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool sameState(const struct statx& now, const KeptFolder& kept) {
    if (FileId::of(now) != FileId::of(kept.st)) {
        return false;
    }
    if (kept.hasBirth) {
        return (now.stx_mask & STATX_BTIME) && sameTime(now.stx_btime, kept.birth);
    }
    return sameTime(now.stx_ctime, {kept.st.st_ctim.tv_sec,
                                    static_cast<std::uint32_t>(kept.st.st_ctim.tv_nsec), 0});
}

// Takes the state of the folder open as `folder.fd` again, with its birth time where there is one.
bool takeState(KeptFolder& folder) {
    struct statx now;
    if (::statx(folder.fd.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &now) != 0) {
        return false;
    }
    folder.st.st_dev = makedev(now.stx_dev_major, now.stx_dev_minor);
    folder.st.st_ino = now.stx_ino;
    folder.st.st_ctim = {now.stx_ctime.tv_sec, now.stx_ctime.tv_nsec};
    folder.hasBirth = (now.stx_mask & STATX_BTIME) != 0;
    folder.birth = now.stx_btime;
    return true;
}

}  // namespace

KeptFolder KeptFolders::take(FolderRole role, const std::string& path, bool look) {
    KeptFolder& held = slot(role);
    if (!held.fd.valid() || held.path != path) {
        return {};
    }
    KeptFolder kept = std::move(held);
    if (!look) {
        return kept;
    }
    // Follows links as opening the path would. A folder removed and made again at the path may get
    // the old inode number back, but not its birth time (or, without one, change time) as well.
    struct statx now;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &now) != 0 ||
        !sameState(now, kept)) {
        return {};  // closes the kept one: the path now leads elsewhere
    }
    return kept;
}

void KeptFolders::keep(FolderRole role, KeptFolder folder, bool changed) {
    if (!mKeeps || !folder.fd.valid()) {
        return;
    }
    if (changed && !folder.hasBirth && !takeState(folder)) {
        return;
    }
    slot(role) = std::move(folder);  // closes the one it replaces
}

}  // namespace mivex
