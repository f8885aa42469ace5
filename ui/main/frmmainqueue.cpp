// The main window's queue: adding and removing entries, drops, processing the queue, and list
// files. The layout, start-up and the browse panes are in frmmain.cpp.
#include <sys/stat.h>

#include <QFileInfo>
#include <QPushButton>
#include <cstdio>

#include "listfile/listfile.h"
#include "platform/folders.h"
#include "queue/copyoperation.h"
#include "queue/queueentry.h"
#include "ui/archive/makecab.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"
#include "ui/main/prerundialog.h"
#include "ui/main/queuelist.h"
#include "ui/main/queuemodel.h"
#include "ui/options/frmoptions.h"
#include "ui/prompts.h"

namespace mivex::ui {

void frmMain::afterRun(const std::string& copyCode) {
    if (copyCode == "M") {
        dirSource->setPath(dirDest->path());  // the moved items are to be seen where they went
    }
    dirDest->refresh();
}

// ----- the queue

void frmMain::setQueue(std::vector<std::string> rows) {
    mQueue->assign(std::move(rows));
}

void frmMain::AddToQueue(const QString& strTypeOfCopy) {
    const bool isFile = strTypeOfCopy == QLatin1String("File");
    if (!isFile && strTypeOfCopy != QLatin1String("Folder")) {
        return;
    }
    const std::string folder = fromQ(dirSource->path());
    QueueEntry entry{gCopy, gOverwrite, folder, mDestPath};
    if (isFile) {
        entry.source = fromQ(filSource->path());
        if (entry.source.empty() || entry.source.back() != '/') {
            entry.source += '/';
        }
        entry.source += fromQ(filSource->fileName());
    }
    switch (mQueue->admit(entry, folder)) {
        case Admission::Admitted:
            setQueueButtons(true);
            return;
        case Admission::SameFolder:
            Prompts::current().message(this, QStringLiteral("Source and destination are the same!"),
                                       QStringLiteral("Ignoring"), Prompts::Icon::None);
            return;
        case Admission::SourceNotStorable:
            refuseUnstorable(toQ(entry.source));
            return;
        case Admission::DestinationNotStorable:
            refuseUnstorable(toQ(entry.dest));
            return;
        case Admission::Duplicate:
        case Admission::MovedEarlier:
            showMessage(this,
                        QStringLiteral("This file operation cannot be performed. The operation "
                                       "already exists in your queue or the operation references "
                                       "as source file that would have been previously moved in "
                                       "the batch"));
            return;
        case Admission::QueueFull:
            showMessage(this, QStringLiteral("The queue is full: it holds %1 entries, the most it "
                                             "can hold. Nothing more can be added.")
                                  .arg(QueueStore::kMaxEntries));
            return;
    }
}

void frmMain::refuseUnstorable(const QString& path) {
    showMessage(this, QStringLiteral("\"%1\" cannot be queued: a path in the queue must not "
                                     "contain \" --> \" or a line break, must not end in \" -->\", "
                                     "and must be valid UTF-8.")
                          .arg(path));
}

void frmMain::setQueueButtons(bool enabled) {
    cmdCopy->setEnabled(enabled);
    // While an archive is made the button stays disabled; it takes this state when the run ends.
    mMakeCabWanted = enabled;
    cmdMakeCab->setEnabled(enabled && !archiveRunning());
}

// ----- queue gestures

void frmMain::cmdAddFile_Click() {
    if (filSource->fileName().isEmpty()) {
        showMessage(this, QStringLiteral("Please select a file. To add all files, please use the "
                                         "Add This Folder button"));
        return;
    }
    AddToQueue(QStringLiteral("File"));
}

void frmMain::cmdAddFolder_Click() {
    AddToQueue(QStringLiteral("Folder"));
}

void frmMain::filSource_DblClick() {
    // A double-click on the list's empty space selects nothing: there is no file to add.
    if (!gDragDrop && !filSource->fileName().isEmpty()) {
        AddToQueue(QStringLiteral("File"));
    }
}

void frmMain::lstQueue_OLEDragDrop(const QList<QByteArray>& paths, Qt::DropActions offered) {
    if (QueueList::takesOffer(offered)) {
        mDeferFileReads = true;
        for (const QByteArray& raw : paths) {
            const std::string path = raw.toStdString();
            if (!isStorablePath(path)) {
                refuseUnstorable(QString::fromLocal8Bit(raw));
                continue;
            }
            struct stat st;
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                dropFile(path);
            } else {
                dropFolder(path);
            }
        }
        mDeferFileReads = false;
    }
    dirSource->refresh();
    dirSource_Change();  // the file list: the open folder's files, "*.*", read once
}

