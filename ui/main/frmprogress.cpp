// The progress window of "Process Files!". The transfer engine runs on a worker thread; the user
// interface thread waits in a local event loop so the main window keeps repainting, and reads the
// engine's latest report ten times a second. The worker and the window share only one
// reference-counted block (progress under a mutex, atomic flags, the worker's copy of the record),
// and every run joins its worker before it returns.
#include "ui/main/frmprogress.h"

#include <QEventLoop>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/resultcodes.h"
#include "platform/transfer.h"
#include "queue/copyoperation.h"

namespace mivex::ui {

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 170;
constexpr int kBarRange = 1000;
// Below this a speed is mostly the cost of counting the totals and opening the first file.
constexpr qint64 kSpeedAfterMs = 500;

// Numbers and units are written the same way whatever the system's language, like the rest of
// the window's text.
const QLocale& englishLocale() {
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

QString humanBytes(double bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024.0) {
        return QStringLiteral("%1 bytes").arg(static_cast<qulonglong>(bytes));
    }
    int unit = -1;
    while (bytes >= 1024.0 && unit + 1 < static_cast<int>(std::size(kUnits))) {
        bytes /= 1024.0;
        ++unit;
    }
    return englishLocale().toString(bytes, 'f', 1) + QLatin1Char(' ') + QLatin1String(kUnits[unit]);
}

}  // namespace

struct frmProgress::Shared {
    std::mutex mutex;
    TransferProgress latest;  // guarded by mutex
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    // The worker's own copy of the record and its result; touched by the window only while no
    // worker runs.
    ShellOpRecord record;
    int code = 0;
};

namespace {

class SharedMonitor : public TransferMonitor {
public:
    SharedMonitor(std::mutex& mutex, TransferProgress& latest, const std::atomic<bool>& cancel)
        : mMutex(mutex), mLatest(latest), mCancel(cancel) {}
    bool wantsTotals() const override { return true; }
    void progress(const TransferProgress& progress) override {
        std::lock_guard lock(mMutex);
        mLatest = progress;
    }
    bool abortRequested() override { return mCancel.load(std::memory_order_relaxed); }

private:
    std::mutex& mMutex;
    TransferProgress& mLatest;
    const std::atomic<bool>& mCancel;
};

// The worker's body: never lets an exception end the program from a thread.
void perform(ShellOpRecord& record, TransferMonitor& monitor, int& code) {
    try {
        code = DoFileOperation(record, &monitor);
    } catch (const std::bad_alloc&) {
        code = kNotEnoughMemory;
    } catch (...) {
        code = kGeneralFailure;
    }
}

}  // namespace

frmProgress::frmProgress(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mShared(std::make_shared<Shared>()) {
    setWindowTitle(QStringLiteral("Processing files from your queue."));
    // Window-modal: the main window cannot start a second run but still repaints behind us.
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    setFixedSize(kWidth, kHeight);

    auto makeLabel = [this](const char* name) {
        auto* label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        return label;
    };
    lblEntry = makeLabel("lblEntry");
    lblFile = makeLabel("lblFile");
    // The path is elided to the label's width; it must never widen the window.
    lblFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblFile->setTextFormat(Qt::PlainText);
    lblBytes = makeLabel("lblBytes");
    lblFiles = makeLabel("lblFiles");
    lblSpeed = makeLabel("lblSpeed");

    barBytes = new QProgressBar(this);
    barBytes->setObjectName(QStringLiteral("barBytes"));
    barBytes->setRange(0, kBarRange);
    barBytes->setTextVisible(false);
    barBytes->setAccessibleName(QStringLiteral("Progress"));

    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);
    cmdCancel->setMinimumWidth(cmdCancel->fontMetrics().horizontalAdvance("Cancelling...") + 24);
    connect(cmdCancel, &QPushButton::clicked, this, &frmProgress::reject);

    auto* counts = new QHBoxLayout;
    counts->addWidget(lblBytes);
    counts->addStretch();
    counts->addWidget(lblFiles);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblSpeed);
    bottom->addStretch();
    bottom->addWidget(cmdCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblEntry);
    layout->addWidget(lblFile);
    layout->addWidget(barBytes);
    layout->addLayout(counts);
    layout->addLayout(bottom);

    mTimer = new QTimer(this);
    mTimer->setInterval(kRefreshMs);
    connect(mTimer, &QTimer::timeout, this, [this] {
        refreshDisplay();
        if (mLoop && mShared->done.load()) {
            mLoop->quit();  // in case the worker's own wake-up was lost
        }
    });
}

frmProgress::~frmProgress() {
    if (mWorker.joinable()) {
        // Closing the window mid-run stops the transfer; run() notices it has no window left.
        mShared->cancel = true;
        mWorker.join();
    }
    if (mLoop) {
        mLoop->quit();
    }
}

