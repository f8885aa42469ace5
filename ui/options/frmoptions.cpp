// The options dialog. Its layout is fixed, in twips like the main window's; the two uses differ in
// caption, in where the codes come from and go to, and in whether the log folder shows.
#include "ui/options/frmoptions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <utility>

#include "queue/queueentry.h"
#include "ui/framestyle.h"
#include "ui/layout.h"
#include "ui/main/queuemodel.h"
#include "ui/prompts.h"
#include "ui/usersettings.h"

namespace mivex::ui {

namespace {

constexpr int kClientWidthTwips = 6210;
// Editing one entry the window ends where the "Log Location" frame begins; for the defaults it
// shows the whole frame. The update choice adds one row below the two overwrite choices: the
// frame, the window and what lies below grow or move by that row, nothing above it moves.
constexpr int kRowTwips = 240;
constexpr int kEntryHeightTwips = 1800 + kRowTwips;
// The defaults add the verify choice below the log frame, so that nothing above it moves.
constexpr int kVerifyTopTwips = 2475 + kRowTwips;
constexpr int kDefaultsHeightTwips = kVerifyTopTwips + 255 + 60;

// The overwrite code of each choice, in the order of optOverwrite.
constexpr const char* kOverwriteCodes[] = {"N", "O", "U"};
// As before the update choice: only the exact "O" shows as overwrite, any other code as keep both.
int overwriteChoice(const std::string& code) {
    return code == "O" ? 1 : code == "U" ? 2 : 0;
}

}  // namespace

frmOptions::frmOptions(QWidget* parent, OptionsContext context)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      mContext(std::move(context)) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(tr("Options for this operation"));
    setFont(compactFont());  // the face the layout was measured for

    // The frame first, so the overwrite pair (the dialog's own, over the frame) draws above it.
    Frame1 = place(new QGroupBox(tr("File Operation")), "Frame1", this,
                   twipsRect(120, 120, 4455, 1575 + kRowTwips));
    optCopy[0] = place(new QRadioButton(tr("Copy Files")), "optCopy0", Frame1,
                       twipsRect(360, 240, 3015, 255));
    optCopy[1] = place(new QRadioButton(tr("Move Files")), "optCopy1", Frame1,
                       twipsRect(360, 480, 3015, 255));
    // 3975 rather than 3495 twips wide: in this face the longer caption needs more room than the
    // layout gave it; the extra width stays inside the frame.
    optOverwrite[0] = place(new QRadioButton(tr("Do not overwrite existing files (make a copy)")),
                            "optOverwrite0", this, twipsRect(480, 1080, 3975, 255));
    optOverwrite[1] = place(new QRadioButton(tr("Overwrite existing files")), "optOverwrite1", this,
                            twipsRect(480, 1320, 3975, 255));
    optOverwrite[2] = place(new QRadioButton(tr("Overwrite only files that changed (update)")),
                            "optOverwrite2", this, twipsRect(480, 1320 + kRowTwips, 3975, 255));
    OKButton = place(new QPushButton(tr("OK")), "OKButton", this, twipsRect(4680, 120, 1215, 375));
    CancelButton =
        place(new QPushButton(tr("Cancel")), "CancelButton", this, twipsRect(4680, 600, 1215, 375));
    FrameLog = place(new QGroupBox(tr("Log Location")), "FrameLog", this,
                     twipsRect(120, 1800 + kRowTwips, 5895, 615));
    txtPath = place(new QLineEdit, "txtPath", FrameLog, twipsRect(120, 240, 5775, 285));
    txtPath->setReadOnly(true);
    chkVerify = place(new QCheckBox(tr("Verify each file after copying")), "chkVerify", this,
                      twipsRect(120, kVerifyTopTwips, 5895, 255));
    chkVerify->setToolTip(
        tr("Each copy is read back from the disk and compared with its source "
           "before it takes its name; a copy that differs is discarded and its "
           "entry fails."));

