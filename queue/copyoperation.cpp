// Processing the queue: every row from the top, one transfer each, one run-log line each.
#include "queue/copyoperation.h"

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>

#include "engine/session.h"
#include "engine/transfer.h"
#include "platform/folders.h"
#include "platform/pathtext.h"
#include "platform/resultcodes.h"
#include "queue/log.h"
#include "queue/queueentry.h"
#include "queue/runjournal.h"
#include "queue/sidelane.h"

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
    request.counted = record.counted;
    request.sourceSt = record.sourceSt;
    request.inBatch = record.inBatch;
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

    // A hand-edited list can hold a row that is no entry at all: it fails on its own.
    void notAnEntry(std::size_t row) {
        fail(row, kNotAnEntry,
             "This line is not a queue entry (expected \"C-N --> source --> destination "
             "folder\")");
        if (hooks.journal) {
            hooks.journal->ended(row, kNotAnEntry);
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

// Each row parsed once; the entries counted for the displays before the first starts.
std::vector<std::optional<QueueEntry>> parseRows(const std::vector<std::string>& rows,
                                                 std::size_t& count) {
    std::vector<std::optional<QueueEntry>> entries;
    entries.reserve(rows.size());
    for (const std::string& row : rows) {
        entries.push_back(ParseRecord(row));
        count += entries.back().has_value() ? 1 : 0;
    }
    return entries;
}

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
    record.counted = hooks.counted;
    return record;
}

// Neighbouring one-file entries on both cores (sidelane.h): the rows of a batch that may all
// overlap are taken one at a time by whichever of the run's thread and the side lane is free, each
// with a session of its own; the run's thread logs each row's line once every row before it is
// done, so the lines keep the row order.
struct Overlap {
    static constexpr std::size_t kBatch = 256;

    Overlap(const std::vector<std::optional<QueueEntry>>& rows, const CopyHooks& runHooks,
            RunNotes& runNotes)
        : entries(rows), hooks(runHooks), notes(runNotes) {
        side.rateLimit = hooks.rateLimit;  // one limit over both threads
    }

    // Carries out rows from `row` on that may overlap, when there are two or more; returns how
    // many (0: none, with the row's lstat, just taken, in `first` where there is one).
    std::size_t run(std::size_t row, TransferSession& session, ShellOpRecord& first) {
        const std::size_t n = collect(row);
        if (n < 2) {
            first.sourceSt = n == 1 || lookedFirst ? &looked[0] : nullptr;
            return 0;
        }
        next = 0;
        sideBegun = ownBegun = false;  // the lane starts below, after this
        for (std::size_t i = 0; i < n; ++i) {
            done[i] = false;
            records[i] = recordFor(*entries[row + i], session, hooks, row + i);
            records[i].sourceSt = &looked[i];
        }
        if (!lane.start([this, n] { work(n, side); })) {
            work(n, session);  // no thread to be had: all of them here, one after the other
        }
        std::size_t logged = 0;
        while (logged < n) {
            if (!work(n, session, 1)) {
                lane.wait();  // nothing left to take: the lane has the rest in hand
            }
            for (; logged < n && done[logged].load(std::memory_order_acquire); ++logged) {
                notes.done(row + logged, *entries[row + logged], records[logged], results[logged]);
            }
        }
        lane.wait();
        return n;
    }

private:
    // The rows from `row` on that may overlap with it, each looked at now: plain files under
    // names apart. Their count; `lookedFirst` tells whether the first row's lstat is in looked[0].
    std::size_t collect(std::size_t row) {
        lookedFirst = false;
        names.clear();
        const std::optional<OverlapWay> way = overlapWay(*entries[row]);
        std::size_t n = 0;
        for (; way && n < kBatch && row + n < entries.size() && entries[row + n]; ++n) {
            const QueueEntry& entry = *entries[row + n];
            std::string name = overlapName(entry);
            if (!sameWay(entry, *way) || name.empty() || !names.insert(std::move(name)).second ||
                ::lstat(entry.source.c_str(), &looked[n]) != 0) {
                break;
            }
            lookedFirst = lookedFirst || n == 0;
            if (!S_ISREG(looked[n].st_mode)) {
                break;
            }
        }
        return n;
    }

    // Takes rows not yet taken, at most `most`, and carries them out with `session`; false when
    // none was left to take.
    bool work(std::size_t n, TransferSession& session, std::size_t most = SIZE_MAX) {
        std::size_t taken = 0;
        for (std::size_t i; taken < most && (i = next.fetch_add(1)) < n; ++taken) {
            records[i].session = &session;
            // The session's first entry of the batch looks at both folders' paths; its later ones
            // take the folders that one kept.
            records[i].inBatch = started(session);
            results[i] = DoFileOperation(records[i]);
            done[i].store(true, std::memory_order_release);
        }
        return taken > 0;
    }

    // Whether `session` has begun an entry of the batch; each thread asks of its own alone.
    bool started(const TransferSession& session) {
        bool& begun = &session == &side ? sideBegun : ownBegun;
        return std::exchange(begun, true);
    }

    const std::vector<std::optional<QueueEntry>>& entries;
    const CopyHooks& hooks;
    RunNotes& notes;
    bool sideBegun = false, ownBegun = false;  // the lane's, the run thread's
    TransferSession side;
    SideLane lane;
    std::unordered_set<std::string> names;
    bool lookedFirst = false;
    std::atomic<std::size_t> next{0};
    std::array<struct stat, kBatch> looked;
    std::array<ShellOpRecord, kBatch> records;
    std::array<int, kBatch> results{};
    std::array<std::atomic<bool>, kBatch> done{};
};

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

    std::size_t count = 0;
    const std::vector<std::optional<QueueEntry>> entries = parseRows(rows, count);

    // Entries that share a source folder or a destination find them open (keptfolders.h), and
    // the n-th "keep both" copy in a folder does not try every number before it.
    TransferSession session;
    session.rateLimit = hooks.rateLimit;
    // Without a display that follows one entry at a time, one-file entries overlap.
    std::unique_ptr<Overlap> overlap;
    if (!hooks.perform && overlapAllowed()) {
        overlap = std::make_unique<Overlap>(entries, hooks, notes);
    }
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
            notes.notAnEntry(row);
            continue;
        }
        ShellOpRecord record = recordFor(*fields, session, hooks, row);
        ++number;
        if (const std::size_t n = overlap ? overlap->run(row, session, record) : 0; n > 0) {
            number += n - 1;
            row += n - 1;
            continue;
        }
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
