// Preloaded, a filesystem that fails or misbehaves on demand. MIVEX_FAULT="call:ERRNO:part[:n],..."
// (up to four) makes `call` fail with ERRNO when its path (/proc/self/fd's; linkat and rename*:
// the new name's) contains `part`, every time or at the n-th such call. "read" stands for pread,
// "write" for write and pwrite. With a close fault, fstatfs says FUSE (flushes on close).
// MIVEX_ODDFS_SHORT=sfx: files ending in `sfx` report one byte less than they hold (pseudo files).
// MIVEX_ODDFS_CASEFOLD=folder: below `folder`, names are looked up ignoring ASCII case (FAT, SMB).
// MIVEX_ODDFS_VFAT=folder: below `folder`, what the kernel's vfat driver does: fstatfs says
// MSDOS_SUPER_MAGIC; chmod, chown, hard and symbolic links are refused (EPERM), unnamed files too
// (EOPNOTSUPP); names holding : ? * " < > | \ or a control character, or ending in a dot or a
// blank, are refused (EINVAL); nothing is written at or past 4 GiB (EFBIG).
// MIVEX_MEET=call: see meetAnother.
// MIVEX_COUNT_READS=file: every folder opened for reading (opendir, fdopendir) adds its path as
// one line to `file`, in one write, so that the lines of threads and processes never mix.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace {

struct Fault {
    char call[32], error[32], part[256];
    long nth;  // 0: every matching call
    int code;
    std::atomic<long> seen;
} gFaults[4];
int gCount = 0;
bool gFlushesOnClose = false;
const char* const gShort = std::getenv("MIVEX_ODDFS_SHORT");
const char* const gFold = std::getenv("MIVEX_ODDFS_CASEFOLD");
const char* const gVfat = std::getenv("MIVEX_ODDFS_VFAT");
const char* const gCountReads = std::getenv("MIVEX_COUNT_READS");

__attribute__((constructor)) void readFaults() {
    std::string rest = std::getenv("MIVEX_FAULT") ? std::getenv("MIVEX_FAULT") : "";
    for (char *save = nullptr, *one = ::strtok_r(rest.data(), ",", &save); one && gCount < 4;
         one = ::strtok_r(nullptr, ",", &save)) {
        Fault& f = gFaults[gCount++];
        const int fields =
            std::sscanf(one, "%31[^:]:%31[^:]:%255[^:]:%ld", f.call, f.error, f.part, &f.nth);
        f.code = 1;
        while (f.code < 200 &&
               (!strerrorname_np(f.code) || strcmp(strerrorname_np(f.code), f.error))) {
            ++f.code;
        }
        gFlushesOnClose |= !strcmp(f.call, "close");
        if (fields < 3 || f.code == 200) {
            std::fprintf(stderr, "faults: not call:ERRNO:part[:n]: %s\n", one);
            std::abort();
        }
    }
}

template <typename Fn>
Fn next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

std::string pathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, fd == AT_FDCWD ? "/proc/self/cwd" : "/proc/self/fd/%d", fd);
    char path[4096];
    const ssize_t n = ::readlink(link, path, sizeof path);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// With MIVEX_MEET=call, the first `call` of each thread waits until a second thread is inside its
// own first one (20 s at most), then says on standard error whether they met ("meet: call met" or
// "meet: call alone"): whether a program's threads do that work at the same time, without a clock.
const char* const gMeet = std::getenv("MIVEX_MEET");
std::atomic<int> gInside{0};
std::atomic<bool> gMet{false};
void meetAnother(const char* call) {
    thread_local bool done = false;
    if (!gMeet || done || strcmp(call, gMeet)) {
        return;
    }
    done = true;
    if (++gInside >= 2) {
        gMet = true;
    }
    for (int ms = 0; ms < 20000 && !gMet; ++ms) {
        ::usleep(1000);
    }
    --gInside;
    std::fprintf(stderr, "meet: %s %s\n", call, gMet ? "met" : "alone");
}

