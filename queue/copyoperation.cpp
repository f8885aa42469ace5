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
    request.counted = record.counted;
    const TransferOutcome outcome = transferItem(request, monitor);
    record.fAnyOperationsAborted = outcome.aborted;
    record.placedAs = outcome.placedAs;
    record.filesPlaced = outcome.filesPlaced;
    record.bytesPlaced = outcome.bytesPlaced;
    record.filesLeft = outcome.filesLeft;
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
    void fail(std::size_t row, int code, const std::string& why) {
        runLog.log("*** ERROR *** " + printable(rows[row]) + " did not copy - " + why);
        summary.failures.push_back({row + 1, rows[row], code});
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
            fail(row, result, GetErrorText(result));
        } else if (record.fAnyOperationsAborted) {
            summary.stopped = true;  // the rest of the queue is left as it is; no line for this row
            outcome.state = RowState::Stopped;
        } else {
            runLog.log(printable(rows[row]) + " was successful");
            summary.lastCopyCode = fields.copy;
            ++summary.done;
            outcome.state = RowState::Done;
        }
        if (outcome.state != RowState::Done && !record.placedAs.empty()) {
            outcome.partialPath = joinPath(fields.dest, record.placedAs);
            outcome.partialFiles = record.filesPlaced;
            outcome.partialBytes = record.bytesPlaced;
        }
    }
};

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
    record.counted = hooks.counted;
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
    std::size_t number = 0;
    for (std::size_t row = 0; row < rows.size() && !summary.stopped; ++row) {
        const std::optional<QueueEntry>& fields = entries[row];
        if (!fields) {
            // A hand-edited list can hold a row that is no entry at all: it fails on its own.
            notes.fail(row, kNotAnEntry,
                       "This line is not a queue entry (expected \"C-N --> source --> "
                       "destination folder\")");
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
