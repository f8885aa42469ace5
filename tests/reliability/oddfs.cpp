// Preloaded (LD_PRELOAD) into a child `mivex` only, to stand for filesystems that this kernel
// cannot mount here, each fault switched on by an environment variable:
//   MIVEX_ODDFS_NO_CHMOD   fchmod fails with EPERM, as vfat refuses a mode it cannot hold;
//   MIVEX_ODDFS_SHORT=sfx  files whose name ends in `sfx` report one byte less than they hold,
//                          as pseudo and some FUSE files report a size that is not their length.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool endsIn(int fd, const char* suffix) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[4096];
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    const std::size_t len = std::strlen(suffix);
    return n > 0 && static_cast<std::size_t>(n) >= len &&
           std::memcmp(path + n - static_cast<ssize_t>(len), suffix, len) == 0;
}

}  // namespace

extern "C" {

int fchmod(int fd, mode_t mode) {
    if (std::getenv("MIVEX_ODDFS_NO_CHMOD")) {
        errno = EPERM;
        return -1;
    }
    static auto next = reinterpret_cast<int (*)(int, mode_t)>(::dlsym(RTLD_NEXT, "fchmod"));
    return next(fd, mode);
}

int fstat(int fd, struct stat* st) {
    static auto next = reinterpret_cast<int (*)(int, struct stat*)>(::dlsym(RTLD_NEXT, "fstat"));
    const int result = next(fd, st);
    const char* suffix = std::getenv("MIVEX_ODDFS_SHORT");
    if (result == 0 && suffix && S_ISREG(st->st_mode) && st->st_size > 0 && endsIn(fd, suffix)) {
        --st->st_size;
    }
    return result;
}

}  // extern "C"