// True, with errno set, when `call` on `fd` (or on `name` below the folder `fd`) is to fail now.
bool fails(const char* call, int fd, const char* name = nullptr) {
    meetAnother(call);
    for (Fault& f : std::span(gFaults, gCount)) {
        const auto path = [&] {
            return !name ? pathOf(fd) : name[0] == '/' ? name : pathOf(fd) + "/" + name;
        };
        if (!strcmp(f.call, call) && path().find(f.part) != std::string::npos &&
            (f.nth == 0 || ++f.seen == f.nth)) {
            errno = f.code;
            return true;
        }
    }
    return false;
}

// True, with errno set to `err`, when `fd` (or `name` below the folder `fd`) is below gVfat.
bool vfatSays(int err, int fd, const char* name = nullptr) {
    const auto path = [&] {
        return !name ? pathOf(fd) : name[0] == '/' ? name : pathOf(fd) + "/" + name;
    };
    if (!gVfat || !path().starts_with(gVfat)) {
        return false;
    }
    errno = err;
    return true;
}
bool vfatRefusesName(int dir, const char* name) {
    const std::string_view base =
        std::string_view(name).substr(std::string_view(name).rfind('/') + 1);
    const bool bad = std::ranges::any_of(base,
                                         [](char c) {
                                             return static_cast<unsigned char>(c) < 0x20 ||
                                                    strchr(":?*\"<>|\\", c);
                                         }) ||
                     base.ends_with('.') || base.ends_with(' ');
    return bad && base != "." && base != ".." && vfatSays(EINVAL, dir, name);
}
// FAT32 holds files up to 4 GiB less a byte.
bool pastVfatEnd(int fd, off_t at, size_t n) {
    return at >= 0 && at + static_cast<off_t>(n) > 0xFFFFFFFFLL && vfatSays(EFBIG, fd);
}

// The name as a case-insensitive folder finds it: itself when present byte for byte, else an
// entry that differs only in case, else itself.
std::string fold(int dir, const char* name) {
    const std::string folder = gFold && name && !strchr(name, '/') ? pathOf(dir) : "";
    DIR* d = gFold && folder.starts_with(gFold) && ::faccessat(dir, name, F_OK, AT_SYMLINK_NOFOLLOW)
                 ? next<DIR* (*)(const char*)>("opendir")(folder.c_str())  // not a read to note
                 : nullptr;
    std::string found = name ? name : "";
    while (dirent* e = d ? ::readdir(d) : nullptr) {
        found = strcasecmp(e->d_name, name) ? found : e->d_name;
    }
    if (d) {
        ::closedir(d);
    }
    return found;
}

// A folder read: its line for MIVEX_COUNT_READS.
DIR* noteRead(DIR* d) {
    if (!gCountReads || !d) {
        return d;
    }
    const std::string line = pathOf(::dirfd(d)) + "\n";
    static const auto realOpen = next<int (*)(const char*, int, ...)>("open");
    static const auto realWrite = next<ssize_t (*)(int, const void*, size_t)>("write");
    static const auto realClose = next<int (*)(int)>("close");
    const int err = errno,
              fd = realOpen(gCountReads, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 || realWrite(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        std::fprintf(stderr, "faults: cannot note a folder read in %s\n", gCountReads);
        std::abort();
    }
    realClose(fd);
    errno = err;
    return d;
}

}  // namespace

