// Processing the queue: every row from the top, one transfer each, one run-log line each.
#include "queue/copyoperation.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <utility>

#include "engine/session.h"
#include "engine/transfer.h"
#include "platform/fd.h"
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

    // The row's line and outcome once its transfer answered `result`; `redoable`: doing the row
    // again would give what it gave (RunJournal::endedRedoable).
    void done(std::size_t row, const QueueEntry& fields, const ShellOpRecord& record, int result,
              bool redoable = false) {
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
            if (redoable) {
                hooks.journal->endedRedoable(row, result);
            } else {
                hooks.journal->ended(row, result);
            }
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
// with a session of its own. Neither waits for the other: the one that needs a row and finds none
// looked at yet looks at the next few, and the one that ends a row logs every row that is done by
// then and has no row before it still going, so the lines keep the row order.
struct Overlap {
    static constexpr std::size_t kBatch = 1024;
    static constexpr std::size_t kLookAhead = 16;   // rows looked at in one go
    static constexpr std::size_t kLogTogether = 4;  // rows done that are logged in one go

    Overlap(const std::vector<std::optional<QueueEntry>>& rows, const CopyHooks& runHooks,
            RunNotes& runNotes)
        : entries(rows), hooks(runHooks), notes(runNotes) {
        side.rateLimit = hooks.rateLimit;  // one limit over both threads
    }

    // Carries out rows from `row` on that may overlap, when there are two or more; returns how
    // many (0: none, with the row's lstat, just taken, in `first` where there is one).
    std::size_t run(std::size_t row, TransferSession& session, ShellOpRecord& first) {
        begin(row, session);
        if (lookAt(2); ready < 2) {
            first.sourceSt = ready == 1 || lookedFirst ? &looked[0] : nullptr;
            return 0;
        }
        if (!lane.start([this] { work(side); })) {
            work(session);  // no thread to be had: all of them here, one after the other
        }
        work(session);
        lane.wait();
        logDone(true);  // both are done: whatever is left
        if (hooks.journal) {
            hooks.journal->flush();  // the next row may take long
        }
        return ready;
    }

private:
    void begin(std::size_t row, TransferSession& session) {
        top = row;
        own = &session;
        ready = 0;
        next = 0;
        logged = 0;
        lookedFirst = false;
        sideBegun = ownBegun = false;
        names.clear();
        way = overlapWay(*entries[row]);
        // The batch's sources are looked at from their folder: one path walk for all of them.
        folder.reset(way ? ::open(way->folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
        closed = !folder.valid();
    }

    // Looks at up to `most` rows past those looked at, while they may join the batch: plain files
    // under names apart, the way of the first. A row that may not ends it.
    void lookAt(std::size_t most) {
        for (std::size_t n = 0; n < most && !closed; ++n) {
            const std::size_t i = ready;
            const std::size_t row = top + i;
            if (i == kBatch || row == entries.size() || !entries[row]) {
                closed = true;
                break;
            }
            const QueueEntry& entry = *entries[row];
            std::string name = overlapName(entry);
            closed = !sameWay(entry, *way) || name.empty() ||
                     !names.insert(std::move(name)).second ||
                     ::fstatat(folder.get(), nameOf(entry.source).c_str(), &looked[i],
                               AT_SYMLINK_NOFOLLOW) != 0;
            lookedFirst = lookedFirst || (!closed && i == 0);
            closed = closed || !S_ISREG(looked[i].st_mode);
            if (closed) {
                break;
            }
            done[i].store(false);
            records[i] = recordFor(entry, *own, hooks, row);
            records[i].sourceSt = &looked[i];
            ready = i + 1;
        }
    }

    // The next row to carry out, looked at now when none is waiting; none once the batch ended.
    // Rows already looked at are taken without a lock.
    std::optional<std::size_t> take() {
        for (;;) {
            std::size_t n = next.load();
            if (n < ready.load()) {
                if (next.compare_exchange_weak(n, n + 1)) {
                    lookAhead(n);
                    return n;
                }
                continue;
            }
            std::lock_guard lock(frontLock);
            if (next.load() == ready.load()) {
                if (closed) {
                    return std::nullopt;
                }
                lookAt(kLookAhead);
            }
        }
    }

    // With few rows left looked at after row `n`, looks at more unless the other thread is at it,
    // so that neither has to wait for the look.
    void lookAhead(std::size_t n) {
        if (n + kLookAhead / 2 >= ready.load() && !closed.load()) {
            std::unique_lock lock(frontLock, std::try_to_lock);
            if (lock.owns_lock() && n + kLookAhead / 2 >= ready.load()) {
                lookAt(kLookAhead);
            }
        }
    }

    // Carries out rows with `session` while any is left to take, logging as rows end.
    void work(TransferSession& session) {
        bool& begun = &session == &side ? sideBegun : ownBegun;  // each thread asks of its own
        for (std::optional<std::size_t> i; (i = take());) {
            records[*i].session = &session;
            // The session's first entry of the batch looks at both folders' paths; its later ones
            // take the folders that one kept.
            records[*i].inBatch = std::exchange(begun, true);
            results[*i] = DoFileOperation(records[*i]);
            done[*i].store(true);
            logDone();
        }
    }

    // Logs the rows that are done, in order, up to the first still going, once a few are (at the
    // end, any). A thread that finds the other logging goes on: the other, or the next row's end,
    // logs what it leaves.
    void logDone(bool wait = false) {
        std::unique_lock lock(logLock, std::defer_lock);
        if (wait) {
            lock.lock();
        } else if (!lock.try_lock() || logged + kLogTogether > kBatch ||
                   !done[logged + kLogTogether - 1].load()) {
            return;
        }
        const RunLog::Burst burst(notes.runLog);
        for (; logged < kBatch && done[logged].load(); ++logged) {
            const std::size_t row = top + logged;
            // Copies that overwrite plain files: each gives what it gave when done again.
            notes.done(row, *entries[row], records[logged], results[logged], true);
            done[logged].store(false);  // logged: the row is not looked at again
        }
    }

    const std::vector<std::optional<QueueEntry>>& entries;
    const CopyHooks& hooks;
    RunNotes& notes;
    TransferSession side;
    SideLane lane;
    TransferSession* own = nullptr;  // the run thread's session
    std::size_t top = 0;             // the batch's first row
    std::optional<OverlapWay> way;
    Fd folder;                                 // the way's source folder
    bool sideBegun = false, ownBegun = false;  // the lane's, the run thread's

    std::mutex frontLock;  // guards what follows, up to logLock
    std::unordered_set<std::string> names;
    std::atomic<std::size_t> ready{0};  // rows looked at and handed over, from `top` on
    std::atomic<std::size_t> next{0};   // rows taken
    std::atomic<bool> closed{false};    // no further row joins the batch
    bool lookedFirst = false;
    std::array<struct stat, kBatch> looked;
    std::array<ShellOpRecord, kBatch> records;

    std::mutex logLock;      // guards `logged` and the run's notes
    std::size_t logged = 0;  // rows logged, from `top` on
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
