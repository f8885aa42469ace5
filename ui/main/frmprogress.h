// The progress window of "Process Files!": the current file, bytes and files done of the entry's
// total, the speed, and Cancel. The transfer runs off the window thread while this window and the
// main window keep repainting; run() returns only when that transfer is over.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <memory>

#include "ui/offthread.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace mivex {
struct ShellOpRecord;
}

namespace mivex::ui {

class frmProgress : public QDialog {
    Q_OBJECT
public:
    explicit frmProgress(QWidget* parent = nullptr);
    ~frmProgress() override;

    // Carries out one record (entry `entryNumber` of `entryCount`, counted from 1) with the
    // transfer engine off the window thread and returns its result code; a Cancel sets the
    // record's fAnyOperationsAborted.
    int run(ShellOpRecord& record, int entryNumber, int entryCount);

    // The display is refreshed this often while a transfer runs.
    static constexpr int kRefreshMs = 100;

protected:
    void reject() override;  // Esc and the close button cancel, like Cancel

private:
    struct Shared;
    void refreshDisplay();

    std::shared_ptr<Shared> mShared;
    QLabel* lblEntry;
    QLabel* lblFile;
    QLabel* lblBytes;
    QLabel* lblFiles;
    QLabel* lblSpeed;
    QProgressBar* barBytes;
    QPushButton* cmdCancel;
    QTimer* mTimer;
    QElapsedTimer mClock;           // since the current entry started
    QElapsedTimer mSinceShown;      // since the display was last brought up to date
    QElapsedTimer mSinceProcessed;  // since pending events were last let through
    bool mInRun = false;
    int mEntryNumber = 0;
    int mEntryCount = 0;
    OffThread mWork;  // last: joined before the rest goes
};

}  // namespace mivex::ui
