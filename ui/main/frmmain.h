// The main window: the source and destination panes, the queue and its buttons, the menus.
#pragma once

#include <QMainWindow>
#include <string>

#include "platform/drives.h"
#include "platform/folders.h"
#include "queue/copyoperation.h"
#include "queue/queuestore.h"
#include "ui/main/drivelist.h"
#include "ui/main/queuelist.h"
#include "ui/main/queuemodel.h"

class QAction;
class QGroupBox;
class QLabel;
class QPushButton;

namespace mivex::ui {

// Paths cross between the core's bytes and the window's text here (UTF-8 both ways).
inline QString toQ(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string fromQ(const QString& s) {
    return s.toStdString();
}

class ArchiveMaker;
class FileList;
class FolderList;
class RunNotifier;
struct OptionsContext;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    // Builds the window and runs its start-up (Form_Load) without showing it. The drive lists
    // offer the drives `drives` gives.
    explicit frmMain(DriveSource drives = listDrives, QWidget* parent = nullptr);
    ~frmMain() override;

    // Public state that other windows read and write.
    bool gDragDrop = false;
    std::string gCopy = "C";
    std::string gOverwrite = "N";

    const QueueStore& queue() const { return mQueue->store(); }
    std::string gQueueMirror() const { return queue().gQueueMirror(); }
    const std::string& destPath() const { return mDestPath; }

    // Carries out the whole queue with the progress window; true when every entry succeeded.
    // Otherwise runDetails() names what failed and where the run log is.
    // `counted`: the counts of the sources taken by the check before the run (sourcecount.h).
    bool CopyOperation(CountedSources* counted = nullptr);
    const QString& runDetails() const { return mRunDetails; }
    // Queues the selected file ("File") or the open source folder ("Folder") with the default
    // codes, unless the admission rules refuse it (the user is told why).
    void AddToQueue(const QString& strTypeOfCopy);
    // The admission rules of the add buttons for one entry: an admitted entry is queued (and the
    // queue's buttons enabled); a refused one changes nothing. tellRefusal() says why, as those
    // buttons do; refusalText() is that message.
    Admission admit(const QueueEntry& entry, const std::string& sourceFolder);
    void tellRefusal(Admission result, const QueueEntry& entry);
    static QString refusalText(Admission result, const QueueEntry& entry);
    // What the options dialog edits: the current row of the queue, or the defaults above.
    OptionsContext optionsContext();
    // Modal dialogs take a topmost window out of the topmost band for their time (and clear the
    // menu's check mark); returns whether it was topmost, to be handed to restoreTopmost().
    bool leaveTopmost();
    void restoreTopmost(bool wasOnTop);
    const std::string& helpFile() const { return mHelpFile; }
    // Replaces the queue with a list file's lines, or says why it cannot.
    void LoadQueueList(const QString& path);
    // True when the queue may be replaced or closed: it is saved, or the user saved it now or
    // let it go.
    bool mayDropQueue();
    // After a start with an empty queue: when a run of the window was cut off (a crash, a kill, a
    // power cut), loads the queue it ran and offers once to resume it, to start it afresh (the
    // queue stays loaded, nothing runs) or to discard it (the window as it was).
    void offerResume();

    // The runs' log folder, checked and kept open from start-up on.
    static LogFolder gLogPath;

public slots:
    void cmdAddFile_Click();
    void cmdAddFolder_Click();
    void filSource_DblClick();
    // A drop of local paths onto the queue list; `offered` is what the drag source allows.
    void lstQueue_OLEDragDrop(const QList<QByteArray>& paths, Qt::DropActions offered);
    void cmdCopy_Click();
    void cmdSave_Click();
    void cmdLoad_Click();
    void cmdClear_Click();
    void cmdRemove_Click();
    void cmdMakeNewDir_Click();
    void mnuFileOnTop_Click();
    // Opens the day's run log in the desktop's viewer, or says where logs go and that there is
    // none yet.
    void mnuShowRunLog_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void Form_Load();
    void drvSource_Change();
    void drvDest_Change();
    void dirSource_Change();
    void dirDest_Change();
    void dirSource_Click();
    void dirDest_Click();
    void driveChanged(DriveList* drive, FolderList* folder, bool isSource);
    void folderClicked(DriveList* drive, FolderList* folder);
    void afterRun(const std::string& copyCode);
    void setQueue(std::vector<std::string> rows);
    void setQueueButtons(bool enabled);
    void dropFile(const std::string& path);
    void refuseUnstorable(const QString& path);
    static QString unstorableText(const QString& path);
    void dropFolder(const std::string& path);
    // frmmainrun.cpp: carrying out rows of the queue (all, or those a retry takes up again), what
    // each row came to, and the word when a run ends.
    void buildRunMenu();
    // `counted`: the sources' counts the check before the run made; `resume`: the run that was
    // cut off, taken up again (its rows must be the queue's).
    bool runRows(const std::vector<std::size_t>& which, CountedSources* counted = nullptr,
                 const CutOffRun* resume = nullptr);
    void closeRun(bool ok);
    QString outcomeText(std::size_t row) const;
    static RowMark outcomeMark(const RowOutcome& outcome);
    std::string dayLogPath() const;
    // The keyboard's additions (frmmainkeys.cpp).
    void addKeys();
    void goToFolder();
    // Saves the queue as a list file the user names; true when it was written.
    bool saveQueue();

    DriveSource mDrives;
    QueueModel* mQueue;  // what lstQueue shows
    ArchiveMaker* mArchives;
    std::string mDestPath;
    std::string mHelpFile;
    QString mRunDetails;
    // While a drop is taken, the file list is not re-read per dropped path but once at the end:
    // in a large folder, one re-read per path would make the drop quadratic.
    bool mDeferFileReads = false;
    bool mMakeCabWanted = false;
    // What each row of the queue came to in the last runs, for a retry of the unfinished ones.
    std::vector<RowOutcome> mOutcomes;
    RunNotifier* mNotifier = nullptr;

public:
    // Controls, named as in the layout table (object names equal these names).
    QGroupBox* Frame1;
    QGroupBox* Destination;
    QGroupBox* Frame3;
    DriveList* drvSource;
    FolderList* dirSource;
    FileList* filSource;
    QLabel* Label1;
    QPushButton* cmdAddFolder;
    QPushButton* cmdAddFile;
    DriveList* drvDest;
    FolderList* dirDest;
    QPushButton* cmdMakeNewDir;
    QueueList* lstQueue;
    QPushButton* cmdRemove;
    QPushButton* cmdClear;
    QPushButton* cmdSave;
    QPushButton* cmdLoad;
    QPushButton* cmdCopy;
    QPushButton* cmdMakeCab;
    QAction* mnuFileLoad;
    QAction* mnuFileSave;
    QAction* mnuFileExit;
    QAction* mnuFileOnTop;
    QAction* mnuDefaultOptions;
    QAction* mnuShowRunLog = nullptr;
    QAction* mnuHelpContents;
    QAction* mnuHelpAbout;
};

}  // namespace mivex::ui
