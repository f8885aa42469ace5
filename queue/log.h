// The run log: one plain-text file a day, one line per carried-out entry:
//   date and time, TAB, message, CR LF
// The file is opened at the first line and kept open for the run (one RunLog), opened with
// O_APPEND; each line is appended with one write(), so every line is in the file when log()
// returns and two runs at once never interleave half lines. Before each line the day's name is
// looked up again: a log removed or moved away during the run (a cleanup job, a user, an entry of
// the run itself) is opened afresh, so no line goes into a file that has no name. The file is
// made in the log folder that was checked at start, through its kept descriptor, never through a
// path. A line that cannot be written is lost: the log never stops a run, but remembers why, so
// the caller can say so once.
//
// (The class is called RunLog rather than log: C++ does not let a method share its class's name.)
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "platform/fd.h"
#include "platform/fileid.h"
#include "platform/folders.h"

namespace mivex {

class RunLog {
public:
    // Stores the log file as the file `name` in `folder` (no folder: the run is not logged);
    // opens and checks nothing. A file already open is closed.
    void setPath(const LogFolder& folder, const std::string& name);
    // The log file's full path, for what is said about it.
    const std::string& path() const { return mPath; }
    // Appends one line stamped with the current local date and time.
    void log(std::string_view message);
    // The same with a given time, for callers that must control the stamp.
    void log(std::string_view message, std::time_t when);
    // Why the first lost line of this instance was lost ("No space left on device"); empty while
    // none was.
    const std::string& firstFailure() const { return mFailure; }

    // While one lives, lines come in a burst: the day's name is looked at before the first of them
    // alone (each is still a write of its own).
    class Burst {
    public:
        explicit Burst(RunLog& log) : mLog(log) { mLog.mInBurst = true; }
        ~Burst() { mLog.mInBurst = mLog.mLookedInBurst = false; }
        Burst(const Burst&) = delete;
        Burst& operator=(const Burst&) = delete;

    private:
        RunLog& mLog;
    };

private:
    void fail(const std::string& reason);
    // Opens the file for appending and checks it; false (the reason noted) when it cannot be.
    // `prefix` gets the line end that a torn last line of an earlier run needs.
    bool open(std::string& prefix);
    // Whether the day's name in the folder still leads to the open file.
    bool stillNamed() const;

    LogFolder mFolder;
    std::string mName;
    std::string mPath;
    Fd mFile;        // open from the first line written while the day's name leads to it
    FileId mFileId;  // what mFile is, looked at when it was opened
    std::string mFailure;
    std::string mStamp;  // logTimestamp(mStampedAt), kept for the lines of the same second
    std::time_t mStampedAt = 0;
    bool mInBurst = false, mLookedInBurst = false;
};

// "MMDDYYYY-log.txt" for the local date of `when`.
std::string logFileName(std::time_t when);

// The stamp at the head of a line: the locale's date and time, or the date alone at exactly
// midnight. In the C locale the year is written with four digits: "12/05/2026 14:03:07".
std::string logTimestamp(std::time_t when);

}  // namespace mivex
