// The compact record of a move across filesystems, and the removal that follows its durable copy.
#include "engine/copiedrecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/folderwalk.h"
#include "platform/resultcodes.h"

namespace mivex {

namespace {

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    // splitmix64's finaliser over the running value: every input bit reaches every output bit.
    h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebull;
    h ^= h >> 31;
    return h;
}

// An item's mark. A folder is marked by identity alone: its size and times change as its items
// come and go. A file or link by its state too; its change time only when it had one name, as
// removing one name of a file with several changes the others'.
std::uint64_t markOf(const struct stat& st, bool withChangeTime) {
    std::uint64_t h = mix(0, static_cast<std::uint64_t>(st.st_dev));
    h = mix(h, static_cast<std::uint64_t>(st.st_ino));
    h = mix(h, static_cast<std::uint64_t>(st.st_mode & S_IFMT));
    if (S_ISDIR(st.st_mode)) {
        return h;
    }
    h = mix(h, static_cast<std::uint64_t>(st.st_size));
    h = mix(h, static_cast<std::uint64_t>(st.st_mtim.tv_sec));
    h = mix(h, static_cast<std::uint64_t>(st.st_mtim.tv_nsec));
    if (withChangeTime) {
        h = mix(h, static_cast<std::uint64_t>(st.st_ctim.tv_sec));
        h = mix(h, static_cast<std::uint64_t>(st.st_ctim.tv_nsec) | (1ull << 40));
    }
    return h;
}

constexpr int kMarkBits = 40;
constexpr std::uint64_t kMarkMask = (std::uint64_t{1} << kMarkBits) - 1;

std::uint64_t tagOf(const struct stat& st) {
    return static_cast<std::uint64_t>(st.st_ino) & ((std::uint64_t{1} << (64 - kMarkBits)) - 1);
}

CopiedRecord::Folder::Item itemOf(const struct stat& st) {
    const std::uint64_t mark = markOf(st, !S_ISDIR(st.st_mode) && st.st_nlink == 1);
    return (tagOf(st) << kMarkBits) | (mark & kMarkMask);
}

bool marks(CopiedRecord::Folder::Item item, std::uint64_t mark) {
    return (item & kMarkMask) == (mark & kMarkMask);
}

}  // namespace

void CopiedRecord::expect(Folder* folder, std::size_t count) {
    if (folder) {
        std::lock_guard lock(mLock);
        folder->mItems.reserve(folder->mItems.size() + count);
    }
}

CopiedRecord::Folder* CopiedRecord::note(Folder* folder, const struct stat& st) {
    if (!folder) {
        return nullptr;
    }
    std::lock_guard lock(mLock);
    folder->mItems.push_back(itemOf(st));
    if (!S_ISDIR(st.st_mode)) {
        return nullptr;
    }
    return &mFolders[FileId::of(st)];
}

// What the name standing in a folder whose copied items are `folder` (sorted) is to the move.
CopiedRecord::Found CopiedRecord::find(const Folder& folder, const struct stat& now,
                                       Folder** below) {
    // Sorted, the items that share the inode's low bits stand together.
    const std::uint64_t tag = tagOf(now);
    const auto from =
        std::lower_bound(folder.mItems.begin(), folder.mItems.end(), tag << kMarkBits);
    const bool lastTag = tag + 1 == std::uint64_t{1} << (64 - kMarkBits);  // no next tag
    const auto to = lastTag ? folder.mItems.end()
                            : std::lower_bound(from, folder.mItems.end(), (tag + 1) << kMarkBits);
    for (auto it = from; it != to; ++it) {
        const Folder::Item item = *it;
        if (S_ISDIR(now.st_mode)) {
            if (marks(item, markOf(now, false))) {
                if (auto sub = mFolders.find(FileId::of(now)); sub != mFolders.end()) {
                    *below = &sub->second;
                    return Found::Subfolder;
                }
            }
        } else if (marks(item, markOf(now, true)) || marks(item, markOf(now, false))) {
            // The second form matches only a mark made without the change time: a file that
            // had several names when it was copied.
            return Found::File;
        }
    }
    // A folder that was not copied, or another item under a copied one's name, is not ours.
    return from != to && !S_ISDIR(now.st_mode) ? Found::Changed : Found::Foreign;
}

// A folder being emptied by remove().
struct CopiedRecord::Frame {
    Folder* folder;
    std::vector<DirEntry> names;
    std::size_t next = 0;
    std::string name;  // in the folder above
};

// Takes one name: a file goes at once, a folder is entered and its names read.
int CopiedRecord::take(FolderPath& path, std::vector<Frame>& stack, Folder& in,
                       const std::string& item) {
    struct stat now;
    if (::fstatat(path.current(), item.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? kSuccess : codeFromErrno(errno, true);
    }
    Folder* below = nullptr;
    switch (find(in, now, &below)) {
        case Found::Foreign:
            return kSuccess;  // stays, and so does its folder (kDirNotEmpty there)
        case Found::Changed:
            // Written to since it was copied: its copy holds the old bytes, so the source keeps
            // the only current ones.
            return kInUse;
        case Found::File:
            return ::unlinkat(path.current(), item.c_str(), 0) == 0 ? kSuccess
                                                                    : codeFromErrno(errno, true);
        case Found::Subfolder:
            break;
    }
    struct stat opened;
    if (path.enter(item, &opened) != 0) {
        return codeFromErrno(errno, true);
    }
    if (!sameFile(opened, now)) {
        path.leave();
        return kDirNotEmpty;  // swapped between the look and the opening
    }
    // Sorted once, in place, so that each of its names is found in a few steps.
    std::sort(below->mItems.begin(), below->mItems.end());
    Frame frame{below, {}, 0, item};
    if (const int err = readFolder(path.current(), frame.names); err != 0) {
        path.leave();
        return codeFromErrno(err, true);
    }
    stack.push_back(std::move(frame));
    return kSuccess;
}

int CopiedRecord::remove(int parentDir, const std::string& name) {
    FolderPath path(parentDir);
    std::vector<Frame> stack;
    std::sort(mTop.mItems.begin(), mTop.mItems.end());
    if (const int code = take(path, stack, mTop, name); code != kSuccess) {
        return code;
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.names.size()) {
            const std::string item = std::move(frame.names[frame.next++].name);
            if (const int code = take(path, stack, *frame.folder, item); code != kSuccess) {
                return code;
            }
            continue;
        }
        const std::string done = std::move(frame.name);
        stack.pop_back();
        if (path.leave() != 0) {
            return kInUse;
        }
        if (::unlinkat(path.current(), done.c_str(), AT_REMOVEDIR) != 0) {
            return errno == ENOTEMPTY || errno == EEXIST ? kDirNotEmpty
                                                         : codeFromErrno(errno, true);
        }
    }
    return kSuccess;
}

}  // namespace mivex
