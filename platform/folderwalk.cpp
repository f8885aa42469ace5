// Reading folders, re-opening the folders of a deep walk through "..", and the walk.
#include "platform/folderwalk.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <string_view>

#include "platform/pathtext.h"

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

WalkEnd walkFolders(int dir, const std::string& top, const FolderVisit& visit,
                    Unenterable unenterable) {
    struct Level {
        std::string where;
        std::vector<std::string> folders;  // still to walk, the next one last
    };
    FolderPath path(dir);
    std::vector<Level> stack(1, {top, {}});
    if (!visit(dir, top, nullptr, stack.back().folders)) {
        return {true, 0, {}};
    }
    while (!stack.empty()) {
        if (stack.back().folders.empty()) {
            stack.pop_back();
            if (!stack.empty() && path.leave() != 0) {
                return {false, errno, stack.back().where};
            }
            continue;
        }
        const std::string name = std::move(stack.back().folders.back());
        stack.back().folders.pop_back();
        std::string where = joinPath(stack.back().where, name);
        struct stat st;
        if (path.enter(name, &st) != 0) {
            if (unenterable == Unenterable::PassOver) {
                continue;
            }
            return {false, errno, std::move(where)};
        }
        stack.push_back({std::move(where), {}});
        if (!visit(path.current(), stack.back().where, &st, stack.back().folders)) {
            return {true, 0, {}};
        }
    }
    return {};
}

bool walkTree(int dir, const std::function<bool(const struct stat&)>& visit) {
    const auto inFolder = [&visit](int folder, const std::string&, const struct stat* st,
                                   std::vector<std::string>& subfolders) {
        if (st && !visit(*st)) {
            return false;
        }
        std::vector<DirEntry> entries;
        readFolder(folder, entries);
        for (DirEntry& e : entries) {
            struct stat item;
            if (e.type == DT_DIR) {
                subfolders.push_back(std::move(e.name));
            } else if (::fstatat(folder, e.name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            } else if (S_ISDIR(item.st_mode)) {
                subfolders.push_back(std::move(e.name));
            } else if (!visit(item)) {
                return false;
            }
        }
        return true;
    };
    return !walkFolders(dir, {}, inFolder).stopped;
}

}  // namespace mivex
