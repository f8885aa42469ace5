// Which file a name leads to, and whether it has changed since it was looked at. Both are decided
// from the inode (device and inode number, size and times), never from path text, so that links,
// bind mounts, hard links and names that a filesystem folds cannot mislead them.
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <compare>
#include <cstddef>
#include <ctime>
#include <functional>

namespace mivex {

// A file's identity: one file, whatever name or mount it is reached through.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;

    static FileId of(const struct stat& st) { return {st.st_dev, st.st_ino}; }
    static FileId of(const struct statx& st) {
        return {makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino};
    }
    friend bool operator==(const FileId&, const FileId&) = default;
    friend auto operator<=>(const FileId&, const FileId&) = default;
};

// Whether two looks at a file saw one file.
inline bool sameFile(const struct stat& a, const struct stat& b) {
    return FileId::of(a) == FileId::of(b);
}

struct FileIdHash {
    std::size_t operator()(const FileId& id) const {
        return std::hash<ino_t>()(id.ino) ^ (std::hash<dev_t>()(id.dev) * 0x9e3779b97f4a7c15ull);
    }
};

// A file as it was looked at. Any write changes its size or its change time (also through another
// name); a replacement changes its identity.
struct FileState {
    FileId id;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};

    static FileState of(const struct stat& st) {
        return {FileId::of(st), st.st_size, st.st_mtim, st.st_ctim};
    }
    // Whether `now` is the same file with the same size and modification time, and the same change
    // time when `byCtime` (a change time also moves when another name of the file comes or goes).
    bool unchangedIn(const struct stat& now, bool byCtime = true) const {
        const auto same = [](const timespec& a, const timespec& b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return FileId::of(now) == id && now.st_size == size && same(now.st_mtim, mtime) &&
               (!byCtime || same(now.st_ctim, ctime));
    }
};

}  // namespace mivex
