// Processing the queue: every row from the top, one transfer each, one run-log line each.
#include "queue/copyoperation.h"

#include <optional>

#include "engine/session.h"
#include "engine/transfer.h"
#include "platform/folders.h"
#include "platform/pathtext.h"
#include "platform/resultcodes.h"
#include "queue/log.h"
#include "queue/queueentry.h"
#include "queue/runjournal.h"

namespace mivex {

int DoFileOperation(ShellOpRecord& record, TransferMonitor* monitor) {
    TransferRequest request;
    request.source = record.pFrom;
    request.destFolder = record.pTo;
    request.kind = record.wFunc == ShellOpRecord::FO_COPY ? TransferKind::Copy : TransferKind::Move;
    request.rule = (record.fFlags & ShellOpRecord::FOF_RENAMEONCOLLISION) != 0
                       ? CollisionRule::KeepBoth
                   : record.update ? CollisionRule::Update
                                   : CollisionRule::Overwrite;
    request.session = record.session;
    request.continueInto = record.continueInto;
    request.verify = record.verify;
    request.onPlaced = record.onPlaced;
    const TransferOutcome outcome = transferItem(request, monitor);
    record.fAnyOperationsAborted = outcome.aborted;
    record.placedAs = outcome.placedAs;
    record.filesPlaced = outcome.filesPlaced;
    record.bytesPlaced = outcome.bytesPlaced;
    record.filesLeft = outcome.filesLeft;
    record.differs = outcome.differs;
    return outcome.code;
}

std::string GetErrorText(int code) {
    if (code == 1223) {
        return "Not enough free space on destination drive";
    }
    return "Something broke... sorry. Error code is " + std::to_string(code) + ".";
}

namespace {

// What a run notes as it goes: the run log's lines and the summary.
struct RunNotes {
    const std::vector<std::string>& rows;
    const CopyHooks& hooks;
    RunLog& runLog;
    RunSummary& summary;

    // A row is logged as standard error shows it: a NUL byte would make grep call the whole day's
    // log binary, and other control characters would move a terminal's cursor.
    // `item` names the file a failure is about, where there is one (a copy verify refused).
    void fail(std::size_t row, int code, const std::string& why, const std::string& item = {}) {
        runLog.log("*** ERROR *** " + printable(rows[row]) + " did not copy - " + why +
                   (item.empty() ? ""
                                 : " The copy of " + printable(item) +
                                       " differs from its source after writing."));
        summary.failures.push_back({row + 1, rows[row], code, item});
        summary.outcomes[row].state = RowState::Failed;
        summary.outcomes[row].code = code;
        if (hooks.failed) {
            hooks.failed(summary.failures.back());
        }
    }

    // The row's line and outcome once its transfer answered `result`.
    void done(std::size_t row, const QueueEntry& fields, const ShellOpRecord& record, int result) {
        summary.filesLeft += record.filesLeft;
        RowOutcome& outcome = summary.outcomes[row];
        outcome.keepsBoth = fields.keepsBoth();
        outcome.placedAs = record.placedAs;
        if (result != 0) {
            fail(row, result, GetErrorText(result), record.differs);
        } else if (record.fAnyOperationsAborted) {
            summary.stopped = true;  // the rest of the queue is left as it is; no line for this row
            outcome.state = RowState::Stopped;
        } else {
            runLog.log(printable(rows[row]) + " was successful");
            summary.lastCopyCode = fields.copy;
            ++summary.done;
            outcome.state = RowState::Done;
        }
        if (hooks.journal && outcome.state != RowState::Stopped) {
            hooks.journal->ended(row, result);
        }
        if (outcome.state != RowState::Done && !record.placedAs.empty()) {
            outcome.partialPath = joinPath(fields.dest, record.placedAs);
            outcome.partialFiles = record.filesPlaced;
            outcome.partialBytes = record.bytesPlaced;
        }
    }

