// Preloaded (LD_PRELOAD) into a child `mivex` only, to stand for a case-insensitive destination
// (FAT, exFAT, a casefold folder, SMB) where this kernel mounts none. Below the folder named by
// MIVEX_CASEFOLD_DIR a name reached through a folder descriptor finds an existing entry that
// differs from it only in ASCII case, as such a filesystem's lookup does; names keep their case.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool underFoldedFolder(int dirfd) {
    const char* root = std::getenv("MIVEX_CASEFOLD_DIR");
    if (!root || dirfd < 0) {
        return false;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    char path[4096];
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0) {
        return false;
    }
    path[n] = '\0';
    const std::size_t len = std::strlen(root);
    return std::strncmp(path, root, len) == 0 && (path[len] == '\0' || path[len] == '/');
}

// The name as the folder holds it: itself when present byte for byte, else an entry that
// differs only in case, else itself.
std::string fold(int dirfd, const char* name) {
    if (!name || !*name || std::strchr(name, '/') || !std::strcmp(name, ".") ||
        !std::strcmp(name, "..") || !underFoldedFolder(dirfd)) {
        return name ? name : "";
    }
    std::string found = name;
    const int copy = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    DIR* d = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!d) {
        return found;
    }
    ::rewinddir(d);
    bool exact = false;
    std::string other;
    while (dirent* e = ::readdir(d)) {
        if (!std::strcmp(e->d_name, name)) {
            exact = true;
        } else if (other.empty() && !::strcasecmp(e->d_name, name)) {
            other = e->d_name;
        }
    }
    ::closedir(d);
    return exact || other.empty() ? found : other;
}

template <typename F>
F real(const char* symbol) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, symbol));
}

}  // namespace

extern "C" {

int openat(int dirfd, const char* name, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | __O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    static auto next = real<int (*)(int, const char*, int, ...)>("openat");
    return next(dirfd, fold(dirfd, name).c_str(), flags, mode);
}

int fstatat(int dirfd, const char* name, struct stat* st, int flags) {
    static auto next = real<int (*)(int, const char*, struct stat*, int)>("fstatat");
    return next(dirfd, fold(dirfd, name).c_str(), st, flags);
}

int mkdirat(int dirfd, const char* name, mode_t mode) {
    static auto next = real<int (*)(int, const char*, mode_t)>("mkdirat");
    return next(dirfd, fold(dirfd, name).c_str(), mode);
}

int renameat2(int from, const char* a, int to, const char* b, unsigned flags) {
    static auto next = real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return next(from, fold(from, a).c_str(), to, fold(to, b).c_str(), flags);
}

int renameat(int from, const char* a, int to, const char* b) {
    return renameat2(from, a, to, b, 0);
}

int linkat(int from, const char* a, int to, const char* b, int flags) {
    static auto next = real<int (*)(int, const char*, int, const char*, int)>("linkat");
    return next(from, fold(from, a).c_str(), to, fold(to, b).c_str(), flags);
}

int symlinkat(const char* target, int dirfd, const char* name) {
    static auto next = real<int (*)(const char*, int, const char*)>("symlinkat");
    return next(target, dirfd, fold(dirfd, name).c_str());
}

int unlinkat(int dirfd, const char* name, int flags) {
    static auto next = real<int (*)(int, const char*, int)>("unlinkat");
    return next(dirfd, fold(dirfd, name).c_str(), flags);
}

}  // extern "C"
