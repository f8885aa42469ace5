// Where the program lives and where its run logs go.
#include "platform/folders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

#include "platform/fd.h"
#include "platform/fileid.h"
#include "platform/posixio.h"

namespace mivex {

namespace {

// `path` is `folder` or lies below it, compared by whole components ("/usr2" is not under "/usr").
bool isUnder(std::string_view path, std::string_view folder) {
    while (folder.size() > 1 && folder.back() == '/') {
        folder.remove_suffix(1);
    }
    if (folder.empty() || !path.starts_with(folder)) {
        return false;
    }
    return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

std::string envOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Makes (or finds) `base`/`below`, one component at a time, refusing a link or a folder of
// another user anywhere from `base` down. `base` itself may be reached through links (a home
// folder often is), but it must belong to this user unless `trustBase` (a folder the user named).
bool ownFolder(const std::string& base, const std::string& below, bool trustBase, Fd& found,
               std::string& why) {
    const uid_t me = ::geteuid();
    Fd dir(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (dir.get() < 0 || ::fstat(dir.get(), &st) != 0) {
        why = base + ": " + errnoText(errno);
        return false;
    }
    if (!trustBase && st.st_uid != me) {
        why = base + " belongs to another user";
        return false;
    }
    std::string path = base;
    for (std::size_t pos = 0; pos < below.size();) {
        std::size_t end = below.find('/', pos);
        if (end == std::string::npos) {
            end = below.size();
        }
        const std::string name = below.substr(pos, end - pos);
        pos = end + 1;
        path = joinPath(path, name);
        if (::mkdirat(dir.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
            why = path + ": " + errnoText(errno);
            return false;
        }
        const int next =
            ::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            why = path + (errno == ELOOP || errno == ENOTDIR
                              ? std::string(" is a link or not a folder")
                              : ": " + errnoText(errno));
            return false;
        }
        dir.reset(next);
        if (::fstat(dir.get(), &st) != 0 || st.st_uid != me) {
            why = path + " belongs to another user";
            return false;
        }
    }
    if (::faccessat(dir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        why = path + ": " + errnoText(errno);
        return false;
    }
    found = std::move(dir);
    return true;
}

// The program folder, open, when the run log may go there: this user's, writable, and no one
// else's to write in. A folder that others may write in holds files they made, such as one at the
// day's log name, which a run as root would then append to.
Fd ownProgramFolder(const std::string& folder) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!dir.valid() || ::fstat(dir.get(), &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & (S_IWGRP | S_IWOTH | S_ISVTX)) != 0 ||
        ::faccessat(dir.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
        return Fd();
    }
    return dir;
}

}  // namespace

std::string programFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) {
        return "/";
    }
    std::string folder = exe.parent_path().string();
    return folder.empty() ? "/" : folder;
}

std::string installPrefix() {
    return MIVEX_INSTALL_PREFIX;
}

bool isInstalledFolder(const std::string& folder, const std::string& prefix) {
    // A prefix of "/" would hold every build tree too; /usr and /opt still count then.
    if (prefix != "/" && isUnder(folder, prefix)) {
        return true;
    }
    if (isUnder(folder, "/usr") || isUnder(folder, "/opt")) {
        return true;
    }
    struct stat st;
    return ::stat(folder.c_str(), &st) != 0 || st.st_uid != ::geteuid();
}

LogPlaces currentLogPlaces(const std::string& programFolder) {
    LogPlaces places;
    places.programFolder = programFolder;
    places.installPrefix = installPrefix();
    places.stateHome = envOrEmpty("XDG_STATE_HOME");
    places.home = envOrEmpty("HOME");
    if (const struct passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir) {
        places.passwdHome = entry->pw_dir;
    }
    return places;
}

LogFolder::LogFolder(std::string path, Fd folder)
    : mPath(std::move(path)), mFolder(std::make_shared<const Fd>(std::move(folder))) {}

LogFolder LogFolder::open(const std::string& path) {
    Fd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int error = dir.valid() ? 0 : errno;
    LogFolder folder(path, std::move(dir));
    folder.mError = error;
    return folder;
}

LogFolder findLogFolder(const LogPlaces& places, std::string& problem) {
    if (!isInstalledFolder(places.programFolder, places.installPrefix)) {
        if (Fd dir = ownProgramFolder(places.programFolder); dir.valid()) {
            return LogFolder(places.programFolder, std::move(dir));
        }
    }
    struct Candidate {
        const std::string& base;
        const char* below;
        bool trustBase;
    };
    const Candidate candidates[] = {
        {places.stateHome, "mivex", true},
        {places.home, ".local/state/mivex", false},
        {places.passwdHome, ".local/state/mivex", false},
    };
    std::string why = "no home folder is known";
    for (const Candidate& c : candidates) {
        // Relative paths are not meant for this (the XDG rules say to ignore them).
        if (c.base.empty() || c.base.front() != '/') {
            continue;
        }
        if (Fd dir; ownFolder(c.base, c.below, c.trustBase, dir, why)) {
            return LogFolder(joinPath(c.base, c.below), std::move(dir));
        }
    }
    problem = "no folder for the run log (" + why + "): runs are not logged";
    return {};
}

LogFolder chooseLogFolder(const std::string& programFolder) {
    std::string problem;
    LogFolder folder = findLogFolder(currentLogPlaces(programFolder), problem);
    if (folder.empty()) {
        std::fprintf(stderr, "mivex: %s\n", problem.c_str());
    }
    return folder;
}

bool sameFolder(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return a == b;
    }
    return sameFile(sa, sb);
}

std::string expandHome(const std::string& path) {
    if (path.empty() || path[0] != '~') {
        return path;
    }
    const std::size_t slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? slash : slash - 1);
    std::string home;
    if (user.empty()) {
        if (const char* env = std::getenv("HOME"); env && *env) {
            home = env;
        } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
            home = pw->pw_dir;
        }
    } else if (const passwd* pw = ::getpwnam(user.c_str()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    if (home.empty()) {
        return path;
    }
    return slash == std::string::npos ? home : joinPath(home, path.substr(slash + 1));
}

}  // namespace mivex
