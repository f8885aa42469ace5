// Reading folders, and re-opening the folders of a deep walk through "..".
#include "platform/folderwalk.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/posixio.h"

namespace mivex {

int readFolder(int dir, std::vector<DirEntry>& entries) {
    return readFolderEntries(dir, [&entries](const char* name, unsigned char type) {
        entries.push_back({name, type});
        return true;
    });
}

int FolderPath::enter(const std::string& name, struct stat* st) {
    Fd fd(::openat(current(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat here;
    if (!fd.valid() || ::fstat(fd.get(), &here) != 0) {
        return -1;
    }
    if (!mOnPath.insert(FileId::of(here)).second) {
        errno = ELOOP;
        return kLoop;
    }
    if (st) {
        *st = here;
    }
    mLevels.push_back({std::move(fd), FileId::of(here)});
    if (mLevels.size() > kWindow) {
        mLevels[mLevels.size() - 1 - kWindow].fd.reset();
    }
    return 0;
}

int FolderPath::leave() {
    if (mLevels.empty()) {
        return 0;
    }
    Fd child = std::move(mLevels.back().fd);
    mOnPath.erase(mLevels.back().id);
    mLevels.pop_back();
    if (mLevels.empty() || mLevels.back().fd.valid()) {
        return 0;
    }
    Level& parent = mLevels.back();
    Fd up(::openat(child.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!up.valid() || ::fstat(up.get(), &st) != 0 || FileId::of(st) != parent.id) {
        errno = ESTALE;
        return -1;
    }
    parent.fd = std::move(up);
    return 0;
}

}  // namespace mivex
