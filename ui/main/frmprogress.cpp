// The progress window of "Process Files!". The transfer engine runs on a worker thread; the user
// interface thread waits in a local event loop so the main window keeps repainting, and reads the
// engine's latest report ten times a second. The worker and the window share only one
// reference-counted block (progress under a mutex, atomic flags, the worker's copy of the record),
// and every run joins its worker before it returns.
#include "ui/main/frmprogress.h"

#include <sys/stat.h>

#include <QCoreApplication>
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
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/transfer.h"
#include "platform/resultcodes.h"
#include "queue/copyoperation.h"
#include "run/bytesize.h"

namespace mivex::ui {

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 170;
constexpr int kBarRange = 1000;
// Below this a speed is mostly the cost of counting the totals and opening the first file.
constexpr qint64 kSpeedAfterMs = 500;
// An entry that ends within this is waited for without an event loop, and the display is brought
// up to date only every refresh period: a queue of thousands of small entries otherwise spends
// most of its time starting loops and repainting, not transferring.
constexpr auto kQuickEntry = std::chrono::milliseconds(20);
// A single file this small is transferred on the window's thread: handing it to the worker and
// back costs two thread wake-ups, which on a busy machine take longer than the copy itself.
constexpr off_t kInlineBytes = 256 * 1024;

bool isSmallFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kInlineBytes;
}

// Numbers and units are written the same way whatever the system's language, like the rest of
// the window's text.
const QLocale& englishLocale() {
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

// The core's formatter, so that the window and the terminal write a count the same way.
QString humanBytes(std::uint64_t bytes) {
    return QString::fromStdString(formatBytes(bytes));
}

}  // namespace

struct frmProgress::Shared {
    std::mutex mutex;
    TransferProgress latest;  // guarded by mutex
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    // One worker serves every entry of a run: starting a thread per entry cost more than a small
    // entry's transfer. Under mutex: a job is waiting (`pending`), the worker is to end (`quit`),
    // and the loop to wake when the job is done. `changed` wakes the worker for a job and the
    // window when one is done.
    std::condition_variable changed;
    bool pending = false;
    bool quit = false;
    QEventLoop* waiting = nullptr;
    // The worker's own copy of the record and its result; touched by the window only while no
    // job is pending or running.
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
        if (!mInRun && !mLoop) {
            mTimer->stop();  // caught up after the last quick entry
        }
    });
}

frmProgress::~frmProgress() {
    if (mWorker.joinable()) {
        // Closing the window mid-run stops the transfer; run() notices it has no window left.
        mShared->cancel = true;
        {
            std::lock_guard lock(mShared->mutex);
            mShared->quit = true;
        }
        mShared->changed.notify_all();
        mWorker.join();
    }
    if (mLoop) {
        mLoop->quit();
    }
}

// The worker: takes one job at a time until told to quit (after finishing the job it holds).
void frmProgress::serve(const std::shared_ptr<Shared>& shared) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->pending || shared->quit; });
        if (!shared->pending) {
            return;
        }
        lock.unlock();
        SharedMonitor monitor(shared->mutex, shared->latest, shared->cancel);
        perform(shared->record, monitor, shared->code);
        lock.lock();
        shared->pending = false;
        // Posted under the lock: the window leaves run() (and ends the loop) only after seeing
        // `done`, so the loop is still there. A wake-up it no longer needs is dropped by Qt.
        if (shared->waiting) {
            QMetaObject::invokeMethod(shared->waiting, "quit", Qt::QueuedConnection);
        }
        shared->done = true;
        shared->changed.notify_all();
    }
}

void frmProgress::reject() {
    if (!mLoop && !mInRun) {
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
    if (mInRun) {
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
    mEntryNumber = entryNumber;
    mEntryCount = entryCount;
    const bool firstShow = !isVisible();
    if (firstShow) {
        show();  // first, so the path is elided to the laid-out width
        mSinceProcessed.start();
    }
    mClock.start();
    if (firstShow || !mSinceShown.isValid() || mSinceShown.elapsed() >= kRefreshMs) {
        refreshDisplay();
        mSinceShown.start();
    }
    mInRun = true;

    QEventLoop loop;
    bool queued = false;
    const bool onThisThread = isSmallFile(record.pFrom);
    if (!onThisThread && !mWorker.joinable()) {
        try {
            mWorker = std::thread([shared] { serve(shared); });
        } catch (const std::system_error&) {
            // No thread to be had: entries are done here, without a live display.
        }
    }
    if (!onThisThread && mWorker.joinable()) {
        {
            std::lock_guard lock(shared->mutex);
            shared->pending = true;
            shared->waiting = &loop;
        }
        shared->changed.notify_all();
        queued = true;
    } else {
        SharedMonitor monitor(shared->mutex, shared->latest, shared->cancel);
        perform(shared->record, monitor, shared->code);
        shared->done = true;
    }
    if (queued) {
        std::unique_lock lock(shared->mutex);
        shared->changed.wait_for(lock, kQuickEntry, [&] { return shared->done.load(); });
    }

    const QPointer<frmProgress> self(this);
    const bool quick = shared->done.load();
    if (!quick) {
        mLoop = &loop;
        mTimer->start();
        loop.exec();
    }
    if (!shared->done.load()) {
        // The loop was ended from outside (the application quitting, the window closed): the
        // transfer stops at its next block, and the job is over before its loop goes.
        shared->cancel = true;
        std::unique_lock lock(shared->mutex);
        shared->changed.wait(lock, [&] { return shared->done.load(); });
    }
    {
        std::lock_guard lock(shared->mutex);
        shared->waiting = nullptr;
    }
    if (self) {
        mLoop = nullptr;
        if (!quick || mSinceShown.elapsed() >= kRefreshMs) {
            mTimer->stop();
            refreshDisplay();
            mSinceShown.start();
        } else if (!mTimer->isActive()) {
            mTimer->start();  // the display catches up within a period, also after the last entry
        }
        const bool letThrough = quick && mSinceProcessed.elapsed() >= kRefreshMs;
        if (letThrough) {
            // No loop ran for this entry: let Cancel, repaints and the rest through now and then.
            QCoreApplication::processEvents();
        }
        if (self) {
            if (!quick || letThrough) {
                mSinceProcessed.start();
            }
            mInRun = false;
        }
    }
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
    lblEntry->setText(QStringLiteral("Entry %1 of %2").arg(mEntryNumber).arg(mEntryCount));

    const QString path = QString::fromStdString(now.currentFile);
    const int width = lblFile->contentsRect().width();
    lblFile->setText(lblFile->fontMetrics().elidedText(path, Qt::ElideMiddle, width));
    lblFile->setToolTip(path);

    if (now.bytesTotal == 0 && now.filesTotal == 0) {
        lblBytes->setText(QStringLiteral("Counting files..."));
        lblFiles->clear();
    } else {
        lblBytes->setText(humanBytes(now.bytesDone) + QStringLiteral(" of ") +
                          humanBytes(now.bytesTotal));
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
        lblSpeed->setText(QStringLiteral("Speed: ") +
                          humanBytes(static_cast<std::uint64_t>(perSecond)) + QStringLiteral("/s"));
    }
}

}  // namespace mivex::ui
