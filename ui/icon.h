// The program's icon, drawn in code: the one source of both the window's icon and the PNG files
// that the desktop shows (the build draws those with packaging/drawicons.cpp).
#pragma once

#include <QIcon>
#include <QImage>
#include <initializer_list>

namespace mivex::ui {

// The sizes drawn for the window and installed for the desktop, in pixels.
inline constexpr std::initializer_list<int> kIconSizes = {16, 32, 48, 64, 128, 256};

// The icon at `size` × `size` pixels, on a transparent ground. Needs no QGuiApplication.
QImage drawIcon(int size);

// Every size of kIconSizes in one icon, for the window.
QIcon programIcon();

}  // namespace mivex::ui
