// The progress window of "Process Files!": the current file, bytes and files done of the entry's
// total, the whole run's bar, bytes, files and time left, the speed, and Pause, Skip and Cancel.
// The transfer runs off the window thread while this window and the main window keep repainting;
// run() returns only when that transfer is over.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ratelimit.h"
#include "queue/runtotals.h"
#include "ui/offthread.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace mivex {
struct ShellOpRecord;
struct TransferProgress;
}  // namespace mivex

namespace mivex::ui {

struct ProgressShared;

class frmProgress : public QDialog {
    Q_OBJECT
public:
    explicit frmProgress(QWidget* parent = nullptr);
    ~frmProgress() override;

    // Carries out one record (entry `entryNumber` of `entryCount`, counted from 1) with the
    // transfer engine off the window thread and returns its result code; a Cancel sets the
    // record's fAnyOperationsAborted.
    int run(ShellOpRecord& record, int entryNumber, int entryCount);
    // Starts counting the whole run's files and bytes beside it (before the first run()); without
    // it the window shows the entry alone.
    // `counted`: the run's counts of its sources, shared with its entries (must outlive the run).
    void beginRun(const std::vector<std::string>& rows, CountedSources* counted = nullptr);
    bool isPaused() const;
    // The run's speed limit, for CopyHooks::rateLimit: it starts at the one the user last chose
    // (ui/usersettings.h), and the window's control changes it at once while the run goes on.
    RateLimit* rateLimit() { return &mLimit; }

    // The display is refreshed this often while a transfer runs.
    static constexpr int kRefreshMs = 100;

protected:
    void reject() override;                         // the close button cancels, like Cancel
    void keyPressEvent(QKeyEvent* event) override;  // Esc asks first
    void hideEvent(QHideEvent* event) override;

private:
    void reserveRoom();
    void refreshDisplay();
    void refreshRun(const TransferProgress& now);
    void showPercent(int percent);
    void togglePause();
    void skipEntry();
    void limitChanged(int mibPerSecond);
    qint64 pausedMs() const;  // of the run so far, a pause going on included

    std::shared_ptr<ProgressShared> mShared;
    QLabel* lblEntry;
    QLabel* lblFile;
    QLabel* lblBytes;
    QLabel* lblFiles;
    QLabel* lblSpeed;
    QProgressBar* barBytes;
    QLabel* lblRun;
    QLabel* lblRemaining;
    QProgressBar* barRun;
    QPushButton* cmdPause;
    QPushButton* cmdSkip;
    QPushButton* cmdCancel;
    QLabel* lblLimit;
    QSpinBox* spnLimit;  // MiB/s, 0 "No limit"
    QTimer* mTimer;
    QElapsedTimer mClock;           // since the current entry started
    QElapsedTimer mSinceShown;      // since the display was last brought up to date
    QElapsedTimer mSinceProcessed;  // since pending events were last let through
    bool mInRun = false;
    int mEntryNumber = 0;
    int mEntryCount = 0;
    // The whole run: its size counted beside it, what the entries before this one did, and its
    // time at work (pauses left out), for the time it has left.
    RunTotals mTotals;
    bool mCountsRun = false;
    int mInRunCount = 0;  // entries started since beginRun()
    std::uint64_t mBytesBefore = 0;
    std::uint64_t mFilesBefore = 0;
    std::uint64_t mBytesLeftOut = 0;  // by entries skipped or failed half-way
    std::uint64_t mFilesLeftOut = 0;
    QElapsedTimer mRunClock;
    qint64 mPausedMs = 0;
    QElapsedTimer mPausedFor;
    qint64 mPausedAtEntry = 0;  // pausedMs() as the current entry started
    int mPercent = -1;
    QString mOwnerTitle;  // the main window's own title, while ours shows in its place
    RateLimit mLimit;
    OffThread mWork;  // last: joined before the rest goes
};

}  // namespace mivex::ui
