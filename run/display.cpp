// Whether the window can start.
#include "run/display.h"

#include <cstdlib>
#include <string_view>

namespace mivex {

namespace {

bool isSet(const char* value) {
    return value != nullptr && *value != '\0';
}

// Qt takes a list of platforms to try in turn, "wayland;xcb", each with options after ':'.
bool onlyDisplayServers(std::string_view platforms) {
    while (!platforms.empty()) {
        const std::size_t end = platforms.find(';');
        std::string_view name = platforms.substr(0, end);
        name = name.substr(0, name.find(':'));
        if (!name.empty() && !name.starts_with("xcb") && !name.starts_with("wayland")) {
            return false;
        }
        if (end == std::string_view::npos) {
            break;
        }
        platforms.remove_prefix(end + 1);
    }
    return true;  // also for no platform named: Qt then picks xcb or wayland itself
}

}  // namespace

bool displayAvailable(const char* qpaPlatform, const char* display, const char* waylandDisplay) {
    if (isSet(display) || isSet(waylandDisplay)) {
        return true;
    }
    return !onlyDisplayServers(qpaPlatform ? qpaPlatform : "");
}

bool displayAvailable() {
    return displayAvailable(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                            std::getenv("WAYLAND_DISPLAY"));
}

}  // namespace mivex
