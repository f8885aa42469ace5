// Preloaded (LD_PRELOAD) into a child `mivex` only, to stand for a filesystem that refuses every
// mode change, as vfat does for a mode it cannot hold: fchmod fails with EPERM.
#include <sys/stat.h>

#include <cerrno>

extern "C" int fchmod(int, mode_t) {
    errno = EPERM;
    return -1;
}
