// A run's journal: what a run that a crash, a kill or a power cut cut off had done, so that it can
// be taken up again where it stopped. It lies beside the run logs, one for the window's runs and
// one per list, and is removed when a run ends as runs end (stopped by the user too).
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/fd.h"
#include "platform/folders.h"

namespace mivex {

// Where a run cut off stood.
struct CutOffRun {
    std::vector<std::string> rows;  // the queue it ran, as it ran it
    std::vector<int> codes;         // the result of each row that came to an end, in order
    std::string placedAs;           // the name the next row's folder took at its destination
    std::time_t stoppedAt = 0;      // when it last wrote to its journal
};

class RunJournal {
public:
    // The journal of the runs of `key` (a list's absolute path, or kWindowRuns) in `folder`;
    // without a folder there is none, and nothing can be resumed.
    RunJournal(const LogFolder& folder, const std::string& key);
    static constexpr const char* kWindowRuns = "";

    // The run that was cut off, if the journal holds one.
    std::optional<CutOffRun> cutOff() const;
    // Starts the journal of a new run of `rows`, replacing any earlier one.
    void begin(const std::vector<std::string>& rows);
    // Carries on the journal of the run that was cut off, for its resumed run.
    void carryOn();
    // A row's folder took `name` at its destination; on the disk at once.
    void placed(std::size_t row, const std::string& name);
    // Row `row` came to an end with `code`; on the disk within a second.
    void ended(std::size_t row, int code);
    // The same for a row that gives what it gave when done again (a copy that overwrites a plain
    // file): its line may wait up to a tenth of a second for the lines of the rows after it, so
    // that a list of many such rows writes a line a batch, not a line a row. A run cut off
    // meanwhile does those rows again. Any other line, or flush, writes it.
    void endedRedoable(std::size_t row, int code);
    void flush();
    // The run ended as runs end: nothing is left to resume.
    void finish();

private:
    void append(const std::string& line, bool durable);
    void write(bool durable);  // what waits, then a flush when asked or due

    LogFolder mFolder;
    std::string mName;
    Fd mFile;
    std::chrono::steady_clock::time_point mSynced{};
    std::string mWaiting;  // lines not yet written
    std::chrono::steady_clock::time_point mWaitingSince{};
};

}  // namespace mivex