    // A row that the run being taken up ended: counted as it ended then, and not logged again.
    void endedBefore(std::size_t row, int code) {
        RowOutcome& outcome = summary.outcomes[row];
        outcome.state = code == 0 ? RowState::Done : RowState::Failed;
        outcome.code = code;
        if (code == 0) {
            ++summary.done;
        } else {
            summary.failures.push_back({row + 1, rows[row], code});
            if (hooks.failed) {
                hooks.failed(summary.failures.back());
            }
        }
    }
};

// The row a run was in when it was cut off carries on: what it placed whole stays (the update
// rule leaves a file equal in size and time), and a keep-both folder it began is merged into.
void carryOn(ShellOpRecord& record, const QueueEntry& fields, const std::string& placedAs) {
    if (fields.keepsBoth() && placedAs.empty()) {
        return;  // cut off before it had a name: it begins as it would have
    }
    record.fFlags = ShellOpRecord::kOverwriteFlags;
    record.update = true;
    record.continueInto = placedAs;
}

// The transfer of one entry, as the design hands it over.
ShellOpRecord recordFor(const QueueEntry& fields, TransferSession& session, const CopyHooks& hooks,
                        std::size_t row) {
    ShellOpRecord record;
    record.wFunc = fields.copies() ? ShellOpRecord::FO_COPY : ShellOpRecord::FO_MOVE;
    record.pFrom = fields.source;
    record.pTo = fields.dest;
    record.session = &session;
    record.fFlags =
        fields.keepsBoth() ? ShellOpRecord::kKeepBothFlags : ShellOpRecord::kOverwriteFlags;
    if (row < hooks.continueInto.size()) {
        record.continueInto = hooks.continueInto[row];
    }
    record.update = fields.updates();
    record.verify = hooks.verify;
    if (hooks.resume && row == hooks.resume->codes.size()) {
        carryOn(record, fields, hooks.resume->placedAs);
    }
    if (hooks.journal) {
        record.onPlaced = [&hooks, row](const std::string& name) {
            hooks.journal->placed(row, name);
        };
    }
    return record;
}

}  // namespace

RunSummary CopyOperation(const std::vector<std::string>& rows, const LogFolder& logFolder,
                         const CopyHooks& hooks) {
    RunSummary summary;
    summary.rows = rows.size();
    summary.outcomes.resize(rows.size());
    // The day is fixed when the run starts, so a run past midnight stays in one file.
    const std::time_t start = hooks.startTime != 0 ? hooks.startTime : std::time(nullptr);
    RunLog runLog;
    // No folder: there was none to be had, which start-up has said already.
    runLog.setPath(logFolder, logFileName(start));
    summary.logPath = runLog.path();
    RunNotes notes{rows, hooks, runLog, summary};

    // Each row is parsed once; the entries are counted for the displays before the first starts.
    std::vector<std::optional<QueueEntry>> entries;
    entries.reserve(rows.size());
    std::size_t count = 0;
    for (const std::string& row : rows) {
        entries.push_back(ParseRecord(row));
        count += entries.back().has_value() ? 1 : 0;
    }

    // Entries that share a source folder or a destination find them open (keptfolders.h), and
    // the n-th "keep both" copy in a folder does not try every number before it.
    TransferSession session;
    session.rateLimit = hooks.rateLimit;
    std::size_t number = 0;
    const std::size_t resumeRow = hooks.resume ? hooks.resume->codes.size() : 0;
    for (std::size_t row = 0; row < rows.size() && !summary.stopped; ++row) {
        const std::optional<QueueEntry>& fields = entries[row];
        if (row < resumeRow) {
            number += fields ? 1 : 0;
            notes.endedBefore(row, hooks.resume->codes[row]);
            continue;
        }
        if (!fields) {
            // A hand-edited list can hold a row that is no entry at all: it fails on its own.
            notes.fail(row, kNotAnEntry,
                       "This line is not a queue entry (expected \"C-N --> source --> "
                       "destination folder\")");
            if (hooks.journal) {
                hooks.journal->ended(row, kNotAnEntry);
            }
            continue;
        }
        ShellOpRecord record = recordFor(*fields, session, hooks, row);
        ++number;
        const int result =
            hooks.perform ? hooks.perform(record, number, count) : DoFileOperation(record);
        notes.done(row, *fields, record, result);
    }
    // Lost lines are said once, after the run, however many there were.
    if (!runLog.firstFailure().empty()) {
        summary.logTrouble = "the run log " + runLog.path() + " could not be written (" +
                             runLog.firstFailure() + "): lines of this run are missing";
    }
    return summary;
}

}  // namespace mivex
