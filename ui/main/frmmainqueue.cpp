// The main window's queue: adding and removing entries, drops, processing the queue, and list
// files. The layout, start-up and the browse panes are in frmmain.cpp.
#include <sys/stat.h>

#include <QFileInfo>
#include <QPushButton>

#include "engine/sourcecount.h"
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
    tellRefusal(admit(entry, folder), entry);
}

Admission frmMain::admit(const QueueEntry& entry, const std::string& sourceFolder) {
    const Admission result = mQueue->admit(entry, sourceFolder);
    if (result == Admission::Admitted) {
        setQueueButtons(true);
    }
    return result;
}

QString frmMain::refusalText(Admission result, const QueueEntry& entry) {
    switch (result) {
        case Admission::Admitted:
            break;
        case Admission::SameFolder:
            return tr("Source and destination are the same!");
        case Admission::SourceNotStorable:
            return unstorableText(toQ(entry.source));
        case Admission::DestinationNotStorable:
            return unstorableText(toQ(entry.dest));
        case Admission::DestinationNotFolder:
            return tr("\"%1\" is not a folder: an operation's destination must be a folder.")
                .arg(toQ(entry.dest));
        case Admission::Duplicate:
        case Admission::MovedEarlier:
            return tr(
                "This file operation cannot be performed. The operation "
                "already exists in your queue or the operation references "
                "as source file that would have been previously moved in "
                "the batch");
        case Admission::QueueFull:
            return tr("The queue is full: it holds %1 entries, the most it "
                      "can hold. Nothing more can be added.")
                .arg(QueueStore::kMaxEntries);
    }
    return {};
}

void frmMain::tellRefusal(Admission result, const QueueEntry& entry) {
    if (result == Admission::SameFolder) {
        Prompts::current().message(this, refusalText(result, entry), tr("Ignoring"),
                                   Prompts::Icon::None);
    } else if (result != Admission::Admitted) {
        showMessage(this, refusalText(result, entry));
    }
}

QString frmMain::unstorableText(const QString& path) {
    return tr("\"%1\" cannot be queued: a path in the queue must not "
              "contain \" --> \" or a line break, must not end in \" -->\", "
              "and must be valid UTF-8.")
        .arg(path);
}

void frmMain::refuseUnstorable(const QString& path) {
    showMessage(this, unstorableText(path));
}

void frmMain::setQueueButtons(bool enabled) {
    cmdCopy->setEnabled(enabled);
    // While an archive is made the button stays disabled; it takes this state when the run ends.
    mMakeCabWanted = enabled;
    cmdMakeCab->setEnabled(enabled && !mArchives->running());
}

// ----- queue gestures

void frmMain::cmdAddFile_Click() {
    if (filSource->fileName().isEmpty()) {
        showMessage(this, tr("Please select a file. To add all files, please use the "
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

bool frmMain::CopyOperation(CountedSources* counted) {
    std::vector<std::size_t> all(queue().size());
    mOutcomes.assign(all.size(), RowOutcome{});  // a new run begins every entry afresh
    for (std::size_t row = 0; row < all.size(); ++row) {
        all[row] = row;
    }
    return runRows(all, counted);
}

void frmMain::cmdCopy_Click() {
    // A source folder the check walks is not walked again for the run's size or its progress.
    CountedSources counted;
    if (!confirmRun(this, queue().rows(), &counted)) {
        return;
    }
    closeRun(CopyOperation(&counted));
}

// ----- list files

void frmMain::cmdSave_Click() {
    saveQueue();
}

bool frmMain::saveQueue() {
    if (queue().empty()) {
        showMessage(this, tr("There's no list to save!"));
        return false;
    }
    QString path =
        Prompts::current().saveFile(this, tr("Save File Queue List"), tr("FLQ File (*.flq)"));
    if (path.isEmpty()) {
        return false;
    }
    // Read once the dialog is closed: paths handed over from another start (--enqueue) may have
    // joined the queue meanwhile, and the queue is marked saved as it stands now.
    const std::string mirror = gQueueMirror();
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
    const std::size_t rows = queue().size();
    if (!mayDropQueue()) {
        return;
    }
    const QString path =
        Prompts::current().openFile(this, tr("Load File Queue List"), tr("FLQ File (*.flq)"));
    // Paths handed over by another start (--enqueue) while the question or the dialog was open
    // are not dropped unasked.
    if (!path.isEmpty() && (queue().size() == rows || mayDropQueue())) {
        LoadQueueList(path);
    }
}

void frmMain::LoadQueueList(const QString& path) {
    ListReadResult list = ReadQueueList(fromQ(path), QueueStore::kMaxEntries);
    switch (list.status) {
        case ListReadStatus::Ok:
            break;
        case ListReadStatus::NotAList:
            showMessage(this, tr("This file does not appear to be a valid Mivex data file"));
            return;
        case ListReadStatus::CannotRead:
            showMessage(this, tr("The list %1 could not be read.").arg(path));
            return;
        case ListReadStatus::TooManyEntries:
            showMessage(this, tr("The list %1 holds more than %2 entries, more than "
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
