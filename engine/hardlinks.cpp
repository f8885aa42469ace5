// Hard links inside one entry.
//
// A first copy is found again by the path /proc gives for its folder, with every link resolved,
// walked one name at a time with O_NOFOLLOW and checked by identity: a folder swapped for a link
// since then cannot make a later name link to anything but the copy. A path, not an open
// descriptor, is kept for each folder holding first copies (asked of /proc once and shared by its
// copies): a tree copied out of a backup made with hard links holds such files by the hundred
// thousand in as many folders, most of whose other names lie outside the entry. A few folders are
// kept open, found by identity.
#include "engine/hardlinks.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace mivex {

namespace {

constexpr std::size_t kCachedFolders = 32;

// Opens (O_PATH) the folder `path` names without following any link on the way; -1 and errno if
// not.
int openFolderWithoutLinks(const std::string& path) {
    int dir = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t at = 1; dir >= 0 && at < path.size();) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        const std::string part = path.substr(at, slash - at);
        const int next = ::openat(dir, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        ::close(dir);
        errno = err;
        dir = next;
        at = slash + 1;
    }
    return dir;
}

}  // namespace

HardLinks::Claim& HardLinks::Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        release();
        mOwner = std::exchange(other.mOwner, nullptr);
        mKey = other.mKey;
        mCopy = std::move(other.mCopy);
        mError = std::exchange(other.mError, 0);
    }
    return *this;
}

HardLinks::Claim::~Claim() {
    release();
}

void HardLinks::Claim::release() {
    mCopy.reset();
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
    first.name = name;
    struct stat folderSt, st;
    if (::fstat(dir, &folderSt) != 0 ||
        ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        first.error = errno;
    } else {
        first.folderId = FileId::of(folderSt);
        first.id = FileId::of(st);
        first.folder = mOwner->folderPath(dir, first.folderId, first.error);
    }
    mOwner->settle(mKey, &first);
    mOwner = nullptr;
}

std::shared_ptr<const std::string> HardLinks::folderPath(int dir, const Key& id, int& error) {
    {
        std::lock_guard lock(mPathsLock);
        if (auto it = mPaths.find(id); it != mPaths.end()) {
            return it->second;
        }
    }
    std::array<char, 32> proc;
    std::snprintf(proc.data(), proc.size(), "/proc/self/fd/%d", dir);
    std::array<char, PATH_MAX> path;
    const ssize_t n = ::readlink(proc.data(), path.data(), path.size());
    if (n < 0 || static_cast<std::size_t>(n) == path.size()) {
        error = n < 0 ? errno : ENAMETOOLONG;
        return nullptr;
    }
    auto made = std::make_shared<const std::string>(path.data(), static_cast<std::size_t>(n));
    std::lock_guard lock(mPathsLock);
    return mPaths.try_emplace(id, std::move(made)).first->second;
}

HardLinks::Claim HardLinks::claim(const struct stat& source) {
    Claim claim;
    claim.mKey = FileId::of(source);
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
    std::shared_ptr<const OpenFolder> folder;
    if (first.error != 0) {
        claim.mError = first.error;
    } else if (const int err = openFolder(first, folder); err != 0) {
        claim.mError = err;
    } else {
        Fd fd(::openat(folder->fd.get(), first.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!fd.valid()) {
            claim.mError = errno;
        } else if (::fstat(fd.get(), &st) != 0 || FileId::of(st) != first.id) {
            claim.mError = ESTALE;  // the copy was replaced since it was made
        } else {
            claim.mCopy = std::move(fd);
        }
    }
    return claim;
}

int HardLinks::openFolder(const First& first, std::shared_ptr<const OpenFolder>& folder) {
    {
        std::lock_guard lock(mFoldersLock);
        if (auto it = mFolders.find(first.folderId); it != mFolders.end()) {
            folder = it->second;
            return 0;
        }
    }
    auto opened = std::make_shared<OpenFolder>();
    opened->fd.reset(openFolderWithoutLinks(*first.folder));
    struct stat st;
    if (!opened->fd.valid() || ::fstat(opened->fd.get(), &st) != 0) {
        return errno;
    }
    opened->id = FileId::of(st);
    if (opened->id != first.folderId) {
        return ESTALE;  // another folder stands at that path now
    }
    std::lock_guard lock(mFoldersLock);
    if (mFolders.size() >= kCachedFolders) {
        mFolders.clear();  // a thread still linking into one keeps it open until done
    }
    mFolders.insert_or_assign(first.folderId, opened);
    folder = std::move(opened);
    return 0;
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
