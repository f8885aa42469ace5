// Temporary names that tell their owner, and the clean-up of those whose owner is gone.
#include "platform/tempnames.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/fileid.h"
#include "platform/folderwalk.h"
#include "platform/pathtext.h"

namespace mivex {

namespace {

constexpr std::string_view kPrefix = ".mivex-";
constexpr std::string_view kSuffix = ".part";
// Folders looked through for stale files are remembered up to this many; then the memory starts
// afresh (a second look costs time, never safety).
constexpr std::size_t kRememberedFolders = 4096;

// The machine (its host name) and the process namespace (the inode of /proc/self/ns/pid): a pid
// only means something to a process that shares both.
unsigned hostTag() {
    static const unsigned tag = [] {
        std::uint32_t h = 2166136261u;  // FNV-1a
        auto mix = [&h](const void* data, std::size_t size) {
            const auto* p = static_cast<const unsigned char*>(data);
            for (std::size_t i = 0; i < size; ++i) {
                h = (h ^ p[i]) * 16777619u;
            }
        };
        std::array<char, 256> host{};
        ::gethostname(host.data(), host.size() - 1);
        mix(host.data(), std::string_view(host.data()).size());
        struct stat ns;
        if (::stat("/proc/self/ns/pid", &ns) == 0) {
            mix(&ns.st_dev, sizeof ns.st_dev);
            mix(&ns.st_ino, sizeof ns.st_ino);
        }
        return static_cast<unsigned>(h);
    }();
    return tag;
}

// The owner's pid of a temporary name made on this machine and namespace, or 0.
pid_t ownerOf(std::string_view name) {
    if (!isTempName(std::string(name))) {
        return 0;
    }
    unsigned tag = 0;
    unsigned long pid = 0;
    int used = 0;
    const std::string head(name.substr(kPrefix.size(), 32));
    if (std::sscanf(head.c_str(), "%8x-%lu-%n", &tag, &pid, &used) != 2 || used == 0 ||
        tag != hostTag() || pid == 0 || pid > 0x7fffffff) {
        return 0;
    }
    return static_cast<pid_t>(pid);
}

}  // namespace

std::string tempName(const std::string& name) {
    static std::atomic<unsigned> serial{0};
    // "%08x-%ld-%x-" by hand: one is made for every file that replaces another, and snprintf cost
    // more than a thousand instructions of each.
    std::array<char, 48> tag;
    char* end = std::to_chars(tag.data(), tag.data() + 8, hostTag(), 16).ptr;
    const auto width = static_cast<std::size_t>(end - tag.data());
    std::string result(kPrefix);
    result.append(8 - width, '0').append(tag.data(), width) += '-';
    end = std::to_chars(tag.data(), tag.data() + tag.size(), static_cast<long>(::getpid())).ptr;
    result.append(tag.data(), end) += '-';
    end = std::to_chars(tag.data(), tag.data() + tag.size(), serial.fetch_add(1), 16).ptr;
    result.append(tag.data(), end) += '-';
    // Short enough for NAME_MAX whatever the final name's length.
    return result.append(name, 0, 180).append(kSuffix);
}

bool isTempName(const std::string& name) {
    return name.size() > kPrefix.size() + kSuffix.size() && name.starts_with(kPrefix) &&
           name.ends_with(kSuffix);
}

int createTempBeside(const std::string& path, std::string& tempPath, mode_t mode) {
    const std::string folder = parentOf(path);
    const std::string name = nameOf(path);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return -1;
    }
    removeStaleTemps(dir);
    int fd = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = tempName(name);
        fd = ::openat(dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            tempPath = joinPath(folder, temp);
            break;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const int error = errno;
    ::close(dir);
    errno = error;
    return fd;
}

void removeStaleTemps(int dir) {
    // A folder that cannot be read holds nothing this could remove: the copy will say why.
    std::vector<DirEntry> entries;
    readFolder(dir, entries);
    for (const DirEntry& e : entries) {
        const pid_t pid = ownerOf(e.name);
        // ESRCH only: EPERM means the process lives under another user.
        if (pid != 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) {
            ::unlinkat(dir, e.name.c_str(), 0);
        }
    }
}

void StaleTemps::remove(int dir, const struct stat& st) {
    if (mLooked.size() >= kRememberedFolders) {
        mLooked.clear();
    }
    if (mLooked.insert(FileId::of(st)).second) {
        removeStaleTemps(dir);
    }
}

}  // namespace mivex
