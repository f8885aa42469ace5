// The status window's fixed layout, in twips like the program's other windows.
#include "archive/frmstatus.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace mivex::ui {

namespace {

int twips(int value) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    return qRound(value * dpi / 1440.0);
}

template <typename W>
W* place(W* w, const char* name, QWidget* parent, int left, int top, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setParent(parent);
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
    return w;
}

}  // namespace

frmStatus::frmStatus(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmStatus"));
    setWindowTitle(QStringLiteral("Mivex - Archiving Files"));
    setWindowIcon(QIcon());
    setModal(false);
    // The main window's compact face: the layout was made for it.
    QFont compact(QStringLiteral("Arial"));
    compact.setPointSizeF(8);
    setFont(compact);
    setFixedSize(twips(7275), twips(870));

    Frame1 = place(new QGroupBox(QStringLiteral("Files")), "Frame1", this, 120, 120, 6975, 615);
    lblStatus = place(new QLabel, "lblStatus", Frame1, 120, 240, 6735, 255);
    // Paths are shown as they are; one too long for the label is cut at its right edge.
    lblStatus->setTextFormat(Qt::PlainText);
}

void frmStatus::showEvent(QShowEvent* event) {
    if (const QWidget* owner = parentWidget()) {
        move(owner->window()->frameGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

}  // namespace mivex::ui