    // Two groups of their own: a click clears only the other button of its pair.
    mCopyGroup = new QButtonGroup(this);
    mOverwriteGroup = new QButtonGroup(this);
    for (int i = 0; i < 2; ++i) {
        mCopyGroup->addButton(optCopy[i], i);
        mOverwriteGroup->addButton(optOverwrite[i], i);
    }
    mOverwriteGroup->addButton(optOverwrite[2], 2);
    // Enter presses OK, unless the focus is on Cancel (then Enter presses Cancel).
    OKButton->setDefault(true);

    QWidget* order[] = {optCopy[0], optCopy[1], optOverwrite[0], optOverwrite[1], optOverwrite[2],
                        chkVerify,  OKButton,   CancelButton,    txtPath};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    connect(OKButton, &QPushButton::clicked, this, &frmOptions::OKButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &frmOptions::CancelButton_Click);
    setClientHeight(kDefaultsHeightTwips);
    drawFramesAsDesigned(this);
    fitCaptions(this);
}

void frmOptions::setClientHeight(int twipsHeight) {
    setFixedSize(twips(kClientWidthTwips), twips(twipsHeight));
}

bool frmOptions::SetupForm(const QString& strValue) {
    if (strValue == QLatin1String("FromList")) {
        mFromList = true;
        mRow = mContext.currentRow;
        const QueueStore& queue = mContext.queue.store();
        if (mRow < 0 || static_cast<std::size_t>(mRow) >= queue.size()) {
            showMessage(parentWidget(), tr("Please select an entry in the queue to change its "
                                           "options."));
            return false;
        }
        // The entry as the queue holds it (bytes), not as the list shows it.
        mOldEntry = queue.at(static_cast<std::size_t>(mRow));
        const std::optional<QueueEntry> entry = ParseRecord(mOldEntry);
        if (!entry) {
            showMessage(parentWidget(),
                        tr("This line of the queue is not a file operation, so it has "
                           "no options to change. An entry reads \"C-N --> source "
                           "--> destination folder\"; remove the line, or correct it "
                           "in the list file and load the list again."));
            return false;
        }
        mEntry = *entry;
        optCopy[mEntry.copy == "C" ? 0 : 1]->setChecked(true);
        optOverwrite[overwriteChoice(mEntry.overwrite)]->setChecked(true);
        FrameLog->hide();
        chkVerify->hide();
        setClientHeight(kEntryHeightTwips);
        return true;
    }
    setWindowTitle(tr("Options for default operations"));
    mFromList = false;
    optCopy[mContext.copy == "C" ? 0 : 1]->setChecked(true);
    optOverwrite[overwriteChoice(mContext.overwrite)]->setChecked(true);
    FrameLog->show();
    chkVerify->show();
    chkVerify->setChecked(settings::verify());
    setClientHeight(kDefaultsHeightTwips);
    txtPath->setText(QString::fromStdString(mContext.logFolder));
    txtPath->setCursorPosition(0);  // a long path shows its beginning
    return true;
}

void frmOptions::OKButton_Click() {
    const std::string copy = optCopy[0]->isChecked() ? "C" : "M";
    const std::string overwrite = kOverwriteCodes[std::max(0, mOverwriteGroup->checkedId())];
    if (!mFromList) {
        mContext.copy = copy;
        mContext.overwrite = overwrite;
        settings::setVerify(chkVerify->isChecked());
        accept();
        return;
    }
    mEntry.copy = copy;
    mEntry.overwrite = overwrite;
    const std::string newEntry = mEntry.text();
    if (newEntry == mOldEntry) {
        accept();
        return;
    }
    // The row being edited does not count against its own replacement.
    if (mContext.queue.store().CheckExists(mEntry, static_cast<std::size_t>(mRow))) {
        showMessage(this, tr("This operation already exists in the queue."));
        reject();
        return;
    }
    mContext.queue.replaceAt(mRow, newEntry);
    accept();
}

void frmOptions::CancelButton_Click() {
    reject();
}

}  // namespace mivex::ui
