// Paths as text.
#include "platform/pathtext.h"

namespace mivex {

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

std::string withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    return std::string(path);
}

std::string parentOf(std::string_view path) {
    const std::string whole = withoutTrailingSlashes(path);
    const std::size_t slash = whole.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    const std::size_t end = whole.find_last_not_of('/', slash);
    return end == std::string::npos ? "/" : whole.substr(0, end + 1);
}

std::string nameOf(std::string_view path) {
    const std::string whole = withoutTrailingSlashes(path);
    const std::size_t slash = whole.rfind('/');
    return whole == "/" || slash == std::string::npos ? whole : whole.substr(slash + 1);
}

}  // namespace mivex
