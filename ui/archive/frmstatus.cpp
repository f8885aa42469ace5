// The status window's fixed layout, in twips like the program's other windows.
#include "ui/archive/frmstatus.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "ui/framestyle.h"
#include "ui/layout.h"

namespace mivex::ui {

namespace {
constexpr int kBarRange = 1000;
}  // namespace

frmStatus::frmStatus(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmStatus"));
    setWindowTitle(tr("Mivex - Archiving Files"));
    setWindowIcon(QIcon());
    setModal(false);
    setFont(compactFont());  // the face the layout was measured for
    setFixedSize(twips(7275), twips(870));

    Frame1 = place(new QGroupBox(tr("Files")), "Frame1", this, twipsRect(120, 120, 6975, 615));
    lblStatus = place(new QLabel, "lblStatus", Frame1, twipsRect(120, 240, 6735, 255));
    // Paths are shown as they are; one too long for the label is cut at its right edge.
    lblStatus->setTextFormat(Qt::PlainText);

    barWrite = place(new QProgressBar, "barWrite", this, twipsRect(120, 900, 5655, 255));
    barWrite->setRange(0, kBarRange);
    barWrite->setTextVisible(false);
    barWrite->setAccessibleName(tr("Progress"));
    cmdCancel =
        place(new QPushButton(tr("Cancel")), "cmdCancel", this, twipsRect(5880, 840, 1215, 375));
    cmdCancel->setAutoDefault(false);
    barWrite->hide();
    cmdCancel->hide();
    drawFramesAsDesigned(this);
    fitCaptions(this);
}

void frmStatus::showWriting() {
    setFixedSize(twips(7275), twips(1335));
    lblStatus->setUpdatesEnabled(true);  // the walk may have left it unpainted
    barWrite->setValue(0);
    barWrite->show();
    cmdCancel->show();
    cmdCancel->setFocus();
}

bool frmStatus::writing() const {
    return cmdCancel->isVisible();
}

void frmStatus::showWritten(const QString& file, double fraction) {
    if (lblStatus->text() != file) {
        lblStatus->setText(file);
    }
    barWrite->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kBarRange));
}

void frmStatus::showEvent(QShowEvent* event) {
    if (const QWidget* owner = parentWidget()) {
        move(owner->window()->frameGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

}  // namespace mivex::ui
