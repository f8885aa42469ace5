// Processing the queue: every row from the top, one transfer each, one run-log line each.
#include "queue/copyoperation.h"

#include <cstdio>

#include "engine/keptfolders.h"
#include "engine/transfer.h"
#include "platform/folders.h"
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
                       : CollisionRule::Overwrite;
    const TransferOutcome outcome = transferItem(request, monitor);
    record.fAnyOperationsAborted = outcome.aborted;
    return outcome.code;
}

std::string GetErrorText(int code) {
    if (code == 1223) {
        return "Not enough free space on destination drive";
    }
    return "Something broke... sorry. Error code is " + std::to_string(code) + ".";
}

bool CopyOperation(const std::vector<std::string>& rows, const LogFolder& logFolder,
                   const CopyHooks& hooks) {
    // The day is fixed when the run starts, so a run past midnight stays in one file.
    const std::time_t start = hooks.startTime != 0 ? hooks.startTime : std::time(nullptr);
    RunLog runLog;
    // No folder: there was none to be had, which start-up has said already.
    runLog.setPath(logFolder, logFileName(start));
    // Lost lines are said once, after the run, however many there were.
    struct LogReport {
        const RunLog& log;
        const CopyHooks& hooks;
        ~LogReport() {
            if (log.firstFailure().empty()) {
                return;
            }
            const std::string text = "the run log " + log.path() + " could not be written (" +
                                     log.firstFailure() + "): lines of this run are missing";
            if (hooks.logTrouble) {
                hooks.logTrouble(text);
            } else {
                std::fprintf(stderr, "mivex: %s\n", text.c_str());
            }
        }
    } report{runLog, hooks};

    // Entries that share a source folder or a destination find them open (see keptfolders.h).
    const KeepFoldersForRun keepFolders;
    int errors = 0;
    std::string lastCopyCode;
    const std::size_t count = rows.size();
    for (std::size_t row = 0; row < count; ++row) {
        const std::string& entry = rows[row];
        // Written as standard error shows it: a NUL byte would make grep call the whole day's
        // log binary, and other control characters would move a terminal's cursor.
        const std::string logged = printable(entry);
        const std::optional<QueueEntry> fields = ParseRecord(entry);
        if (!fields) {
            // A hand-edited list can hold a row that is no entry at all: it fails on its own.
            runLog.log("*** ERROR *** " + logged +
                       " did not copy - This line is not a queue entry (expected "
                       "\"C-N --> source --> destination folder\")");
            if (hooks.failed) {
                hooks.failed({row + 1, entry, kNotAnEntry});
            }
            ++errors;
            continue;
        }
        ShellOpRecord record;
        record.wFunc = fields->copies() ? ShellOpRecord::FO_COPY : ShellOpRecord::FO_MOVE;
        record.pFrom = fields->source;
        record.pTo = fields->dest;
        record.fFlags =
            fields->keepsBoth() ? ShellOpRecord::kKeepBothFlags : ShellOpRecord::kOverwriteFlags;
        const int result = hooks.perform ? hooks.perform(record) : DoFileOperation(record);
        if (result != 0) {
            runLog.log("*** ERROR *** " + logged + " did not copy - " + GetErrorText(result));
            if (hooks.failed) {
                hooks.failed({row + 1, entry, result});
            }
            ++errors;
            continue;
        }
        if (record.fAnyOperationsAborted) {
            return false;  // the rest of the queue is left as it is; this row gets no line
        }
        runLog.log(logged + " was successful");
        lastCopyCode = fields->copy;
    }
    if (errors != 0) {
        return false;
    }
    if (hooks.afterRun) {
        hooks.afterRun(lastCopyCode);
    }
    return true;
}

}  // namespace mivex
