// The options dialog: copy or move, overwrite or keep both, either for one queued entry (opened by
// a double-click on the queue) or for the defaults that new entries receive (opened from the menu,
// where it also shows the log folder, read-only, and whether the window's runs verify each copy).
#pragma once

#include <QDialog>
#include <string>

#include "queue/queueentry.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace mivex::ui {

class QueueModel;

// What the dialog reads and changes: the queue and its current row when it edits an entry, the
// codes that new entries receive and the log folder (shown only) when it edits the defaults.
struct OptionsContext {
    QueueModel& queue;
    int currentRow;
    std::string& copy;
    std::string& overwrite;
    std::string logFolder;
};

class frmOptions : public QDialog {
    Q_OBJECT
public:
    frmOptions(QWidget* parent, OptionsContext context);

    // "FromList" prepares editing the queue's selected row; any other value the defaults. False
    // (the user has been told why) when there is no row to edit: none is selected, or the row is
    // not an entry at all (a hand-edited list can hold such lines). Then do not show the dialog.
    bool SetupForm(const QString& strValue);

public slots:
    void OKButton_Click();
    void CancelButton_Click();

public:
    // Controls; object names equal these names, the button arrays as "optCopy0", "optCopy1",
    // "optOverwrite0", "optOverwrite1", "optOverwrite2".
    QGroupBox* Frame1;
    QRadioButton* optCopy[2];  // 0 "Copy Files", 1 "Move Files"
    // 0 keep both ("make a copy"), 1 overwrite, 2 update (overwrite only what changed)
    QRadioButton* optOverwrite[3];
    QPushButton* OKButton;
    QPushButton* CancelButton;
    QGroupBox* FrameLog;
    QLineEdit* txtPath;
    // Defaults only, below the log folder: the window's runs verify each copy (kept in the user's
    // settings, ui/usersettings.h).
    QCheckBox* chkVerify;

private:
    void setClientHeight(int twipsHeight);

    OptionsContext mContext;
    QButtonGroup* mCopyGroup;
    QButtonGroup* mOverwriteGroup;
    bool mFromList = false;
    int mRow = -1;          // the edited row, fixed when the dialog is set up
    std::string mOldEntry;  // the row as the queue holds it
    QueueEntry mEntry;      // its fields, as the dialog changes them
};

}  // namespace mivex::ui
