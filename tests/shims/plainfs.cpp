// Preloaded: every filesystem looks like NFS, sshfs or 9p: no renameat2 flags, hard links or
// O_TMPFILE.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>

static int refuse(int error) {
    errno = error;
    return -1;
}

extern "C" {

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    return flags != 0 ? refuse(EINVAL) : ::renameat(fromDir, from, toDir, to);
}

int linkat(int, const char*, int, const char*, int) {
    return refuse(EPERM);
}

int openat(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = flags & O_CREAT ? static_cast<mode_t>(va_arg(ap, unsigned)) : 0;
    va_end(ap);
    static const auto real =
        reinterpret_cast<int (*)(int, const char*, int, ...)>(::dlsym(RTLD_NEXT, "openat"));
    return (flags & O_TMPFILE) == O_TMPFILE ? refuse(EOPNOTSUPP) : real(dir, path, flags, mode);
}

}  // extern "C"
