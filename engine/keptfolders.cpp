// Folders kept open between the entries of a run, each taken again only when its path still leads
// to the very folder that was kept.
#include "engine/keptfolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdint>
#include <mutex>
#include <utility>

#include "platform/fileid.h"

namespace mivex {

namespace {

std::mutex gLock;
int gRuns = 0;
KeptFolder gKept[2];

KeptFolder& slot(FolderRole role) {
    return gKept[role == FolderRole::SourceFolder ? 0 : 1];
}

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

KeepFoldersForRun::KeepFoldersForRun() {
    std::lock_guard lock(gLock);
    ++gRuns;
}

KeepFoldersForRun::~KeepFoldersForRun() {
    KeptFolder closing[2];
    std::lock_guard lock(gLock);
    if (--gRuns == 0) {
        closing[0] = std::move(gKept[0]);
        closing[1] = std::move(gKept[1]);
    }
}

KeptFolder takeKeptFolder(FolderRole role, const std::string& path) {
    KeptFolder kept;
    {
        std::lock_guard lock(gLock);
        KeptFolder& held = slot(role);
        if (!held.fd.valid() || held.path != path) {
            return {};
        }
        kept = std::move(held);
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

void keepFolder(FolderRole role, KeptFolder folder, bool changed) {
    if (!folder.fd.valid()) {
        return;
    }
    {
        std::lock_guard lock(gLock);
        if (gRuns == 0) {
            return;
        }
    }
    if (changed && !folder.hasBirth && !takeState(folder)) {
        return;
    }
    KeptFolder replaced;
    std::lock_guard lock(gLock);
    if (gRuns == 0) {
        return;
    }
    replaced = std::move(slot(role));
    slot(role) = std::move(folder);
}

}  // namespace mivex
