// The run log: one plain-text file a day, one line per carried-out entry:
//   date and time, TAB, message, CR LF
// The file is opened at the first line and kept open for the run (one RunLog), opened with
// O_APPEND; each line is appended with one write(), so every line is in the file when log()
// returns and two runs at once never interleave half lines. A line that cannot be written is lost:
// the log never stops a run, but remembers why, so the caller can say so once. A log file removed
// or renamed during a run keeps that run's later lines, as with any program that holds its log
// open; the next run writes the day's file afresh.
//
// (The class is called RunLog rather than log: C++ does not let a method share its class's name.)
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/fd.h"

namespace mivex {

class RunLog {
public:
    // Stores the full path of the log file (empty: the run is not logged); opens and checks
    // nothing. A file already open for another path is closed.
    void setPath(const std::string& path);
    const std::string& path() const { return mPath; }
    // Appends one line stamped with the current local date and time.
    void log(std::string_view message);
    // The same with a given time, for callers that must control the stamp.
    void log(std::string_view message, std::time_t when);
    // Why the first lost line of this instance was lost ("No space left on device"); empty while
    // none was.
    const std::string& firstFailure() const { return mFailure; }

private:
    void fail(const std::string& reason);
    // Opens the file for appending and checks it; false (the reason noted) when it cannot be.
    // `prefix` gets the line end that a torn last line of an earlier run needs.
    bool open(std::string& prefix);

    std::string mPath;
    Fd mFile;               // open from the first line written until the run ends
    bool mStarted = false;  // the first line was tried: the file's end has been looked at
    std::string mFailure;
    std::string mStamp;  // logTimestamp(mStampedAt), kept for the lines of the same second
    std::time_t mStampedAt = 0;
};

// "MMDDYYYY-log.txt" for the local date of `when`.
std::string logFileName(std::time_t when);

// The stamp at the head of a line: the locale's date and time, or the date alone at exactly
// midnight. In the C locale the year is written with four digits: "12/05/2026 14:03:07".
std::string logTimestamp(std::time_t when);

}  // namespace mivex
