// The run log on Windows: the day's file MMDDYYYY-log.txt, one line per entry,
//   date and time (the user's short date and time), TAB, message, CR LF
// in UTF-8. Each line is appended with one WriteFile to a file opened for appending only, so two
// runs at once never interleave half lines; the file is opened for each line, so a log removed
// during the run is made afresh. A line that cannot be written is lost, the reason kept.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace mivex::win {

// "MMDDYYYY-log.txt" for the local date of `when`.
std::wstring logFileName(std::time_t when);

// The stamp at the head of a line: the user's short date, and the time unless it is exactly
// midnight.
std::string logTimestamp(std::time_t when);

class RunLog {
public:
    // No folder: the run is not logged.
    explicit RunLog(std::wstring folder) : mFolder(std::move(folder)) {}
    void log(std::string_view message);
    // The day's file, as of the last line written (or now).
    std::wstring path() const;
    const std::string& firstFailure() const { return mFailure; }

private:
    std::wstring mFolder;
    std::string mFailure;
};

}  // namespace mivex::win
