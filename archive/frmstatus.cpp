// The status window's fixed layout, in twips like the program's other windows.
#include "archive/frmstatus.h"

#include <QGroupBox>
#include <QLabel>

#include "ui/layout.h"

namespace mivex::ui {

frmStatus::frmStatus(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmStatus"));
    setWindowTitle(QStringLiteral("Mivex - Archiving Files"));
    setWindowIcon(QIcon());
    setModal(false);
    setFont(compactFont());  // the face the layout was measured for
    setFixedSize(twips(7275), twips(870));

    Frame1 = place(new QGroupBox(QStringLiteral("Files")), "Frame1", this,
                   twipsRect(120, 120, 6975, 615));
    lblStatus = place(new QLabel, "lblStatus", Frame1, twipsRect(120, 240, 6735, 255));
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
