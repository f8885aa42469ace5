// errno as text, whether a file exists, whole writes, and closing that can fail.
#include "platform/posixio.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace mivex {

bool isExistingFile(std::string_view path) {
    if (path.empty() || path.find('\0') != std::string_view::npos) {
        return false;
    }
    struct stat st;
    return ::stat(std::string(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string errnoText(int error) {
    return std::system_category().message(error);
}

int writeAll(int fd, const void* data, std::size_t length, off_t offset) {
    const char* at = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t put =
            offset >= 0 ? ::pwrite(fd, at, length, offset) : ::write(fd, at, length);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (put == 0) {
            return EIO;  // nothing written and nothing said: do not spin
        }
        at += put;
        length -= static_cast<std::size_t>(put);
        if (offset >= 0) {
            offset += put;
        }
    }
    return 0;
}

bool closeCanFail(int fd) {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) {
        return true;
    }
    switch (fs.f_type) {
        case TMPFS_MAGIC:
        case RAMFS_MAGIC:
        case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
            return false;
        default:
            return true;
    }
}

}  // namespace mivex
