// Preloaded into a child process: MIVEX_FAULT="call:ERRNO:part[:n],..." (up to four) makes `call`
// fail with ERRNO when its path (/proc/self/fd's; linkat and rename*: the new name's) contains
// `part`, every time or at the n-th such call. "read" stands for pread, "write" for write and
// pwrite. With a close fault, fstatfs says FUSE, a filesystem that flushes on close.
#include <dlfcn.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Fault {
    char call[32], error[32], part[256];
    long nth;  // 0: every matching call
    int code;
    std::atomic<long> seen;
} gFaults[4];
int gCount = 0;

__attribute__((constructor)) void readFaults() {
    const char* spec = std::getenv("MIVEX_FAULT");
    std::string rest = spec ? spec : "";
    for (char* save = nullptr; gCount < 4;) {
        const char* one = ::strtok_r(gCount == 0 ? rest.data() : nullptr, ",", &save);
        if (!one) {
            return;
        }
        Fault& f = gFaults[gCount++];
        f.nth = 0;
        const int fields =
            std::sscanf(one, "%31[^:]:%31[^:]:%255[^:]:%ld", f.call, f.error, f.part, &f.nth);
        for (f.code = 1; fields >= 3 && f.code < 200; ++f.code) {
            if (const char* name = ::strerrorname_np(f.code); name && !strcmp(name, f.error)) {
                break;
            }
        }
        if (fields < 3 || f.code == 200) {
            std::fprintf(stderr, "faults: not call:ERRNO:part[:n]: %s\n", one);
            std::abort();
        }
    }
}

std::string pathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, fd == AT_FDCWD ? "/proc/self/cwd" : "/proc/self/fd/%d", fd);
    char path[4096];
    const ssize_t n = ::readlink(link, path, sizeof path);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// True, with errno set, when `call` on `fd` (or on `name` below the folder `fd`) is to fail now.
bool fails(const char* call, int fd, const char* name = nullptr) {
    for (int i = 0; i < gCount; ++i) {
        Fault& f = gFaults[i];
        if (strcmp(f.call, call) != 0) {
            continue;
        }
        const std::string path = !name            ? pathOf(fd)
                                 : name[0] == '/' ? name
                                                  : pathOf(fd) + "/" + name;
        if (path.find(f.part) != std::string::npos && (f.nth == 0 || ++f.seen == f.nth)) {
            errno = f.code;
            return true;
        }
    }
    return false;
}

template <typename Fn>
Fn next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

// Each call passes straight on to the real one unless its fault applies.
extern "C" {

ssize_t pread(int fd, void* buf, size_t n, off_t at) {
    static const auto real = next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    return fails("read", fd) ? -1 : real(fd, buf, n, at);
}
ssize_t write(int fd, const void* buf, size_t n) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    return fails("write", fd) ? -1 : real(fd, buf, n);
}
ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    return fails("write", fd) ? -1 : real(fd, buf, n, at);
}
int syncfs(int fd) {
    static const auto real = next<int (*)(int)>("syncfs");
    return fails("syncfs", fd) ? -1 : real(fd);
}
int fchmod(int fd, mode_t mode) {
    static const auto real = next<int (*)(int, mode_t)>("fchmod");
    return fails("fchmod", fd) ? -1 : real(fd, mode);
}
ssize_t copy_file_range(int in, off_t* inAt, int out, off_t* outAt, size_t n, unsigned flags) {
    static const auto real =
        next<ssize_t (*)(int, off_t*, int, off_t*, size_t, unsigned)>("copy_file_range");
    return fails("copy_file_range", in) || fails("copy_file_range", out)
               ? -1
               : real(in, inAt, out, outAt, n, flags);
}
int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    static const auto real = next<int (*)(int, const char*, int, const char*, int)>("linkat");
    return fails("linkat", toDir, to) ? -1 : real(fromDir, from, toDir, to, flags);
}
int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static const auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    return fails("renameat", toDir, to) ? -1 : real(fromDir, from, toDir, to);
}
int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    static const auto real =
        next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return fails("renameat2", toDir, to) ? -1 : real(fromDir, from, toDir, to, flags);
}

// The path is read before the descriptor goes; a failing close still closes it, as Linux does.
int close(int fd) {
    static const auto real = next<int (*)(int)>("close");
    const bool failing = fails("close", fd);
    const int err = errno;
    const int result = real(fd);
    errno = failing ? err : errno;
    return failing ? -1 : result;
}

// Only a filesystem that flushes on close can fail a close.
int fstatfs(int fd, struct statfs* fs) {
    static const auto real = next<int (*)(int, struct statfs*)>("fstatfs");
    const int result = real(fd, fs);
    for (int i = 0; result == 0 && i < gCount; ++i) {
        if (!strcmp(gFaults[i].call, "close")) {
            fs->f_type = 0x65735546;  // FUSE_SUPER_MAGIC
        }
    }
    return result;
}

}  // extern "C"
