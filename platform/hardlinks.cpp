// Hard links inside one entry.
//
// A first copy is found again by its path, which /proc gives with every link resolved, walked one
// name at a time with O_NOFOLLOW and checked by identity: a folder swapped for a link since then
// cannot make a later name link to anything but the copy. A path, not an open descriptor, is kept
// for each file: a tree copied out of a backup made with hard links holds such files by the
// hundred thousand, most of whose other names lie outside the entry.
#include "platform/hardlinks.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace mivex {

namespace {

// Opens (O_PATH) what `path` names without following any link on the way; -1 and errno if not.
int openWithoutLinks(const std::string& path) {
    int dir = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t at = 1; dir >= 0;) {
        const std::size_t slash = path.find('/', at);
        const bool last = slash == std::string::npos;
        const std::string part = path.substr(at, last ? std::string::npos : slash - at);
        const int next =
            ::openat(dir, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC | (last ? 0 : O_DIRECTORY));
        const int err = errno;
        ::close(dir);
        errno = err;
        dir = next;
        if (last) {
            break;
        }
        at = slash + 1;
    }
    return dir;
}

}  // namespace

HardLinks::Claim& HardLinks::Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        this->~Claim();
        mOwner = std::exchange(other.mOwner, nullptr);
        mKey = other.mKey;
        mCopy = std::exchange(other.mCopy, -1);
        mError = std::exchange(other.mError, 0);
    }
    return *this;
}

HardLinks::Claim::~Claim() {
    if (mCopy >= 0) {
        ::close(mCopy);
        mCopy = -1;
    }
    if (mOwner) {
        mOwner->settle(mKey, nullptr);
        mOwner = nullptr;
    }
}

void HardLinks::Claim::named(int dir, const std::string& name) {
    if (!mOwner) {
        return;
    }
    First first;
    first.named = true;
    std::array<char, 32> proc;
    std::snprintf(proc.data(), proc.size(), "/proc/self/fd/%d", dir);
    std::string folder(PATH_MAX, '\0');
    const ssize_t n = ::readlink(proc.data(), folder.data(), folder.size());
    struct stat st;
    if (n < 0 || static_cast<std::size_t>(n) == folder.size()) {
        first.error = n < 0 ? errno : ENAMETOOLONG;
    } else if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        first.error = errno;
    } else {
        folder.resize(static_cast<std::size_t>(n));
        first.path = (folder == "/" ? "" : folder) + "/" + name;
        first.dev = st.st_dev;
        first.ino = st.st_ino;
    }
    mOwner->settle(mKey, &first);
    mOwner = nullptr;
}

HardLinks::Claim HardLinks::claim(const struct stat& source) {
    Claim claim;
    claim.mKey = {source.st_dev, source.st_ino};
    First first;
    {
        std::unique_lock lock(mLock);
        for (;;) {
            const auto [it, inserted] = mFiles.try_emplace(claim.mKey);
            if (inserted) {
                claim.mOwner = this;
                return claim;
            }
            if (it->second.named) {
                first = it->second;
                break;
            }
            mSettled.wait(lock);
        }
    }
    if (first.error != 0) {
        claim.mError = first.error;
        return claim;
    }
    const int fd = openWithoutLinks(first.path);
    struct stat st;
    if (fd < 0) {
        claim.mError = errno;
    } else if (::fstat(fd, &st) != 0 || st.st_dev != first.dev || st.st_ino != first.ino) {
        ::close(fd);
        claim.mError = ESTALE;  // the copy was replaced since it was made
    } else {
        claim.mCopy = fd;
    }
    return claim;
}

void HardLinks::settle(const Key& key, First* first) {
    {
        std::lock_guard lock(mLock);
        if (first) {
            mFiles[key] = std::move(*first);
        } else {
            mFiles.erase(key);  // the next name to come copies it
        }
    }
    mSettled.notify_all();
}

}  // namespace mivex
