// Preloaded into a child `mivex`, stands for filesystems this kernel cannot mount here:
// MIVEX_ODDFS_SHORT=sfx: files ending in `sfx` report one byte less than they hold (pseudo files);
// MIVEX_ODDFS_CASEFOLD=folder: below `folder`, names are looked up ignoring ASCII case (FAT, SMB).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string pathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[4096];
    const ssize_t n = fd < 0 ? -1 : ::readlink(link, path, sizeof path);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// The name as the folder holds it: itself when present byte for byte, else an entry that
// differs only in case, else itself.
std::string fold(int dirfd, const char* name) {
    const char* root = std::getenv("MIVEX_ODDFS_CASEFOLD");
    if (!root || !name || !*name || std::strchr(name, '/') || !std::strcmp(name, ".") ||
        !std::strcmp(name, "..")) {
        return name ? name : "";
    }
    const std::string folder = pathOf(dirfd);
    const std::size_t len = std::strlen(root);
    DIR* d = folder.compare(0, len, root) == 0 && (folder.size() == len || folder[len] == '/')
                 ? ::opendir(folder.c_str())
                 : nullptr;
    std::string other;
    while (dirent* e = d ? ::readdir(d) : nullptr) {
        if (!std::strcmp(e->d_name, name)) {
            other.clear();
            break;
        }
        if (other.empty() && !::strcasecmp(e->d_name, name)) {
            other = e->d_name;
        }
    }
    if (d) {
        ::closedir(d);
    }
    return other.empty() ? name : other;
}

template <typename F>
F real(const char* symbol) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, symbol));
}

}  // namespace

extern "C" {

int fstat(int fd, struct stat* st) {
    static const auto next = real<int (*)(int, struct stat*)>("fstat");
    const int result = next(fd, st);
    const char* suffix = std::getenv("MIVEX_ODDFS_SHORT");
    if (result == 0 && suffix && S_ISREG(st->st_mode) && st->st_size > 0 &&
        pathOf(fd).ends_with(suffix)) {
        --st->st_size;
    }
    return result;
}

int openat(int dirfd, const char* name, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | __O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    static const auto next = real<int (*)(int, const char*, int, ...)>("openat");
    return next(dirfd, fold(dirfd, name).c_str(), flags, mode);
}

int fstatat(int dirfd, const char* name, struct stat* st, int flags) {
    static const auto next = real<int (*)(int, const char*, struct stat*, int)>("fstatat");
    return next(dirfd, fold(dirfd, name).c_str(), st, flags);
}

int renameat2(int from, const char* a, int to, const char* b, unsigned flags) {
    static const auto next =
        real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return next(from, fold(from, a).c_str(), to, fold(to, b).c_str(), flags);
}

int renameat(int from, const char* a, int to, const char* b) {
    return renameat2(from, a, to, b, 0);
}

int linkat(int from, const char* a, int to, const char* b, int flags) {
    static const auto next = real<int (*)(int, const char*, int, const char*, int)>("linkat");
    return next(from, fold(from, a).c_str(), to, fold(to, b).c_str(), flags);
}

int unlinkat(int dirfd, const char* name, int flags) {
    static const auto next = real<int (*)(int, const char*, int)>("unlinkat");
    return next(dirfd, fold(dirfd, name).c_str(), flags);
}

}  // extern "C"
