// Loaded with LD_PRELOAD into a child process, makes every filesystem look like NFS, sshfs, FUSE
// FAT or 9p do to the transfer engine: renameat2 with flags is not understood (EINVAL), hard links
// are refused (EPERM) and there are no unnamed files (O_TMPFILE: EOPNOTSUPP).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/types.h>

namespace {

template <typename Fn>
Fn next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

using OpenAt = int (*)(int, const char*, int, ...);
using Open = int (*)(const char*, int, ...);

bool unnamed(int flags) {
    return (flags & O_TMPFILE) == O_TMPFILE;
}

}  // namespace

// The mode argument is there whenever O_CREAT or O_TMPFILE is.
#define MIVEX_MODE(flags)                                 \
    mode_t mode = 0;                                      \
    if ((flags & O_CREAT) || unnamed(flags)) {            \
        va_list ap;                                       \
        va_start(ap, flags);                              \
        mode = static_cast<mode_t>(va_arg(ap, unsigned)); \
        va_end(ap);                                       \
    }                                                     \
    if (unnamed(flags)) {                                 \
        errno = EOPNOTSUPP;                               \
        return -1;                                        \
    }

extern "C" {

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    if (flags != 0) {
        errno = EINVAL;
        return -1;
    }
    return ::renameat(fromDir, from, toDir, to);
}

int linkat(int, const char*, int, const char*, int) {
    errno = EPERM;
    return -1;
}

int link(const char*, const char*) {
    errno = EPERM;
    return -1;
}

int openat(int dir, const char* path, int flags, ...) {
    MIVEX_MODE(flags)
    static const auto real = next<OpenAt>("openat");
    return real(dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
    MIVEX_MODE(flags)
    static const auto real = next<OpenAt>("openat64");
    return real(dir, path, flags, mode);
}

int open(const char* path, int flags, ...) {
    MIVEX_MODE(flags)
    static const auto real = next<Open>("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    MIVEX_MODE(flags)
    static const auto real = next<Open>("open64");
    return real(path, flags, mode);
}

}  // extern "C"
