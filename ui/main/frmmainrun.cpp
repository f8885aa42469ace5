// The main window's runs: carrying out rows of the queue with the progress window, what each row
// came to (its tooltip), the closing box with its details, the run log and a retry of what did not
// get done, and the desktop's notification when the window is not in use.
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>

#include "engine/sourcecount.h"
#include "platform/pathtext.h"
#include "platform/resultcodes.h"
#include "queue/log.h"
#include "queue/queueentry.h"
#include "queue/runfailure.h"
#include "queue/runjournal.h"
#include "ui/localnumbers.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"
#include "ui/main/runnotifier.h"
#include "ui/prompts.h"
#include "ui/usersettings.h"

namespace mivex::ui {

void frmMain::buildRunMenu() {
    mNotifier = new RunNotifier(this);
    if (auto* options = menuBar()->findChild<QMenu*>(QStringLiteral("mnuOptions"))) {
        mnuShowRunLog = options->addAction(tr("Show Run Log"));
        mnuShowRunLog->setObjectName(QStringLiteral("mnuShowRunLog"));
        connect(mnuShowRunLog, &QAction::triggered, this, &frmMain::mnuShowRunLog_Click);
    }
}

std::string frmMain::dayLogPath() const {
    return gLogPath.empty() ? std::string()
                            : joinPath(gLogPath.path(), logFileName(std::time(nullptr)));
}

void frmMain::mnuShowRunLog_Click() {
    if (gLogPath.empty()) {
        showMessage(this, tr("This session keeps no run log: no folder could be had for it."));
        return;
    }
    const std::string path = dayLogPath();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        showMessage(this, tr("There is no run log for today yet. Run logs are kept in %1, one a "
                             "day.")
                              .arg(toQ(gLogPath.path())));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(toQ(path)))) {
        showMessage(this, tr("Today's run log is %1.").arg(toQ(path)));
    }
}

bool frmMain::runRows(const std::vector<std::size_t>& which, CountedSources* counted,
                      const CutOffRun* resume) {
    const std::vector<std::string>& all = queue().rows();  // the queue is read once
    std::vector<std::string> rows;
    CopyHooks hooks;
    hooks.verify = settings::verify();
    mOutcomes.resize(all.size());
    for (const std::size_t row : which) {
        rows.push_back(all[row]);
        // A "keep both" folder left unfinished is carried on, not begun again beside itself.
        const RowOutcome& before = mOutcomes[row];
        hooks.continueInto.push_back(
            before.state != RowState::Done && before.keepsBoth ? before.placedAs : std::string());
    }
    // One count of each source serves the whole run's size and every entry's progress; it outlives
    // the progress window, whose count thread uses it.
    CountedSources own;
    hooks.counted = counted ? counted : &own;
    // A crash, a kill or a power cut leaves the journal behind, for the offer at the next start;
    // a run that ends as runs end (stopped by the user too) removes it.
    RunJournal journal(gLogPath, RunJournal::kWindowRuns);
    if (resume) {
        journal.carryOn();
    } else {
        journal.begin(rows);
    }
    hooks.journal = &journal;
    hooks.resume = resume;
    frmProgress progress(this);
    progress.beginRun(rows, hooks.counted);
    hooks.rateLimit = progress.rateLimit();
    hooks.perform = [&progress](ShellOpRecord& record, std::size_t number, std::size_t count) {
        return progress.run(record, static_cast<int>(number), static_cast<int>(count));
    };
    RunSummary run = mivex::CopyOperation(rows, gLogPath, hooks);
    journal.finish();
    // Asked before the progress window goes: the main window becomes active only after that.
    const QWidget* active = QApplication::activeWindow();
    const bool inUse = (active == this || active == &progress) && !isMinimized();
    progress.hide();
    if (!run.logTrouble.empty()) {
        std::fprintf(stderr, "mivex: %s\n", run.logTrouble.c_str());
    }
    if (run.ok()) {
        afterRun(run.lastCopyCode);
    }
    // The rows are named by their place in the queue, also in a retry of a few of them.
    for (RunFailure& failure : run.failures) {
        failure.line = which[failure.line - 1] + 1;
    }
    std::string partial, stopped;
    for (std::size_t i = 0; i < which.size(); ++i) {
        const RowOutcome& outcome = run.outcomes[i];
        if (outcome.state == RowState::Stopped) {
            stopped = fromQ(tr("line %1: %2: the run was stopped during this entry")
                                .arg(which[i] + 1)
                                .arg(toQ(printable(all[which[i]])))) +
                      "\n";
        }
        mOutcomes[which[i]] = outcome;
        mQueue->setOutcome(static_cast<int>(which[i]), outcomeText(which[i]), outcomeMark(outcome));
        if (!outcome.partialPath.empty()) {
            partial += fromQ(tr("line %1 was left unfinished in %2 (%3 files, %4 complete)\n")
                                 .arg(which[i] + 1)
                                 .arg(toQ(printable(outcome.partialPath)))
                                 .arg(localCount(outcome.partialFiles))
                                 .arg(localBytes(outcome.partialBytes)));
        }
    }
    // What failed and where the log is, so that the closing message can tell.
    // The entry a stop ended is named after the failures before it, as it came in the run.
    std::string details = partial;
    for (const RunFailure& failure : run.failures) {
        details += describeFailure(failure) + "\n";
    }
    details += stopped + describeRun({}, run.stopped, run.logPath);
    mRunDetails = run.ok() ? QString() : toQ(details);
    if (run.filesLeft > 0) {
        // Update entries ("U") skip what is equal already; the details say how much that was.
        const QString left = tr("Files left as they were, their copy being equal already: %1")
                                 .arg(localCount(run.filesLeft));
        mRunDetails = mRunDetails.isEmpty() ? left : left + QStringLiteral("\n") + mRunDetails;
    }
    std::size_t failed = run.failures.size();
    QString word =
        run.done == 1 ? tr("1 entry done") : tr("%1 entries done").arg(localCount(run.done));
    if (failed != 0) {
        word += tr(", %1 failed").arg(localCount(failed));
    }
    if (run.stopped) {
        word += tr(", the run was stopped");
    }
    mNotifier->runEnded(word, inUse);
    return run.ok();
}

