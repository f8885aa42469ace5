// The progress window of "Process Files!". The transfer engine runs off the window thread (see
// OffThread), and the window reads the engine's latest report ten times a second. The job and the
// window share only one reference-counted block (progressshared.h: progress under a mutex, the
// stop, skip and pause requests, the job's copy of the record).
#include "ui/main/frmprogress.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <new>

#include "engine/transfer.h"
#include "platform/resultcodes.h"
#include "queue/copyoperation.h"
#include "ui/layout.h"
#include "ui/localnumbers.h"
#include "ui/main/progressshared.h"
#include "ui/usersettings.h"

namespace mivex::ui {

namespace {

constexpr int kWidth = 460;
constexpr int kHeight = 250;
constexpr int kBarRange = 1000;
// Below this a speed is mostly the cost of counting the totals and opening the first file.
constexpr qint64 kSpeedAfterMs = 500;
// A single file this small is transferred on the window's thread: handing it to the worker and
// back costs two thread wake-ups, which on a busy machine take longer than the copy itself.
constexpr off_t kInlineBytes = 256 * 1024;
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr int kMaxLimitMiB = 1'000'000;  // about a terabyte a second: beyond any disk

bool isSmallFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kInlineBytes;
}

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
      mShared(std::make_shared<ProgressShared>()),
      mLimit(settings::speedLimit()) {
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(tr("Processing files from your queue."));
    setFont(fittedFont(font()));
    // Window-modal: the main window cannot start a second run but still repaints behind us.
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);

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
    barBytes->setAccessibleName(tr("Progress"));

    lblRun = makeLabel("lblRun");
    lblRemaining = makeLabel("lblRemaining");
    barRun = new QProgressBar(this);
    barRun->setObjectName(QStringLiteral("barRun"));
    barRun->setRange(0, kBarRange);
    barRun->setTextVisible(false);
    barRun->setAccessibleName(tr("Whole run"));
    cmdPause = new QPushButton(tr("Pause"), this);
    cmdPause->setObjectName(QStringLiteral("cmdPause"));
    cmdPause->setAutoDefault(false);
    connect(cmdPause, &QPushButton::clicked, this, &frmProgress::togglePause);
    cmdSkip = new QPushButton(tr("Skip"), this);
    cmdSkip->setObjectName(QStringLiteral("cmdSkip"));
    cmdSkip->setAutoDefault(false);
    cmdSkip->setToolTip(tr("Stop this entry and go on with the next one"));
    connect(cmdSkip, &QPushButton::clicked, this, &frmProgress::skipEntry);

