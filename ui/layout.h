// The windows' fixed layouts: rectangles in twips (1440 to the inch, 15 to a pixel at 96 dpi)
// and the compact face their captions were measured for. The whole layout grows with the
// desktop's text size (uiScale).
#pragma once

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <algorithm>

namespace mivex::ui {

// The layout was drawn for 8-point text. A desktop that asks for larger text (its application
// font) gets the whole layout scaled, as QT_SCALE_FACTOR would scale it: rectangles and the
// windows' own fonts alike, so nothing clips. Up to Qt's own default of 9 points (a desktop that
// names no font) the windows keep the design's size exactly; each point above that adds an eighth,
// as it would to the design's 8-point text: 16-point text gets 1.875 times the design.
inline constexpr qreal kDesignPointSize = 8.0;
inline constexpr qreal kDefaultPointSize = 9.0;
// The largest window's client area at the design's size (the main window's), in twips.
inline constexpr int kLargestClientTwips[2] = {8865, 7020};

inline qreal textScale() {
    const QFont font = QGuiApplication::font();
    qreal points = font.pointSizeF();
    if (points <= 0 && font.pixelSize() > 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        points = font.pixelSize() * 72.0 / (screen ? screen->logicalDotsPerInchY() : 96.0);
    }
    return qBound(1.0, (points - (kDefaultPointSize - kDesignPointSize)) / kDesignPointSize, 4.0);
}

// The text's scale, unless the largest window would then outgrow the screen's available area:
// then the scale at which it fits, with room for its title bar and menu bar (two lines of the
// desktop's text each). The windows keep their proportions; below the design's size they do not
// go.
inline qreal uiScale() {
    const qreal wanted = textScale();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return wanted;
    }
    const QRect room = screen->availableGeometry();
    const qreal pixelsPerTwip = screen->logicalDotsPerInchY() / 1440.0;
    const int bars = 4 * QFontMetrics(QGuiApplication::font()).height();
    const qreal fits = std::min(room.width() / (kLargestClientTwips[0] * pixelsPerTwip),
                                (room.height() - bars) / (kLargestClientTwips[1] * pixelsPerTwip));
    return std::max(1.0, std::min(wanted, fits));
}

// The desktop's font for a window that uses it as it is (not the design's face): at the text's
// size, or smaller by as much as the screen made uiScale() smaller.
inline QFont fittedFont(QFont font) {
    font.setPointSizeF(font.pointSizeF() * uiScale() / textScale());
    return font;
}

inline int twips(int value) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return qRound(value * uiScale() * dpi / 1440.0);
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

// Arial 8 pt at the design's size (Liberation Sans where Arial is not installed): at the
// desktop's usual 10-point DejaVu Sans the captions would not fit their controls. `points` is the
// design's size of the text.
inline QFont compactFont(qreal points = 8) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points * uiScale());
    return font;
}

// Whether the text of `w` fits its control in the font it has now. A push button needs its text
// and a little room either side; other buttons their whole size hint (the mark and the text).
inline bool captionFits(const QWidget* w) {
    const QFontMetrics metrics = w->fontMetrics();
    if (const auto* push = qobject_cast<const QPushButton*>(w)) {
        return metrics.horizontalAdvance(push->text()) + 8 <= push->width();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        return button->sizeHint().width() <= button->width();
    }
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        const QRect room = label->contentsRect();
        if (label->wordWrap()) {
            return metrics.boundingRect(room, Qt::TextWordWrap, label->text()).height() <=
                   room.height();
        }
        return label->text().isEmpty() || metrics.horizontalAdvance(label->text()) <= room.width();
    }
    if (const auto* frame = qobject_cast<const QGroupBox*>(w)) {
        return metrics.horizontalAdvance(frame->title()) + 16 <= frame->width();
    }
    return true;
}

// The layout is fixed, but the face behind "Arial" is whatever the machine has (DejaVu Sans,
// wider, on a desktop without the Liberation fonts): a caption that would clip is set a little
// smaller, control by control, so that it fits in any face.
inline void fitCaptions(QWidget* root) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
        w->ensurePolished();  // the style may set the font it is measured in
        const qreal smallest = 6.0 * uiScale();
        for (QFont font = w->font(); !captionFits(w) && font.pointSizeF() > smallest;) {
            font.setPointSizeF(font.pointSizeF() - 0.25);
            w->setFont(font);
        }
    }
    // The choices of one set are read together: all in the size the longest of them needed.
    for (const QButtonGroup* group : root->findChildren<QButtonGroup*>()) {
        qreal points = 0;
        for (const QAbstractButton* button : group->buttons()) {
            const qreal own = button->font().pointSizeF();
            points = points > 0 ? std::min(points, own) : own;
        }
        for (QAbstractButton* button : group->buttons()) {
            QFont font = button->font();
            font.setPointSizeF(points);
            button->setFont(font);
        }
    }
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
