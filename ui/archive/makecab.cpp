// "Make Archive of Source Files". The main window stays usable while the archive is built: the
// folder walk lets the user interface run before each file, and the cabinet is written on a worker
// thread. So the rows are copied before anything else happens, a second click during a run does
// nothing, and closing the main window (which ends the program) abandons the run, leaving no
// archive and showing no message.
#include "ui/archive/makecab.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>

#include "archive/archivebuilder.h"
#include "ui/archive/frmstatus.h"
#include "ui/prompts.h"

namespace mivex::ui {

const char* const kSupportPlace = MIVEX_SUPPORT_URL;

namespace {

constexpr qint64 kRepaintMs = 40;
constexpr int kWatchMs = 50;

bool gRunning = false;

class RunGuard {
public:
    RunGuard() { gRunning = true; }
    ~RunGuard() { gRunning = false; }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;
};

// Writing the cabinet reads and compresses every file, which takes long for big ones: it runs on
// a worker thread while the status window shows the file being packed and how far the cabinet
// is, and offers Cancel. False when the write was cancelled (Cancel, the status window closed)
// or the program began to close meanwhile (`closing` says so, or the loop was told to exit); the
// write is stopped then and leaves no file.
bool finishOnWorker(ArchiveBuilder& builder, const QPointer<frmStatus>& status,
                    const std::function<bool()>& closing) {
    QEventLoop loop;
    std::atomic<bool> done = false;
    std::thread worker;
    try {
        worker = std::thread([&] {
            builder.close();
            done = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        builder.close();  // no thread to be had: the window waits instead
        return true;
    }
    if (status) {
        status->showWriting();
        QObject::connect(status->cmdCancel, &QPushButton::clicked, &loop, &QEventLoop::quit);
    }
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (closing() || !status || !status->isVisible()) {
            loop.quit();  // closing the status window is a Cancel too
            return;
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
    if (!done) {
        loop.exec();
    }
    QGuiApplication::restoreOverrideCursor();
    const bool stopped = !done;
    if (stopped) {
        builder.cancelClose();
    }
    worker.join();
    // A write that ended before the stop reached it is complete, and is reported as such.
    return !stopped || !builder.failure();
}

}  // namespace

bool archiveRunning() {
    return gRunning;
}

void cmdMakeCab_Click(QWidget* parent, const std::vector<std::string>& rows) {
    if (gRunning) {
        return;
    }
    RunGuard running;
    // `rows` may be the queue itself, which the user can change during the walk.
    const std::vector<std::string> queued = rows;
    QPointer<QWidget> owner = parent;

    const QString chosen = Prompts::current().saveFile(parent, QStringLiteral("Save CAB file"),
                                                       QStringLiteral("CAB Files (*.cab)"));
    if (chosen.isEmpty()) {
        return;
    }

    QPointer<frmStatus> status = new frmStatus(parent);
    status->setAttribute(Qt::WA_DeleteOnClose);
    status->show();
    // Closing the main window ends the program: the run is dropped, and nothing is said.
    const bool ownerShown = owner && owner->isVisible();
    auto programClosing = [&] { return ownerShown && (!owner || !owner->isVisible()); };
    QElapsedTimer sincePaint;
    sincePaint.start();
    ArchiveBuilder builder([&](const std::string& path) {
        QCoreApplication::processEvents();
        if (programClosing()) {
            return false;
        }
        if (status) {
            // The text is always the current file, but painting it for every file would cost
            // more than packing a small one: the label is repainted at most 25 times a second.
            const bool repaint = sincePaint.hasExpired(kRepaintMs);
            status->lblStatus->setUpdatesEnabled(repaint);
            status->lblStatus->setText(QString::fromStdString(path));
            if (repaint) {
                sincePaint.restart();
            }
        }
        return true;
    });

    builder.open(chosen.toStdString());
    for (const std::string& row : queued) {
        builder.addRow(row);
    }
    if (builder.abandoned()) {
        if (status) {
            status->close();
        }
        return;  // the builder drops the partial cabinet
    }
    const bool written = finishOnWorker(builder, status, programClosing);
    if (status) {
        status->close();
    }
    if (!written || programClosing()) {
        return;
    }

    if (const auto& failure = builder.failure()) {
        // A build that names no place for help says nothing of one, rather than send the user
        // to an address that reaches nobody.
        const QString place = QString::fromUtf8(kSupportPlace);
        showMessage(owner,
                    QStringLiteral("An error occurred while attempting to create the archive. ") +
                        QStringLiteral("\r\n") + QString::fromStdString(*failure) +
                        QStringLiteral("\r\n") +
                        QStringLiteral("This is most likely caused by an invalid installation. "
                                       "Please reinstall your copy of the software.") +
                        (place.isEmpty() ? QString()
                                         : QStringLiteral(" If problems persist, please visit our "
                                                          "support site at ") +
                                               place));
    } else {
        showMessage(owner, QStringLiteral("The archive file ") + chosen +
                               QStringLiteral(" was created successfully."));
    }
}

}  // namespace mivex::ui