    cmdCancel = new QPushButton(tr("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);
    cmdCancel->setMinimumWidth(cmdCancel->fontMetrics().horizontalAdvance("Cancelling...") + 24);
    connect(cmdCancel, &QPushButton::clicked, this, &frmProgress::reject);

    // The speed limit, in whole MiB/s: set, changed or lifted while the run goes on.
    lblLimit = makeLabel("lblLimit");
    lblLimit->setText(tr("Speed &limit:"));
    spnLimit = new QSpinBox(this);
    spnLimit->setObjectName(QStringLiteral("spnLimit"));
    spnLimit->setAccessibleName(tr("Speed limit"));
    spnLimit->setRange(0, kMaxLimitMiB);
    spnLimit->setSuffix(tr(" MiB/s"));
    spnLimit->setSpecialValueText(tr("No limit"));
    // Typing "20" sets 20 when the user is done (Enter or leaving the box), not 2 first.
    spnLimit->setKeyboardTracking(false);
    spnLimit->setValue(
        static_cast<int>(std::min<std::uint64_t>((mLimit.rate() + kMiB - 1) / kMiB, kMaxLimitMiB)));
    lblLimit->setBuddy(spnLimit);
    connect(spnLimit, &QSpinBox::valueChanged, this, &frmProgress::limitChanged);

    auto* counts = new QHBoxLayout;
    counts->addWidget(lblBytes);
    counts->addStretch();
    counts->addWidget(lblFiles);

    auto* run = new QHBoxLayout;
    run->addWidget(lblRun);
    run->addStretch();
    run->addWidget(lblRemaining);

    auto* limit = new QHBoxLayout;
    limit->addWidget(lblLimit);
    limit->addWidget(spnLimit);
    limit->addStretch();

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblSpeed);
    bottom->addStretch();
    bottom->addWidget(cmdPause);
    bottom->addWidget(cmdSkip);
    bottom->addWidget(cmdCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblEntry);
    layout->addWidget(lblFile);
    layout->addWidget(barBytes);
    layout->addLayout(counts);
    layout->addWidget(barRun);
    layout->addLayout(run);
    layout->addLayout(limit);
    layout->addLayout(bottom);
    reserveRoom();
    // The design size grown with the desktop's text, or more when the texts need it.
    setFixedSize((QSize(kWidth, kHeight) * uiScale()).expandedTo(sizeHint()));

    mTimer = new QTimer(this);
    mTimer->setInterval(kRefreshMs);
    connect(mTimer, &QTimer::timeout, this, [this] {
        refreshDisplay();
        if (!mInRun) {
            mTimer->stop();  // caught up after the last entry
        }
    });
}

// Each label is given the width of the longest text it shows in a run, in the user's language
// and locale, so that the window is laid out for them and none is cut by its neighbours.
void frmProgress::reserveRoom() {
    const QString size = localBytes((1023ull << 30) + (921ull << 20));  // "1,023.9 GB"
    const QString count = localCount(999'999);
    const std::pair<QLabel*, QStringList> longest[] = {
        {lblEntry, {tr("Entry %1 of %2").arg(count, count)}},
        {lblBytes, {tr("%1 of %2").arg(size, size), tr("Counting files...")}},
        {lblFiles, {tr("%1 of %2 %3").arg(count, count, tr("files"))}},
        {lblRun,
         {tr("Whole run: %1 of %2, %3 of %4 files").arg(size, size, count, count),
          tr("Whole run: %1, %2 files so far (counting...)").arg(size, count)}},
        {lblRemaining, {tr("%1 h %2 min left").arg(99).arg(59)}},
        {lblSpeed, {tr("Speed: %1/s").arg(size), tr("Paused"), tr("Speed: \u2014")}},
    };
    for (const auto& [label, texts] : longest) {
        int width = 0;
        for (const QString& text : texts) {
            // A blank's room more: a face's last glyph may reach past its advance.
            width =
                std::max(width, label->fontMetrics().horizontalAdvance(text + QLatin1Char(' ')));
        }
        label->setMinimumWidth(width);
    }
}

frmProgress::~frmProgress() {
    // Closing the window mid-run stops the transfer; run() notices it has no window left.
    mShared->request(mShared->cancel);
    showPercent(-1);
}

void frmProgress::reject() {
    if (!mWork.waiting() && !mInRun) {
        // No transfer to wait for (the run is over): closing simply closes, and nothing of this
        // run starts any more.
        mShared->request(mShared->cancel);
        QDialog::reject();
        return;
    }
    if (mShared->cancel.load()) {
        return;
    }
    mShared->request(mShared->cancel);
    for (QPushButton* button : {cmdPause, cmdSkip, cmdCancel}) {
        button->setEnabled(false);
    }
    cmdCancel->setText(tr("Cancelling..."));
}

int frmProgress::run(ShellOpRecord& record, int entryNumber, int entryCount) {
    // Held locally: the window may be deleted while we wait, the shared block may not.
    const std::shared_ptr<ProgressShared> shared = mShared;
    if (mInRun) {
        return kInUse;  // called again from inside its own wait: the window is modal for that
    }
    if (shared->cancel.load()) {
        record.fAnyOperationsAborted = true;  // Cancel stops the whole run, not just one entry
        return 0;
    }

    shared->record = record;
    shared->code = 0;
    shared->skip = false;
    cmdSkip->setEnabled(true);
    {
        std::lock_guard lock(shared->mutex);
        if (mInRunCount++ > 0) {
            // What the entry before did counts for the whole run as done; what it left undone
            // (skipped, failed) is taken off the run's size, which the bar and the time left
            // measure against.
            const TransferProgress& last = shared->latest;
            mBytesBefore += last.bytesDone;
            mFilesBefore += last.filesDone;
            mBytesLeftOut += last.bytesTotal - std::min(last.bytesDone, last.bytesTotal);
            mFilesLeftOut += last.filesTotal - std::min(last.filesDone, last.filesTotal);
        }
        shared->latest = TransferProgress{};
        shared->latest.currentFile = record.pFrom;
    }

    mEntryNumber = entryNumber;
    mEntryCount = entryCount;
    const bool firstShow = !isVisible();
    if (firstShow) {
        show();  // first, so the path is elided to the laid-out width
        mSinceProcessed.start();
    }
    mClock.start();
    mPausedAtEntry = pausedMs();
    if (firstShow || !mSinceShown.isValid() || mSinceShown.elapsed() >= kRefreshMs) {
        refreshDisplay();
        mSinceShown.start();
    }
    mInRun = true;
    if (!mTimer->isActive()) {
        mTimer->start();
    }

    const QPointer<frmProgress> self(this);
    // While paused nothing is carried out here: the worker waits for Resume, the window answers.
    const bool quick = mWork.run(
        [shared] {
            SharedMonitor monitor(*shared);
            perform(shared->record, monitor, shared->code);
        },
        isSmallFile(record.pFrom) && !shared->isPaused(),
        [shared] { shared->request(shared->cancel); });
    if (self) {
        // A queue of thousands of small entries would otherwise spend most of its time
        // repainting, not transferring: after a quick entry the display is brought up to date, and
        // pending events let through, only once a refresh period.
        if (!quick || mSinceShown.elapsed() >= kRefreshMs) {
            refreshDisplay();
            mSinceShown.start();
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
    ShellOpRecord& done = shared->record;
    if (done.fAnyOperationsAborted && shared->skip.load() && !shared->cancel.load()) {
        // Skipped: this entry ends unfinished as a failure of its own, and the run goes on.
        done.fAnyOperationsAborted = false;
        shared->code = kSkipped;
    }
    record.fAnyOperationsAborted = done.fAnyOperationsAborted;
    record.placedAs = done.placedAs;
    record.filesPlaced = done.filesPlaced;
    record.bytesPlaced = done.bytesPlaced;
    record.filesLeft = done.filesLeft;
    record.differs = done.differs;  // the file verify refused, for the details and the log
    return shared->code;
}

void frmProgress::refreshDisplay() {
    TransferProgress now;
    {
        std::lock_guard lock(mShared->mutex);
        now = mShared->latest;
    }
    lblEntry->setText(tr("Entry %1 of %2").arg(localCount(mEntryNumber), localCount(mEntryCount)));

    const QString path = QString::fromStdString(now.currentFile);
    const int width = lblFile->contentsRect().width();
    lblFile->setText(lblFile->fontMetrics().elidedText(path, Qt::ElideMiddle, width));
    lblFile->setToolTip(path);

    if (now.bytesTotal == 0 && now.filesTotal == 0) {
        lblBytes->setText(tr("Counting files..."));
        lblFiles->clear();
    } else {
        lblBytes->setText(
            tr("%1 of %2").arg(localBytes(now.bytesDone), localBytes(now.bytesTotal)));
        lblFiles->setText(tr("%1 of %2 %3")
                              .arg(localCount(now.filesDone), localCount(now.filesTotal),
                                   now.filesTotal == 1 ? tr("file") : tr("files")));
    }

    // An entry of empty folders or links has no bytes; its files show how far it is.
    double fraction = 0;
    if (now.bytesTotal != 0) {
        fraction = static_cast<double>(now.bytesDone) / static_cast<double>(now.bytesTotal);
    } else if (now.filesTotal != 0) {
        fraction = static_cast<double>(now.filesDone) / static_cast<double>(now.filesTotal);
    }
    barBytes->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kBarRange));

    refreshRun(now);

    const qint64 elapsedMs =
        mClock.isValid() ? mClock.elapsed() - (pausedMs() - mPausedAtEntry) : 0;
    if (mShared->isPaused()) {
        lblSpeed->setText(tr("Paused"));
    } else if (elapsedMs < kSpeedAfterMs || now.bytesDone == 0) {
        lblSpeed->setText(tr("Speed: \u2014"));
    } else {
        const double perSecond = static_cast<double>(now.bytesDone) * 1000.0 / elapsedMs;
        lblSpeed->setText(tr("Speed: %1/s").arg(localBytes(static_cast<std::uint64_t>(perSecond))));
    }
}

void frmProgress::refreshRun(const TransferProgress& now) {
    const bool shown = mCountsRun && mEntryCount > 0;
    barRun->setVisible(shown);
    lblRun->setVisible(shown);
    lblRemaining->setVisible(shown);
    if (!shown) {
        return;
    }
    const std::uint64_t bytes = mBytesBefore + now.bytesDone;
    const std::uint64_t files = mFilesBefore + now.filesDone;
    if (!mTotals.counted()) {
        lblRun->setText(tr("Whole run: %1, %2 files so far (counting...)")
                            .arg(localBytes(bytes))
                            .arg(localCount(files)));
        lblRemaining->clear();
        barRun->setValue(0);
        showPercent(-1);
        return;
    }
    const std::uint64_t totalBytes =
        std::max(mTotals.bytes() - std::min(mBytesLeftOut, mTotals.bytes()), bytes);
    const std::uint64_t totalFiles =
        std::max(mTotals.files() - std::min(mFilesLeftOut, mTotals.files()), files);
    lblRun->setText(tr("Whole run: %1 of %2, %3 of %4 files")
                        .arg(localBytes(bytes), localBytes(totalBytes), localCount(files),
                             localCount(totalFiles)));
    double fraction = 1.0;
    if (totalBytes != 0) {
        fraction = static_cast<double>(bytes) / static_cast<double>(totalBytes);
    } else if (totalFiles != 0) {
        fraction = static_cast<double>(files) / static_cast<double>(totalFiles);
    }
    fraction = std::clamp(fraction, 0.0, 1.0);
    barRun->setValue(static_cast<int>(fraction * kBarRange));
    showPercent(static_cast<int>(fraction * 100));

    // Time left once a rate is known: the run's bytes over its time at work, pauses left out.
    const qint64 workedMs = mRunClock.isValid() ? mRunClock.elapsed() - pausedMs() : 0;
    if (mShared->isPaused() || workedMs < kSpeedAfterMs || bytes == 0 || totalBytes <= bytes) {
        lblRemaining->clear();
        return;
    }
    const double perMs = static_cast<double>(bytes) / static_cast<double>(workedMs);
    const auto left = static_cast<qint64>(static_cast<double>(totalBytes - bytes) / perMs / 1000.0);
    lblRemaining->setText(left >= 3600
                              ? tr("%1 h %2 min left").arg(left / 3600).arg(left % 3600 / 60)
                          : left >= 60 ? tr("%1 min %2 s left").arg(left / 60).arg(left % 60)
                                       : tr("%1 s left").arg(std::max<qint64>(left, 1)));
}

}  // namespace mivex::ui