// `name` passes its arguments on to the real call unless `failing` says its fault applies.
#define SHIM(ret, name, params, args, failing)               \
    ret name params {                                        \
        static const auto real = next<ret(*) params>(#name); \
        return failing ? -1 : real args;                     \
    }

extern "C" {

SHIM(ssize_t, pread, (int fd, void* buf, size_t n, off_t at), (fd, buf, n, at), fails("read", fd))
SHIM(ssize_t, write, (int fd, const void* buf, size_t n), (fd, buf, n),
     fails("write", fd) || (gVfat && pastVfatEnd(fd, ::lseek(fd, 0, SEEK_CUR), n)))
SHIM(ssize_t, pwrite, (int fd, const void* buf, size_t n, off_t at), (fd, buf, n, at),
     fails("write", fd) || (gVfat && pastVfatEnd(fd, at, n)))
SHIM(int, ftruncate, (int fd, off_t size), (fd, size), gVfat&& pastVfatEnd(fd, size, 0))
SHIM(int, syncfs, (int fd), (fd), fails("syncfs", fd))
SHIM(int, fchmod, (int fd, mode_t mode), (fd, mode), fails("fchmod", fd) || vfatSays(EPERM, fd))
SHIM(int, fchown, (int fd, uid_t uid, gid_t gid), (fd, uid, gid),
     fails("fchown", fd) || vfatSays(EPERM, fd))
SHIM(ssize_t, copy_file_range, (int in, off_t* inAt, int out, off_t* outAt, size_t n, unsigned f),
     (in, inAt, out, outAt, n, f),
     fails("copy_file_range", in) || fails("copy_file_range", out) ||
         (gVfat && pastVfatEnd(out, outAt ? *outAt : ::lseek(out, 0, SEEK_CUR), n)))
SHIM(int, linkat, (int fd, const char* a, int to, const char* b, int flags),
     (fd, fold(fd, a).c_str(), to, fold(to, b).c_str(), flags),
     fails("linkat", to, b) || vfatSays(EPERM, to, b))
SHIM(int, renameat, (int fd, const char* a, int to, const char* b),
     (fd, fold(fd, a).c_str(), to, fold(to, b).c_str()),
     fails("renameat", to, b) || vfatRefusesName(to, b))
SHIM(int, renameat2, (int fd, const char* a, int to, const char* b, unsigned flags),
     (fd, fold(fd, a).c_str(), to, fold(to, b).c_str(), flags),
     fails("renameat2", to, b) || vfatRefusesName(to, b))
SHIM(int, symlinkat, (const char* target, int fd, const char* name), (target, fd, name),
     vfatSays(EPERM, fd, name))
SHIM(int, mkdirat, (int fd, const char* name, mode_t mode), (fd, name, mode),
     vfatRefusesName(fd, name))
SHIM(int, mkdir, (const char* name, mode_t mode), (name, mode), vfatRefusesName(AT_FDCWD, name))
SHIM(int, fstatat, (int fd, const char* name, struct stat* st, int flags),
     (fd, fold(fd, name).c_str(), st, flags), false)
SHIM(int, unlinkat, (int fd, const char* name, int flags), (fd, fold(fd, name).c_str(), flags),
     false)

int open(const char* name, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = flags & (O_CREAT | __O_TMPFILE) ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    static const auto real = next<int (*)(const char*, int, ...)>("open");
    return fails("open", AT_FDCWD, name) ? -1 : real(name, flags, mode);
}

int openat(int fd, const char* name, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = flags & (O_CREAT | __O_TMPFILE) ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    static const auto real = next<int (*)(int, const char*, int, ...)>("openat");
    if (((flags & __O_TMPFILE) == __O_TMPFILE && vfatSays(EOPNOTSUPP, fd, name)) ||
        (flags & O_CREAT && vfatRefusesName(fd, name))) {
        return -1;
    }
    return real(fd, fold(fd, name).c_str(), flags, mode);
}

int fstat(int fd, struct stat* st) {
    static const auto real = next<int (*)(int, struct stat*)>("fstat");
    const int result = real(fd, st);
    if (result == 0 && gShort && S_ISREG(st->st_mode) && pathOf(fd).ends_with(gShort)) {
        st->st_size -= st->st_size > 0;
    }
    return result;
}

DIR* opendir(const char* name) {
    static const auto real = next<DIR* (*)(const char*)>("opendir");
    return noteRead(real(name));
}

DIR* fdopendir(int fd) {
    static const auto real = next<DIR* (*)(int)>("fdopendir");
    return noteRead(real(fd));
}

// The path is read before the descriptor goes; a failing close still closes it, as Linux does.
int close(int fd) {
    static const auto real = next<int (*)(int)>("close");
    const bool failing = fails("close", fd);
    const int err = errno, result = real(fd);
    errno = failing ? err : errno;
    return failing ? -1 : result;
}

// Only a filesystem that flushes on close can fail a close.
int fstatfs(int fd, struct statfs* fs) {
    static const auto real = next<int (*)(int, struct statfs*)>("fstatfs");
    const int result = real(fd, fs);
    if (result == 0 && gFlushesOnClose) {
        fs->f_type = 0x65735546;  // FUSE_SUPER_MAGIC
    }
    if (result == 0 && gVfat && pathOf(fd).starts_with(gVfat)) {
        fs->f_type = 0x4d44;  // MSDOS_SUPER_MAGIC
    }
    return result;
}

}  // extern "C"
