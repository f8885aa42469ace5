// Where the program lives and where its run logs go.
#include "platform/folders.h"

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
