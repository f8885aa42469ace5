// The windows' fixed layouts: rectangles in twips (1440 to the inch, 15 to a pixel at 96 dpi)
// and the compact face their captions were measured for.
#pragma once

#include <QFont>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QWidget>

namespace mivex::ui {

inline int twips(int value) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return qRound(value * dpi / 1440.0);
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

// Arial 8 pt (Liberation Sans where Arial is not installed): at the desktop's usual 10-point
// DejaVu Sans the captions would not fit their controls.
inline QFont compactFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8);
    return font;
}

// Names `w` after its member, gives it to `parent` and puts it at `rect` (parent coordinates).
template <typename W>
W* place(W* w, const char* name, QWidget* parent, QRect rect) {
    w->setObjectName(QString::fromLatin1(name));
    w->setParent(parent);
    w->setGeometry(rect);
    return w;
}

}  // namespace mivex::ui