void frmMain::dropFile(const std::string& path) {
    if (dirSource->setPath(toQ(parentOf(path))) != 0) {
        return;  // a folder that cannot be opened: nothing to queue from it
    }
    filSource->setPath(dirSource->path());
    gDragDrop = true;  // a double-click the selection may cause must add nothing
    filSource->selectFile(toQ(nameOf(path)));
    AddToQueue(QStringLiteral("File"));
    gDragDrop = false;
}

void frmMain::dropFolder(const std::string& path) {
    // Neither a file nor a folder that opens (gone since the drag began, a FIFO): skipped.
    if (dirSource->setPath(toQ(path)) != 0) {
        return;
    }
    filSource->setPath(dirSource->path());
    AddToQueue(QStringLiteral("Folder"));
}

OptionsContext frmMain::optionsContext() {
    return {*mQueue, lstQueue->currentRow(), gCopy, gOverwrite, gLogPath.path()};
}

void frmMain::cmdRemove_Click() {
    // Only a selected row: a row stays current after the user deselects it.
    const int row = lstQueue->selectedRow();
    if (row < 0 || queue().empty()) {
        return;
    }
    mQueue->removeAt(row);
    if (queue().empty()) {
        setQueueButtons(false);
    }
}

void frmMain::cmdClear_Click() {
    if (!mayDropQueue()) {
        return;
    }
    mQueue->clear();  // can be undone
    setQueueButtons(false);
}

bool frmMain::CopyOperation() {
    const std::vector<std::string> rows = queue().rows();  // the queue is read once
    frmProgress progress(this);
    CopyHooks hooks;
    hooks.perform = [&progress](ShellOpRecord& record, std::size_t number, std::size_t count) {
        return progress.run(record, static_cast<int>(number), static_cast<int>(count));
    };
    const RunSummary run = mivex::CopyOperation(rows, gLogPath, hooks);
    progress.hide();
    if (!run.logTrouble.empty()) {
        std::fprintf(stderr, "mivex: %s\n", run.logTrouble.c_str());
    }
    if (run.ok()) {
        afterRun(run.lastCopyCode);
    }
    // What failed and where the log is, so that the closing message can tell.
    mRunDetails = run.ok() ? QString() : toQ(describeRun(run.failures, run.stopped, run.logPath));
    return run.ok();
}

void frmMain::cmdCopy_Click() {
    if (!confirmRun(this, queue().rows())) {
        return;
    }
    const bool ok = CopyOperation();
    showMessage(this,
                ok ? QStringLiteral("Files copied successfully")
                   : QStringLiteral("Errors occurred during file copy operation"),
                mRunDetails);
}

// ----- list files

void frmMain::cmdSave_Click() {
    saveQueue();
}

bool frmMain::saveQueue() {
    const std::string mirror = gQueueMirror();
    if (mirror.empty()) {
        showMessage(this, QStringLiteral("There's no list to save!"));
        return false;
    }
    QString path = Prompts::current().saveFile(this, QStringLiteral("Save File Queue List"),
                                               QStringLiteral("FLQ File (*.flq)"));
    if (path.isEmpty()) {
        return false;
    }
    // A name typed without an extension gets the lists' own: the command line and the desktop
    // tell a list by it.
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".flq");
    }
    std::string error;
    if (!WriteQueueList(fromQ(path), mirror, error)) {
        showMessage(this, toQ(error));
        return false;
    }
    mQueue->markSaved();
    return true;
}

void frmMain::cmdLoad_Click() {
    if (!mayDropQueue()) {
        return;
    }
    const QString path = Prompts::current().openFile(this, QStringLiteral("Load File Queue List"),
                                                     QStringLiteral("FLQ File (*.flq)"));
    if (!path.isEmpty()) {
        LoadQueueList(path);
    }
}

void frmMain::LoadQueueList(const QString& path) {
    ListReadResult list = ReadQueueList(fromQ(path), QueueStore::kMaxEntries);
    switch (list.status) {
        case ListReadStatus::Ok:
            break;
        case ListReadStatus::NotAList:
            showMessage(this,
                        QStringLiteral("This file does not appear to be a valid Mivex data file"));
            return;
        case ListReadStatus::CannotRead:
            showMessage(this, QStringLiteral("The list %1 could not be read.").arg(path));
            return;
        case ListReadStatus::TooManyEntries:
            showMessage(this, QStringLiteral("The list %1 holds more than %2 entries, more than "
                                             "the queue can hold. Nothing was loaded.")
                                  .arg(path)
                                  .arg(QueueStore::kMaxEntries));
            return;
    }
    setQueue(std::move(list.rows));
    mQueue->markSaved();
    if (!queue().empty()) {
        cmdCopy->setEnabled(true);
    }
}

}  // namespace mivex::ui
