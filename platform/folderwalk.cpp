// Reading folders, and re-opening the folders of a deep walk through "..".
#include "platform/folderwalk.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <string_view>

namespace mivex {

int readFolder(int dir, std::vector<DirEntry>& entries) {
    // A duplicate shares the reading position with `dir`, so the reading starts over below; and
    // fdopendir takes it only when it succeeds.
    const int own = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        return errno;
    }
    DIR* d = ::fdopendir(own);
    if (!d) {
        const int err = errno;
        ::close(own);
        return err;
    }
    ::rewinddir(d);
    int err = 0;
    for (;;) {
        errno = 0;  // readdir's end and its failure differ only in errno
        const dirent* e = ::readdir(d);
        if (!e) {
            err = errno;
            break;
        }
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") {
            entries.push_back({std::string(name), e->d_type});
        }
    }
    ::closedir(d);
    return err;
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

bool walkTree(int dir, const std::function<bool(const struct stat&)>& visit) {
    // Visits the items of one folder that are no folder; collects the names of those that are.
    const auto list = [&visit](int folder, std::vector<std::string>& subfolders) {
        std::vector<DirEntry> entries;
        readFolder(folder, entries);
        for (DirEntry& e : entries) {
            struct stat st;
            if (e.type == DT_DIR) {
                subfolders.push_back(std::move(e.name));
            } else if (::fstatat(folder, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            } else if (S_ISDIR(st.st_mode)) {
                subfolders.push_back(std::move(e.name));
            } else if (!visit(st)) {
                return false;
            }
        }
        return true;
    };
    FolderPath path(dir);
    std::vector<std::vector<std::string>> pending(1);
    if (!list(dir, pending.back())) {
        return false;
    }
    while (!pending.empty()) {
        if (pending.back().empty()) {
            pending.pop_back();
            if (!pending.empty() && path.leave() != 0) {
                return true;
            }
            continue;
        }
        const std::string name = std::move(pending.back().back());
        pending.back().pop_back();
        struct stat st;
        if (path.enter(name, &st) != 0) {
            continue;
        }
        if (!visit(st)) {
            return false;
        }
        pending.emplace_back();
        if (!list(path.current(), pending.back())) {
            return false;
        }
    }
    return true;
}

}  // namespace mivex
