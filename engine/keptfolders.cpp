// Folders kept open between the entries of a run, each taken again only when its path still leads
// to the very folder that was kept.
#include "engine/keptfolders.h"

#include <sys/stat.h>

#include <mutex>
#include <utility>

namespace mivex {

namespace {

std::mutex gLock;
int gRuns = 0;
KeptFolder gKept[2];

KeptFolder& slot(FolderRole role) {
    return gKept[role == FolderRole::SourceFolder ? 0 : 1];
}

bool sameState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
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
    // the old inode number back, but not within the same change time as well.
    struct stat now;
    if (::stat(path.c_str(), &now) != 0 || !sameState(now, kept.st)) {
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
    if (changed && ::fstat(folder.fd.get(), &folder.st) != 0) {
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
