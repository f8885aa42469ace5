// The progress window's controls of a run: Pause and Resume, Skip, the speed limit, Esc that asks
// before the run stops, and the run's share in the titles of the window and of a minimised main
// window.
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>

#include "ui/main/frmprogress.h"
#include "ui/main/progressshared.h"
#include "ui/prompts.h"
#include "ui/usersettings.h"

namespace mivex::ui {

void frmProgress::keyPressEvent(QKeyEvent* event) {
    // Esc is pressed by accident more easily than Cancel is clicked: it asks before a run stops.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
        (mWork.waiting() || mInRun) && !mShared->cancel.load()) {
        const QPointer<frmProgress> self(this);
        // No is the default and Escape's answer: a second Esc does not stop the run either.
        const bool stop =
            Prompts::current().question(
                this,
                tr("Stop the run? The entry in hand is left unfinished and the rest of the "
                   "queue is not carried out."),
                QStringLiteral("Mivex"),
                {.buttons = {tr("Yes"), tr("No")},
                 .preferred = 1,
                 .onEscape = 1,
                 .details = {},
                 .icon = Prompts::Icon::None}) == 0;
        if (self && stop) {
            reject();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmProgress::hideEvent(QHideEvent* event) {
    showPercent(-1);
    QDialog::hideEvent(event);
}

bool frmProgress::isPaused() const {
    return mShared->isPaused();
}

void frmProgress::togglePause() {
    const bool pause = !mShared->isPaused();
    mShared->setPaused(pause);
    cmdPause->setText(pause ? tr("Resume") : tr("Pause"));
    if (pause) {
        mPausedFor.start();
    } else if (mPausedFor.isValid()) {
        mPausedMs += mPausedFor.elapsed();
        mPausedFor.invalidate();
    }
    refreshDisplay();
}

void frmProgress::skipEntry() {
    if (mWork.waiting() || mInRun) {
        mShared->request(mShared->skip);
        cmdSkip->setEnabled(false);
    }
}

void frmProgress::limitChanged(int mibPerSecond) {
    const std::uint64_t rate = std::uint64_t(mibPerSecond) * 1024 * 1024;
    mLimit.set(rate);               // the writers pace at the new rate at once
    settings::setSpeedLimit(rate);  // and the window's later runs start with it
}

void frmProgress::beginRun(const std::vector<std::string>& rows, CountedSources* counted) {
    mTotals.start(rows, counted);
    mCountsRun = true;
    mInRunCount = 0;
    mBytesBefore = 0;
    mFilesBefore = 0;
    mBytesLeftOut = 0;
    mFilesLeftOut = 0;
    mPausedMs = 0;
    mRunClock.start();
}

void frmProgress::showPercent(int percent) {
    if (percent == mPercent) {
        return;
    }
    mPercent = percent;
    const QString title = tr("Processing files from your queue.");
    setWindowTitle(percent < 0 ? title : tr("%1% %2").arg(percent).arg(title));
    // A minimised main window shows in the taskbar in our place: it carries the percentage then.
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner) {
        return;
    }
    if (percent >= 0 && owner->isMinimized()) {
        if (mOwnerTitle.isEmpty()) {
            mOwnerTitle = owner->windowTitle();
        }
        owner->setWindowTitle(tr("%1% %2").arg(percent).arg(mOwnerTitle));
    } else if (!mOwnerTitle.isEmpty()) {
        owner->setWindowTitle(mOwnerTitle);
        mOwnerTitle.clear();
    }
}

qint64 frmProgress::pausedMs() const {
    return mPausedMs + (mPausedFor.isValid() ? mPausedFor.elapsed() : 0);
}

}  // namespace mivex::ui
