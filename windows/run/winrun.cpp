// The list carried out row by row with the run log and the report on standard error.
#include "windows/run/winrun.h"

#include <windows.h>

#include <cstdio>

#include "platform/resultcodes.h"
#include "queue/queueentry.h"
#include "queue/runfailure.h"
#include "version.h"
#include "windows/platform/wide.h"
#include "windows/platform/winlist.h"
#include "windows/platform/winlog.h"

namespace mivex::win {

namespace {

constexpr std::string_view kUsage =
    R"(Usage: mivex LIST.flq -auto   run the list unattended: no window
       mivex --help | --version

A queue list holds one operation per line, in UTF-8, each line ending in CR LF:
  C-N --> C:\Users\ann\report.doc --> D:\backup
C copies and M moves; N keeps both (the incoming item arrives as "name - Copy.ext"),
O overwrites, U updates: overwrites only a file whose size or write time differs.

An unattended run prints nothing when every entry succeeds. Each entry that fails is
named on standard error with the reason. Exit status: 0 every entry succeeded, 1 an
entry failed or the run was stopped, 2 the list is missing, unreadable, not a queue
list or too long (nothing was run).

Every run appends one line per entry to the day's run log MMDDYYYY-log.txt in the
program's folder, or in %LOCALAPPDATA%\Mivex when the program's folder cannot be
written. This build has no window.
)";

// The queue's limit, as the window's.
constexpr std::size_t kMaxEntries = 32767;

std::string errorText(int code) {
    if (code == 1223) {
        return "Not enough free space on destination drive";
    }
    return "Something broke... sorry. Error code is " + std::to_string(code) + ".";
}

void say(const std::string& text) {
    std::fprintf(stderr, "mivex: %s\n", printable(text).c_str());
}

}  // namespace

std::optional<std::string> frontDoorText(std::string_view argument) {
    if (argument == "--help" || argument == "-h") {
        return std::string(kUsage);
    }
    if (argument == "--version") {
        return std::string("Mivex ") + kVersion + "\n";
    }
    return std::nullopt;
}

std::optional<std::string> unattendedList(std::string_view text) {
    if (text.find(" -auto") == std::string_view::npos) {
        return std::nullopt;
    }
    const DWORD whole = ::GetFileAttributesW(widen(text).c_str());
    if (whole != INVALID_FILE_ATTRIBUTES && (whole & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::nullopt;
    }
    return std::string(text.substr(0, text.find(" -")));
}

std::string unsupportedSwitch(std::string_view text) {
    for (std::size_t at = text.find(" -"); at != std::string_view::npos;) {
        const std::size_t next = text.find(" -", at + 2);
        const std::string_view piece =
            text.substr(at + 1, next == text.npos ? text.npos : next - at - 1);
        const std::string_view word = piece.substr(0, piece.find(' '));
        if (word != "-auto") {
            return std::string(word);
        }
        at = next;
    }
    return {};
}

int runUnattended(const std::string& listPath, const std::wstring& logFolder,
                  TransferProgress& progress) {
    const ListReadResult list = readQueueList(listPath, kMaxEntries);
    if (list.status != ListReadStatus::Ok) {
        say(listPath + ": " +
            (list.status == ListReadStatus::CannotRead       ? "the list cannot be read"
             : list.status == ListReadStatus::TooManyEntries ? "the list holds too many entries"
                                                             : "no queue list found") +
            "; nothing was run");
        return kRunNoList;
    }
    RunLog log(logFolder);
    std::size_t failures = 0;
    bool stopped = false;
    for (std::size_t row = 0; row < list.rows.size() && !stopped; ++row) {
        const std::string& text = list.rows[row];
        const std::optional<QueueEntry> entry = ParseRecord(text);
        const TransferResult result =
            entry ? DoFileOperation(*entry, progress) : TransferResult{kNotAnEntry, false, {}};
        stopped = result.aborted;
        if (result.code == 0 && !result.aborted) {
            log.log(printable(text) + " was successful");
        } else if (result.code != 0) {
            ++failures;
            log.log("*** ERROR *** " + printable(text) + " did not copy - " +
                    (entry ? errorText(result.code)
                           : "This line is not a queue entry (expected \"C-N --> source --> "
                             "destination folder\")"));
            say(describeFailure({row + 1, text, result.code}));
        }
    }
    if (!log.firstFailure().empty()) {
        say("the run log " + narrow(log.path()) + " could not be written (" + log.firstFailure() +
            "): lines of this run are missing");
    }
    if (failures != 0) {
        say(std::to_string(failures) + " of " + std::to_string(list.rows.size()) +
            " entries failed; the run log is " + narrow(log.path()));
    }
    return failures == 0 && !stopped ? kRunOk : kRunHadFailures;
}

}  // namespace mivex::win
