// Where the program lives and where its run logs go.
#include "platform/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace mivex {

std::string programFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) {
        return "/";
    }
    std::string folder = exe.parent_path().string();
    return folder.empty() ? "/" : folder;
}

std::string chooseLogFolder(const std::string& programFolder) {
    if (::access(programFolder.c_str(), W_OK | X_OK) == 0) {
        return programFolder;
    }
    std::string state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/') {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        state = std::string(home) + "/.local/state";
    } else {
        state = "/tmp";
    }
    std::string folder = joinPath(state, "mivex");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);  // a failure only loses the log lines
    return folder;
}

bool sameFolder(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return a == b;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

}  // namespace mivex