void frmMain::offerResume() {
    if (!queue().empty()) {
        return;  // started with work of its own; the journal waits for a start without
    }
    RunJournal journal(gLogPath, RunJournal::kWindowRuns);
    const std::optional<CutOffRun> cutOff = journal.cutOff();
    if (!cutOff || cutOff->rows.empty()) {
        return;
    }
    setQueue(cutOff->rows);  // seen behind the question
    setQueueButtons(true);
    const std::size_t at = std::min(cutOff->codes.size() + 1, cutOff->rows.size());
    const QString when =
        QLocale().toString(QDateTime::fromSecsSinceEpoch(cutOff->stoppedAt), QLocale::ShortFormat);
    const QPointer<frmMain> self(this);
    // Escape starts afresh: nothing runs and the queue stays, so nothing is lost by it.
    const int pressed = Prompts::current().question(
        this,
        tr("The last run stopped at entry %1 of %2 (%3). Resume it where it stopped, start it "
           "afresh, or discard it?")
            .arg(localCount(at), localCount(cutOff->rows.size()), when),
        QStringLiteral("Mivex"),
        {.buttons = {tr("Resume"), tr("Start afresh"), tr("Discard")},
         .preferred = 0,
         .onEscape = 1,
         .details = {},
         .icon = Prompts::Icon::None});
    if (!self) {
        return;
    }
    if (pressed == 0) {
        std::vector<std::size_t> all(cutOff->rows.size());
        for (std::size_t row = 0; row < all.size(); ++row) {
            all[row] = row;
        }
        mOutcomes.assign(all.size(), RowOutcome{});
        closeRun(runRows(all, nullptr, &*cutOff));  // the run's end removes the journal
        return;
    }
    journal.carryOn();  // offered once: the journal goes
    journal.finish();
    if (pressed != 1) {
        setQueue({});  // discarded: the window as it started
        setQueueButtons(false);
    }
}

RowMark frmMain::outcomeMark(const RowOutcome& outcome) {
    switch (outcome.state) {
        case RowState::Done:
            return RowMark::Done;
        case RowState::Failed:
            return outcome.code == kSkipped ? RowMark::Skipped : RowMark::Failed;
        case RowState::Stopped:
            return RowMark::Stopped;
        case RowState::NotRun:
            return RowMark::NotRun;
    }
    return RowMark::None;
}

QString frmMain::outcomeText(std::size_t row) const {
    const RowOutcome& outcome = mOutcomes[row];
    QString text;
    switch (outcome.state) {
        case RowState::Done: {
            const std::optional<QueueEntry> entry = ParseRecord(queue().rows()[row]);
            text = entry && !entry->copies() ? tr("moved") : tr("copied");
            break;
        }
        case RowState::Failed:
            if (outcome.code == kSkipped) {
                text = tr("skipped");
            } else {
                // The closing box's words, without the row they name.
                text = tr("failed: %1").arg(toQ(describeReason(outcome.code)));
            }
            break;
        case RowState::Stopped:
            text = tr("stopped: the run was stopped during this entry");
            break;
        case RowState::NotRun:
            text = tr("not run: the run was stopped");
            break;
    }
    if (!outcome.partialPath.empty()) {
        text += tr("; left unfinished in %1").arg(toQ(printable(outcome.partialPath)));
    }
    return text;
}

void frmMain::closeRun(bool ok) {
    for (QPointer<frmMain> self(this); self;) {
        QStringList buttons{tr("OK")};
        const bool hasLog = !gLogPath.empty();
        if (hasLog) {
            buttons << tr("Open Run Log");
        }
        std::vector<std::size_t> again;
        for (std::size_t row = 0; row < mOutcomes.size(); ++row) {
            if (mOutcomes[row].state != RowState::Done) {
                again.push_back(row);
            }
        }
        if (!ok && !again.empty()) {
            buttons << tr("Retry Failed");
        }
        const int pressed = Prompts::current().question(
            this,
            ok ? tr("Files copied successfully") : tr("Errors occurred during file copy operation"),
            QStringLiteral("Mivex"),
            {.buttons = buttons,
             .preferred = 0,
             .onEscape = 0,
             .details = mRunDetails,
             .icon = Prompts::Icon::None});
        if (!self || pressed <= 0) {
            return;  // OK, or the window went meanwhile
        }
        if (buttons[pressed] == tr("Open Run Log")) {
            mnuShowRunLog_Click();
            return;
        }
        ok = runRows(again);  // then the box again, for what the retry came to
    }
}

}  // namespace mivex::ui
