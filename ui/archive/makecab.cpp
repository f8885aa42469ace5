// "Make Archive of Source Files". The main window stays usable while the archive is made: the
// folder walk and the writing of the cabinet run off the window thread (OffThread), while the
// status window shows the file being examined, then how far the cabinet is, and offers Cancel. So
// the rows are copied before anything else happens, a second click during a run does nothing, and
// closing the main window (which ends the program) abandons the run, leaving no archive and
// showing no message.
#include "ui/archive/makecab.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <mutex>

#include "archive/archivebuilder.h"
#include "queue/queueentry.h"
#include "ui/archive/frmstatus.h"
#include "ui/offthread.h"
#include "ui/prompts.h"

namespace mivex::ui {

const char* const kSupportPlace = MIVEX_SUPPORT_URL;

namespace {

// The status window is brought up to date this often.
constexpr int kWatchMs = 50;

// Sets a flag for its lifetime, unless the object that holds the flag went first.
class RunGuard {
public:
    RunGuard(QObject* holder, bool& flag) : mHolder(holder), mFlag(flag) { mFlag = true; }
    ~RunGuard() {
        if (mHolder) {
            mFlag = false;
        }
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    QPointer<QObject> mHolder;
    bool& mFlag;
};

// What the window thread and the job share: the file the walk is at, whether the cabinet is being
// written, and whether the run is to be dropped.
struct Walk {
    std::mutex lock;
    std::string file;  // under lock
    std::atomic<bool> writing = false;
    std::atomic<bool> drop = false;
};

// The job: every row's source packed, then the cabinet written, unless the run is dropped first.
void build(ArchiveBuilder& builder, const std::string& cabinet,
           const std::vector<std::string>& rows, Walk& walk) {
    builder.open(cabinet);
    for (const std::string& row : rows) {
        if (const std::optional<QueueEntry> entry = ParseRecord(row)) {
            builder.addSource(entry->source);
        } else {
            builder.fail("The queue row \"" + row + "\" names no source.");
        }
        if (walk.drop || builder.abandoned()) {
            break;
        }
    }
    // Either the drop is seen here, or the stop sees the writing and cancels it.
    walk.writing = true;
    if (walk.drop) {
        builder.abandon();
    }
    builder.close();
}

}  // namespace

void ArchiveMaker::cmdMakeCab_Click(QWidget* parent, const std::vector<std::string>& rows) {
    if (mRunning) {
        return;
    }
    const RunGuard running(this, mRunning);
    // `rows` may be the queue itself, which the user can change during the walk.
    const std::vector<std::string> queued = rows;
    QPointer<QWidget> owner = parent;

    const QString chosen =
        Prompts::current().saveFile(parent, QCoreApplication::translate("mivex", "Save CAB file"),
                                    QCoreApplication::translate("mivex", "CAB Files (*.cab)"));
    if (chosen.isEmpty()) {
        return;
    }

    QPointer<frmStatus> status = new frmStatus(parent);
    status->setAttribute(Qt::WA_DeleteOnClose);
    status->show();
    // Closing the main window ends the program: the run is dropped, and nothing is said.
    const bool ownerShown = owner && owner->isVisible();
    auto programClosing = [&] { return ownerShown && (!owner || !owner->isVisible()); };

    Walk walk;
    ArchiveBuilder builder([&walk](const std::string& path) {
        std::lock_guard lock(walk.lock);
        walk.file = path;
        return !walk.drop.load();
    });
    OffThread work;
    // Cancel, or the status window closed, ends the wait as the program's closing does.
    QObject::connect(status->cmdCancel, &QPushButton::clicked, status, [&] { work.endWait(); });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (programClosing() || !status || !status->isVisible()) {
            work.endWait();
            return;
        }
        if (!walk.writing) {
            std::lock_guard lock(walk.lock);
            status->lblStatus->setText(QString::fromStdString(walk.file));
            return;
        }
        if (!status->writing()) {
            status->showWriting();
        }
        const CabinetWriter::Progress p = builder.writeProgress();
        // Bytes where the files have any, otherwise files.
        const double fraction =
            p.bytesTotal > 0  ? static_cast<double>(p.bytesDone) / static_cast<double>(p.bytesTotal)
            : p.fileCount > 0 ? static_cast<double>(p.fileNumber > 0 ? p.fileNumber - 1 : 0) /
                                    static_cast<double>(p.fileCount)
                              : 0.0;
        status->showWritten(QString::fromStdString(p.file), fraction);
    });
    watch.start(kWatchMs);
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    const std::string cabinet = chosen.toStdString();
    work.run([&] { build(builder, cabinet, queued, walk); }, false,
             [&] {
                 walk.drop = true;
                 if (walk.writing) {
                     builder.cancelClose();
                 }
             });
    QGuiApplication::restoreOverrideCursor();
    watch.stop();
    if (status) {
        status->close();
    }
    // A write that ended before the stop reached it is complete, and is reported as such.
    const bool dropped = builder.abandoned() || (walk.drop && builder.failure());
    if (dropped || programClosing()) {
        return;
    }

    if (const auto& failure = builder.failure()) {
        // A build that names no place for help says nothing of one, rather than send the user
        // to an address that reaches nobody.
        const QString place = QString::fromUtf8(kSupportPlace);
        showMessage(owner,
                    QCoreApplication::translate(
                        "mivex", "An error occurred while attempting to create the archive. ") +
                        QStringLiteral("\r\n") + QString::fromStdString(*failure) +
                        QStringLiteral("\r\n") +
                        QCoreApplication::translate(
                            "mivex",
                            "This is most likely caused by an invalid installation. "
                            "Please reinstall your copy of the software.") +
                        (place.isEmpty()
                             ? QString()
                             : QCoreApplication::translate("mivex",
                                                           " If problems persist, please visit our "
                                                           "support site at %1")
                                   .arg(place)));
    } else {
        showMessage(owner, QCoreApplication::translate(
                               "mivex", "The archive file %1 was created successfully.")
                               .arg(chosen));
    }
}

}  // namespace mivex::ui
