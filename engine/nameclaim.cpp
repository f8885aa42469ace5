// Race-free claiming of names, and the one loop that walks a series of candidate names.
#include "engine/nameclaim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <tuple>

#include "engine/transfer.h"
#include "platform/fileid.h"
#include "platform/tempnames.h"

namespace mivex {

namespace {

// A keep-both search gives up after this many taken names past where it started.
constexpr int kMaxCollisionNames = 100000;
// Temporary names hold the pid and a serial number, so a clash means a stale file of an earlier
// process with the same pid; a few more tries get past any number of those.
constexpr int kTempAttempts = 100;
// Collision numbers are remembered for up to this many folder-and-name pairs; then the memory
// starts afresh (forgetting costs one longer search, never a wrong name).
constexpr std::size_t kRememberedNames = 4096;

// What the filesystem answers when it lacks a way of placing an item, as opposed to refusing it.
bool unsupported(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}
bool linkUnsupported(int err) {
    return unsupported(err) || err == EPERM || err == EMLINK;
}

// Takes the name with an empty placeholder made exclusively (mkdirat for a folder, O_EXCL for
// anything else), then renames the item over it: renameat replaces an empty folder or a file in
// one step. Used where the filesystem has neither RENAME_NOREPLACE nor hard links (NFS, FUSE
// filesystems such as sshfs or FAT, 9p).
int renameOverPlaceholder(int fromDir, const char* from, int toDir, const char* to, bool isDir) {
    if (isDir) {
        if (::mkdirat(toDir, to, 0700) != 0) {
            return -1;
        }
    } else {
        const int fd =
            ::openat(toDir, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            return -1;
        }
        ::close(fd);
    }
    struct stat placeholder;
    const bool known = ::fstatat(toDir, to, &placeholder, AT_SYMLINK_NOFOLLOW) == 0;
    if (::renameat(fromDir, from, toDir, to) == 0) {
        return 0;
    }
    const int err = errno;
    // Only our own placeholder goes; whatever may have taken its place meanwhile stays.
    struct stat now;
    if (known && ::fstatat(toDir, to, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFile(now, placeholder)) {
        ::unlinkat(toDir, to, isDir ? AT_REMOVEDIR : 0);
    }
    errno = err;
    return -1;
}

// Walks the candidates first .. first + count - 1 (0 is the plain name) until one is taken.
template <typename NameOf>
int tryCandidates(int first, int count, const NameOf& nameOf, const ClaimAttempt& attempt,
                  int& took, std::string* taken) {
    for (int n = first; n < first + count; ++n) {
        std::string candidate = nameOf(n);
        if (attempt(candidate) == 0) {
            took = n;
            if (taken) {
                *taken = std::move(candidate);
            }
            return 0;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

std::string collisionName(const std::string& name, bool isFolder, int n) {
    std::string stem = name;
    std::string ext;
    if (!isFolder) {
        auto dot = name.find_last_of('.');
        if (dot != std::string::npos && dot != 0) {
            stem = name.substr(0, dot);
            ext = name.substr(dot);
        }
    }
    std::string suffix = n <= 1 ? " - Copy" : " - Copy (" + std::to_string(n) + ")";
    return stem + suffix + ext;
}

int renameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (!unsupported(errno)) {
        return -1;
    }
    struct stat st;
    if (::fstatat(fromDir, from, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return -1;
    }
    const bool isDir = S_ISDIR(st.st_mode);
    if (!isDir) {
        // A hard link claims the name just as atomically, and a run killed in between leaves the
        // item whole under both names rather than an empty file under the real one.
        if (::linkat(fromDir, from, toDir, to, 0) == 0) {
            ::unlinkat(fromDir, from, 0);
            return 0;
        }
        if (!linkUnsupported(errno)) {
            return -1;
        }
    }
    return renameOverPlaceholder(fromDir, from, toDir, to, isDir);
}

int CollisionNumbers::last(const Key& key) const {
    std::lock_guard lock(mLock);
    const auto it = mNumbers.find(key);
    return it == mNumbers.end() ? 0 : it->second;
}

void CollisionNumbers::note(const Key& key, int n) {
    std::lock_guard lock(mLock);
    if (mNumbers.size() >= kRememberedNames && !mNumbers.contains(key)) {
        mNumbers.clear();
    }
    mNumbers[key] = n;
}

int claimCollisionName(int dir, const std::string& name, bool isFolder, const ClaimAttempt& attempt,
                       CollisionNumbers* numbers, std::string* taken) {
    auto nameOf = [&](int n) { return n == 0 ? name : collisionName(name, isFolder, n); };
    int took = 0;
    if (tryCandidates(0, 1, nameOf, attempt, took, taken) == 0) {
        return 0;
    }
    if (errno != EEXIST) {
        return -1;
    }
    struct stat folder;
    const bool keyed = numbers && ::fstat(dir, &folder) == 0;
    const CollisionNumbers::Key key{keyed ? FileId::of(folder) : FileId{}, isFolder, name};
    int start = 1;
    if (const int last = keyed ? numbers->last(key) : 0; last > 0) {
        // Numbers freed below the remembered one are passed over, as the price of not trying
        // them all again; a memory whose own name is gone (the copies were cleared) is dropped.
        struct stat there;
        if (::fstatat(dir, nameOf(last).c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
            start = last + 1;
        }
    }
    if (tryCandidates(start, kMaxCollisionNames, nameOf, attempt, took, taken) != 0) {
        return -1;
    }
    if (keyed) {
        numbers->note(key, took);
    }
    return 0;
}

int claimTempName(const std::string& name, const ClaimAttempt& attempt, std::string& taken) {
    int took = 0;
    return tryCandidates(
        0, kTempAttempts, [&](int) { return tempName(name); }, attempt, took, &taken);
}

}  // namespace mivex
