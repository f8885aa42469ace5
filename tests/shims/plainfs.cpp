// Preloaded: every filesystem looks like NFS, sshfs or 9p: no renameat2 flags, hard links or
// O_TMPFILE.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>

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

int openat(int dir, const char* path, int flags, ...) {
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, unsigned));
        va_end(ap);
    }
    static const auto real =
        reinterpret_cast<int (*)(int, const char*, int, ...)>(::dlsym(RTLD_NEXT, "openat"));
    return real(dir, path, flags, mode);
}

}  // extern "C"
