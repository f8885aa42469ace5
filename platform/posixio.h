// Small tools for files on descriptors, written once for every part of the program: errno as text,
// whether a file exists, a write that finishes, and whether closing a file can fail.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace mivex {

// Whether `path` names an existing regular file, links followed (a folder or a FIFO does not
// count). A path holding a NUL byte names none: the system would see a shorter one.
bool isExistingFile(std::string_view path);

// What errno `error` means, as the system says it.
std::string errnoText(int error);

// Writes all of `data`, going on after short writes and EINTR: 0, or the errno of the failure.
// With `offset` >= 0 it writes there (pwrite) and leaves the file position alone.
int writeAll(int fd, const void* data, std::size_t length, off_t offset = -1);
inline int writeAll(int fd, std::string_view text) {
    return writeAll(fd, text.data(), text.size());
}

// Whether closing a file written on the filesystem of `fd` can fail on its own, reporting a
// delayed write error. Only a filesystem that flushes on close can (NFS, FUSE, CIFS, overlays of
// them); false only for filesystems known to have nothing to flush (tmpfs, ext2/3/4, xfs, btrfs).
bool closeCanFail(int fd);

}  // namespace mivex
