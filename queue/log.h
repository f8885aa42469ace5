// The run log: one plain-text file a day, one line per carried-out entry:
//   date and time, TAB, message, CR LF
// Each line is opened, appended with one write() and closed again, so every line is on disk when
// log() returns, nothing is held open between lines, and two runs at once never interleave half
// lines. A line that cannot be written is lost: the log never stops a run, but remembers why, so
// the caller can say so once.
//
// (The class is called RunLog rather than log: C++ does not let a method share its class's name.)
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace mivex {

class RunLog {
public:
    // Stores the full path of the log file (empty: the run is not logged); opens and checks
    // nothing.
    void setPath(const std::string& path) { mPath = path; }
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

    std::string mPath;
    bool mStarted = false;  // the first line was tried: the file's end has been looked at
    std::string mFailure;
};

// "MMDDYYYY-log.txt" for the local date of `when`.
std::string logFileName(std::time_t when);

// The stamp at the head of a line: the locale's date and time, or the date alone at exactly
// midnight. In the C locale the year is written with four digits: "12/05/2026 14:03:07".
std::string logTimestamp(std::time_t when);

}  // namespace mivex