void frmProgress::reject() {
    if (!mLoop) {
        // No transfer to wait for (the run is over): closing simply closes, and nothing of this
        // run starts any more.
        mShared->cancel = true;
        QDialog::reject();
        return;
    }
    if (mShared->cancel.exchange(true)) {
        return;
    }
    cmdCancel->setEnabled(false);
    cmdCancel->setText(QStringLiteral("Cancelling..."));
}

int frmProgress::run(ShellOpRecord& record, int entryNumber, int entryCount) {
    // Held locally: the window may be deleted while we wait, the shared block may not.
    const std::shared_ptr<Shared> shared = mShared;
    if (mWorker.joinable()) {
        return kInUse;  // called again from inside its own wait: the window is modal for that
    }
    if (shared->cancel.load()) {
        record.fAnyOperationsAborted = true;  // Cancel stops the whole run, not just one entry
        return 0;
    }

    shared->record = record;
    shared->code = 0;
    shared->done = false;
    {
        std::lock_guard lock(shared->mutex);
        shared->latest = TransferProgress{};
        shared->latest.currentFile = record.pFrom;
    }
    if (!record.lpszProgressTitle.empty()) {
        setWindowTitle(QString::fromStdString(record.lpszProgressTitle));
    }
    lblEntry->setText(QStringLiteral("Entry %1 of %2").arg(entryNumber).arg(entryCount));
    if (!isVisible()) {
        show();  // first, so the path is elided to the laid-out width
    }
    mClock.start();
    refreshDisplay();

    QEventLoop loop;
    try {
        mWorker = std::thread([shared, target = &loop] {
            SharedMonitor monitor(shared->mutex, shared->latest, shared->cancel);
            perform(shared->record, monitor, shared->code);
            shared->done = true;
            // The loop outlives this call: run() joins before it leaves. A wake-up posted to
            // a loop that has gone meanwhile is dropped by Qt.
            QMetaObject::invokeMethod(target, "quit", Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // No thread to be had: do the entry here, without a live display.
        SharedMonitor monitor(shared->mutex, shared->latest, shared->cancel);
        perform(shared->record, monitor, shared->code);
        shared->done = true;
    }

    const QPointer<frmProgress> self(this);
    if (!shared->done.load()) {
        mLoop = &loop;
        mTimer->start();
        loop.exec();
    }
    if (self) {
        mLoop = nullptr;
        mTimer->stop();
        if (mWorker.joinable()) {
            // Normally the worker is done; if the loop was ended from outside (the application
            // quitting) the transfer is stopped at its next block.
            if (!shared->done.load()) {
                shared->cancel = true;
            }
            mWorker.join();
        }
        refreshDisplay();
    }
    // Without a window the destructor has joined the worker already.
    record.fAnyOperationsAborted = shared->record.fAnyOperationsAborted;
    return shared->code;
}

void frmProgress::refreshDisplay() {
    TransferProgress now;
    {
        std::lock_guard lock(mShared->mutex);
        now = mShared->latest;
    }
    const QLocale& locale = englishLocale();

    const QString path = QString::fromStdString(now.currentFile);
    const int width = lblFile->contentsRect().width();
    lblFile->setText(lblFile->fontMetrics().elidedText(path, Qt::ElideMiddle, width));
    lblFile->setToolTip(path);

    if (now.bytesTotal == 0 && now.filesTotal == 0) {
        lblBytes->setText(QStringLiteral("Counting files..."));
        lblFiles->clear();
    } else {
        lblBytes->setText(humanBytes(static_cast<double>(now.bytesDone)) + QStringLiteral(" of ") +
                          humanBytes(static_cast<double>(now.bytesTotal)));
        lblFiles->setText(
            QStringLiteral("%1 of %2 %3")
                .arg(locale.toString(static_cast<qulonglong>(now.filesDone)),
                     locale.toString(static_cast<qulonglong>(now.filesTotal)),
                     now.filesTotal == 1 ? QStringLiteral("file") : QStringLiteral("files")));
    }

    // An entry of empty folders or links has no bytes; its files show how far it is.
    double fraction = 0;
    if (now.bytesTotal != 0) {
        fraction = static_cast<double>(now.bytesDone) / static_cast<double>(now.bytesTotal);
    } else if (now.filesTotal != 0) {
        fraction = static_cast<double>(now.filesDone) / static_cast<double>(now.filesTotal);
    }
    barBytes->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kBarRange));

    const qint64 elapsedMs = mClock.isValid() ? mClock.elapsed() : 0;
    if (elapsedMs < kSpeedAfterMs || now.bytesDone == 0) {
        lblSpeed->setText(QStringLiteral("Speed: \u2014"));
    } else {
        const double perSecond = static_cast<double>(now.bytesDone) * 1000.0 / elapsedMs;
        lblSpeed->setText(QStringLiteral("Speed: ") + humanBytes(perSecond) + QStringLiteral("/s"));
    }
}

}  // namespace mivex::ui
