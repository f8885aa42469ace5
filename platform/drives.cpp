// Drives, folders and files as the browse panes see them. Everything here is read straight from
// the kernel (mountinfo, readdir, stat) so the panes show exactly what a transfer would touch.
#include "platform/drives.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/fd.h"
#include "platform/folderwalk.h"

namespace mivex {

namespace {

// Kernel and runtime filesystems that hold nothing a person copies files to or from.
constexpr std::string_view kPseudoFilesystems[] = {
    "proc",       "sysfs",        "cgroup",    "cgroup2",    "devpts",          "devtmpfs",
    "mqueue",     "debugfs",      "tracefs",   "securityfs", "pstore",          "bpf",
    "configfs",   "fusectl",      "hugetlbfs", "autofs",     "binfmt_misc",     "rpc_pipefs",
    "nsfs",       "efivarfs",     "selinuxfs", "ramfs",      "rootfs",          "sockfs",
    "pipefs",     "anon_inodefs", "binder",    "nfsd",       "fuse.gvfsd-fuse", "fuse.portal",
    "fuse.lxcfs",
};

bool isAtOrBelow(std::string_view path, std::string_view folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

bool isSystemLocation(std::string_view mountPoint) {
    // Fedora and Arch mount removable media below /run/media/<user>/.
    if (isAtOrBelow(mountPoint, "/run/media") && mountPoint != "/run/media") {
        return false;
    }
    for (std::string_view folder : {"/proc", "/sys", "/dev", "/run"}) {
        if (isAtOrBelow(mountPoint, folder)) {
            return true;
        }
    }
    return false;
}

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo writes blanks, tabs, newlines and backslashes in names as "\ooo".
std::string unescapeOctal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && isOctal(text[i + 1]) &&
            isOctal(text[i + 2]) && isOctal(text[i + 3])) {
            out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) |
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The non-empty pieces of `text` between the separators.
std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(separator, pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > pos) {
            pieces.push_back(text.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return pieces;
}

bool keepMount(const std::string& mountPoint, std::string_view fsType) {
    if (mountPoint.empty() || mountPoint.front() != '/' || isSystemLocation(mountPoint)) {
        return false;
    }
    if (std::ranges::find(kPseudoFilesystems, fsType) != std::end(kPseudoFilesystems)) {
        return false;
    }
    // Every installed snap is a loop-mounted squashfs below /snap.
    return !(fsType == "squashfs" && isAtOrBelow(mountPoint, "/snap"));
}

bool isDotName(const char* name) {
    return name[0] == '.';
}

// The type of a directory entry, following links; DT_UNKNOWN for dangling links and entries that
// vanished meanwhile.
unsigned char entryType(int dirFd, const char* name, unsigned char type) {
    if (type != DT_LNK && type != DT_UNKNOWN) {
        return type;
    }
    struct stat st {};
    if (::fstatat(dirFd, name, &st, 0) != 0) {
        return DT_UNKNOWN;
    }
    if (S_ISDIR(st.st_mode)) {
        return DT_DIR;
    }
    return S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
}

// Collects the visible names of `folder` whose (link-followed) type is `wanted` and that pass
// `accept`, sorted byte-wise.
template <typename Accept>
bool readEntries(const std::string& folder, unsigned char wanted, Accept accept,
                 std::vector<std::string>& names, int& err) {
    names.clear();
    const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) {
        err = errno;
        return false;
    }
    std::vector<DirEntry> entries;
    const int readErr = readFolder(dir.get(), entries);
    for (const DirEntry& e : entries) {
        const char* name = e.name.c_str();
        if (!isDotName(name) && entryType(dir.get(), name, e.type) == wanted && accept(name)) {
            names.emplace_back(name);
        }
    }
    if (readErr != 0) {
        // A device that fails half-way through gives no trustworthy listing at all.
        names.clear();
        err = readErr;
        return false;
    }
    std::sort(names.begin(), names.end());
    err = 0;
    return true;
}

bool matchesPattern(const std::string& pattern, const char* name) {
    // "*.*" keeps its old meaning of "every file", dot or no dot. Several patterns may be given,
    // separated by ";" ("*.txt;*.doc").
    for (const std::string_view piece : splitOn(pattern, ';')) {
        const std::string one(piece);
        if (one == "*.*" || ::fnmatch(one.c_str(), name, 0) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> drivesFromMountInfo(std::string_view mountinfo) {
    std::vector<std::string> drives;
    for (const std::string_view line : splitOn(mountinfo, '\n')) {
        const std::vector<std::string_view> fields = splitOn(line, ' ');
        // id parent major:minor root mount-point options [optional...] - type source super-options
        auto dash = std::find(fields.begin() + std::min<std::size_t>(fields.size(), 6),
                              fields.end(), std::string_view("-"));
        if (fields.size() < 5 || dash == fields.end() || dash + 1 == fields.end()) {
            continue;
        }
        std::string mountPoint = unescapeOctal(fields[4]);
        if (keepMount(mountPoint, *(dash + 1)) && mountPoint != "/") {
            drives.push_back(std::move(mountPoint));
        }
    }
    std::sort(drives.begin(), drives.end());
    drives.erase(std::unique(drives.begin(), drives.end()), drives.end());
    drives.insert(drives.begin(), "/");
    return drives;
}

std::vector<std::string> listDrives() {
    std::ifstream in("/proc/self/mountinfo");
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> drives = drivesFromMountInfo(text.str());
    // Containers bind-mount single files (/etc/hosts); those are no drives. The cached attributes
    // suffice and keep a dead network mount from stalling the window; a mount that cannot be
    // stat'ed at all stays listed so that choosing it reports the device as unavailable.
    std::erase_if(drives, [](const std::string& drive) {
        struct statx stx {};
        return ::statx(AT_FDCWD, drive.c_str(),
                       AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, STATX_TYPE,
                       &stx) == 0 &&
               (stx.stx_mask & STATX_TYPE) != 0 && !S_ISDIR(stx.stx_mode);
    });
    return drives;
}

std::string driveOf(const std::string& path, const std::vector<std::string>& drives) {
    std::string best = "/";
    for (const std::string& drive : drives) {
        const bool holds = drive == "/" || isAtOrBelow(path, drive);
        if (holds && drive.size() > best.size()) {
            best = drive;
        }
    }
    return best;
}

bool isDeviceUnavailable(int err) {
    switch (err) {
        case EIO:
        case ENOMEDIUM:
        case ENOTCONN:
        case ESTALE:
        case ENODEV:
            return true;
        default:
            return false;
    }
}

bool readSubfolders(const std::string& folder, std::vector<std::string>& names, int& err) {
    return readEntries(
        folder, DT_DIR, [](const char*) { return true; }, names, err);
}

bool readFiles(const std::string& folder, const std::string& pattern,
               std::vector<std::string>& names, int& err) {
    return readEntries(
        folder, DT_REG, [&pattern](const char* name) { return matchesPattern(pattern, name); },
        names, err);
}

}  // namespace mivex
