// The About box: a small fixed window, laid out in twips like the main window.
#include "ui/main/frmabout.h"

#include <QLabel>
#include <QPushButton>

#include "ui/layout.h"

namespace mivex::ui {

const char* const frmAbout::kComments = QT_TRANSLATE_NOOP(
    "mivex::ui::frmAbout",
    "Mivex sets up file copy and move operations all at once and then carries them out as one "
    "batch, instead of one by one. Each operation takes a single file or a whole folder as its "
    "source and sends it to a destination folder of its own; a queue can be saved as a list and "
    "run again, also unattended.");

const char* const frmAbout::kLegalCopyright = QT_TRANSLATE_NOOP(
    "mivex::ui::frmAbout",
    "Copyright \u00a9 2026 the Mivex developers. Mivex is provided \"as is\", without warranty of "
    "any kind; the authors are not liable for any loss of data or other damage arising from its "
    "use. Keep a backup of anything you move.");

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setFont(compactFont());  // the face the layout was measured for
    setFixedSize(twips(4680), twips(3015));

    lblInfo = new QLabel(this);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setGeometry(twipsRect(120, 240, 4455, 2175));
    lblInfo->setWordWrap(true);
    lblInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblInfo->setTextFormat(Qt::PlainText);
    cmdClose = new QPushButton(tr("Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setGeometry(twipsRect(1680, 2640, 1215, 255));
    connect(cmdClose, &QPushButton::clicked, this, &frmAbout::cmdClose_Click);

    Form_Load();
    fitCaptions(this);
}

void frmAbout::Form_Load() {
    // "version" in lower case here, unlike the main window's caption.
    setWindowTitle(tr("Mivex version %1.%2.%3").arg(kMajor).arg(kMinor).arg(kRevision));
    lblInfo->setText(tr(kComments) + QStringLiteral("\n\n") + tr(kLegalCopyright));
}

void frmAbout::cmdClose_Click() {
    accept();
}

}  // namespace mivex::ui
