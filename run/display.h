// Whether the window can start: decided before Qt is, since Qt aborts without a display.
#pragma once

namespace mivex {

// From the values of QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY (nullptr when unset): false
// when Qt would look for an X11 or Wayland server (no platform named, or only xcb and wayland
// ones) and neither DISPLAY nor WAYLAND_DISPLAY names one. Other platforms (offscreen, vnc,
// eglfs, ...) need no server and are left to Qt.
bool displayAvailable(const char* qpaPlatform, const char* display, const char* waylandDisplay);

// The same for this process's environment.
bool displayAvailable();

// The exit status when the window cannot start (no display, or no window program beside this
// one); the same number as a list that cannot be run, as command-line programs answer usage
// errors.
inline constexpr int kNoWindowStatus = 2;

// The line that says so on standard error.
inline constexpr const char* kNoDisplayMessage =
    "mivex: the window needs a display (X11 or Wayland), and neither DISPLAY nor WAYLAND_DISPLAY "
    "is set; to run a list without one: mivex LIST.flq -auto\n";

}  // namespace mivex
