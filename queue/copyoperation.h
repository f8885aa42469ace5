// Processing the queue: every row from the top, one transfer each, one run-log line each.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "platform/folders.h"
#include "queue/runfailure.h"

namespace mivex {

class RateLimit;
class RunJournal;
struct CutOffRun;
class TransferMonitor;
struct TransferSession;
class CountedSources;

// The operation record handed to the transfer for one entry. Its fields and flags keep the names
// and numbers of a shell file-operation record (SHFILEOPSTRUCT), as processing is described in
// terms of that record: FO_COPY is 2, the keep-both flags are 1560.
struct ShellOpRecord {
    static constexpr std::uint32_t FO_MOVE = 1;
    static constexpr std::uint32_t FO_COPY = 2;
    static constexpr std::uint16_t FOF_RENAMEONCOLLISION = 0x8;
    static constexpr std::uint16_t FOF_NOCONFIRMATION = 0x10;
    static constexpr std::uint16_t FOF_NOCONFIRMMKDIR = 0x200;
    static constexpr std::uint16_t FOF_NOERRORUI = 0x400;
    static constexpr std::uint16_t kKeepBothFlags = 1560;   // 0x618
    static constexpr std::uint16_t kOverwriteFlags = 1552;  // 0x610

    std::uint32_t wFunc = FO_COPY;
    std::string pFrom;  // the entry's source
    std::string pTo;    // the entry's destination folder
    std::uint16_t fFlags = kKeepBothFlags;
    bool fAnyOperationsAborted = false;
    // Overwrite flags, but a file at the destination equal in size and modification time to the
    // incoming one is left as it is (the "U" code); filesLeft counts those after the transfer.
    bool update = false;
    std::uint64_t filesLeft = 0;
    // Each copied file is read back from the destination and compared before it gets its name
    // (TransferRequest::verify); `differs` then names the file whose copy differed.
    bool verify = false;
    std::string differs{};
    // Told the name the entry's folder takes at the destination (TransferRequest::onPlaced).
    std::function<void(const std::string&)> onPlaced{};
    std::string lpszProgressTitle = "Processing files from your queue.";
    // The run the record belongs to (engine/session.h): what one entry keeps for the next.
    TransferSession* session = nullptr;
    // In: the folder an earlier, unfinished attempt at this entry made at the destination, to be
    // carried on ("" for a fresh start). Out: the name the entry's folder took there, and the
    // files and bytes complete in it (TransferOutcome).
    std::string continueInto{};
    std::string placedAs{};
    std::uint64_t filesPlaced = 0;
    std::uint64_t bytesPlaced = 0;
    // The run's counts of its sources (engine/sourcecount.h), which the entry's progress takes
    // its totals from; null: the entry counts its source itself.
    CountedSources* counted = nullptr;
    // The source's lstat, taken just before by whoever hands the record over; null: none.
    const struct stat* sourceSt = nullptr;
    // One of a batch of entries of one source folder and destination that the session's last
    // entry began: its folders are taken as that entry left them (TransferRequest::inBatch).
    bool inBatch = false;
};

// Carries out one record with the transfer engine; returns 0 or a result code and sets
// fAnyOperationsAborted when the monitor asked to stop.
int DoFileOperation(ShellOpRecord& record, TransferMonitor* monitor = nullptr);

// The text the run log gives a nonzero result code.
std::string GetErrorText(int code);

struct CopyHooks {
    // Carries out one record, entry `number` of `count` (counted from 1; rows that are no entry
    // are not counted); DoFileOperation when empty. The window runs it off its thread, the
    // terminal with a progress line.
    std::function<int(ShellOpRecord&, std::size_t number, std::size_t count)> perform;
    // Told of each failure as it happens, for a display that shows them at once (the terminal's);
    // the run's summary holds them all.
    std::function<void(const RunFailure&)> failed;
    // The run's start time, which names the day's log file; now when 0.
    std::time_t startTime = 0;
    // Per row, the folder an earlier attempt at it left unfinished at its destination (an
    // outcome's placedAs): a retry carries on in it. Shorter than the rows, or "": none.
    std::vector<std::string> continueInto;
    // The run's speed limit over all its writing (engine/ratelimit.h), or null for none; its
    // owner may change the rate while the run goes on.
    RateLimit* rateLimit = nullptr;
    // Every copy read back and compared with its source before it gets its name.
    bool verify = false;
    // The run's journal (queue/runjournal.h): told of each row's end and of the name a row's
    // folder takes, so that a run cut off by a crash can be taken up again; null: none.
    RunJournal* journal = nullptr;
    // Taking up a run that was cut off (its rows must be these): the rows it ended are not run
    // again, their log lines written then, and the row it was in carries on, leaving the files
    // already complete at the destination as "U" leaves them, in the folder it began.
    const CutOffRun* resume = nullptr;
    // The counts of the rows' sources that the displays share (engine/sourcecount.h): handed to
    // every record, so that a source counted before the run, or beside it, is not walked again.
    CountedSources* counted = nullptr;
};

// How one row of a run ended.
enum class RowState {
    NotRun,   // the run was stopped before it
    Done,     // carried out with success
    Failed,   // failed, or was skipped (code kSkipped)
    Stopped,  // in hand when the user stopped the run
};

struct RowOutcome {
    RowState state = RowState::NotRun;
    int code = 0;  // for Failed: the result code, or kNotAnEntry
    bool keepsBoth = false;
    std::string placedAs;  // the name the entry's folder took at its destination, or ""
    // Unfinished (failed, skipped or stopped) with a folder at the destination: its path, and
    // the files and bytes complete in it.
    std::string partialPath;
    std::uint64_t partialFiles = 0;
    std::uint64_t partialBytes = 0;
};

// What one run of the queue came to; the window and the unattended run only show it.
struct RunSummary {
    std::vector<RunFailure> failures;  // every row that failed, in row order
    bool stopped = false;         // stopped on request: that row got no line, the rest were not run
    std::size_t rows = 0;         // in the queue
    std::size_t done = 0;         // carried out with success
    std::uint64_t filesLeft = 0;  // files "U" entries left as they were: equal already
    std::string lastCopyCode;     // the copy code of the last row done ("" when none was)
    std::string logPath;          // the day's log ("": the run has no log)
    std::string logTrouble;       // a sentence saying why lines of the log are missing, or ""
    std::vector<RowOutcome> outcomes;  // one per row, in row order

    // Every row succeeded, and the run was not stopped.
    bool ok() const { return failures.empty() && !stopped; }
};

// Carries out every row from the top and logs each outcome in `logFolder` (no log when it has no
// folder). A transfer aborted on request ends the walk there.
RunSummary CopyOperation(const std::vector<std::string>& rows, const LogFolder& logFolder,
                         const CopyHooks& hooks = {});

}  // namespace mivex
