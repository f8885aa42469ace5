// The command line: read as one text, as the user typed it after the program's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posixio.h"

namespace mivex {

// The arguments joined by single blanks; quotation marks were already removed by the shell.
std::string argumentText(int argc, const char* const* argv);

// What an unattended run may be asked for beside its list, by switches after the list's path.
struct RunSwitches {
    // "--bwlimit=RATE" (or "--bwlimit RATE"): bytes per second over the whole run, 0 for none.
    std::uint64_t bytesPerSecond = 0;
    // "--verify": each copy read back from the destination and compared before it gets its name.
    bool verify = false;
    // "--resume": take up the last run of this list where it was cut off (a crash, a kill, a
    // power cut); a list without such a run is run from its start, as without the switch.
    bool resume = false;
};

struct CommandLine {
    bool unattended = false;  // " -auto" stands in the text (case matters) and it names no file
    std::string listPath;     // unattended: the text before the first " -"; otherwise all of it
    RunSwitches switches;     // unattended: read from the pieces after the path
    std::string error;        // unattended: a switch that cannot be taken; nothing is run
};

// A speed as rsync writes one: a number of bytes per second, whole or with a fraction, and an
// optional K, M or G (powers of 1024, either case): "500K", "1.5M", "20M". 0 means no limit; a
// limit under 1K is refused (it would take hours to write a block). Empty when it is no rate.
std::optional<std::uint64_t> parseRate(std::string_view text);

// Whether a path names an existing file; isExistingFile on the real system.
using FileTest = bool (*)(std::string_view path);

// A text that names an existing file is that list's path, whatever it holds: the desktop hands
// over one argument, the file's full path, and a list received as "night -auto.flq" must open,
// not run the list "night". Only otherwise does " -auto" ask for an unattended run.
CommandLine parseArgumentText(std::string_view text, FileTest namesFile = isExistingFile);

// `mivex --enqueue [--to FOLDER] [--move] [--overwrite] PATH...`: paths for the window's queue,
// not a list; such a command line never runs anything unattended, whatever its paths hold.
bool isEnqueueLine(int argc, const char* const* argv);

struct EnqueueLine {
    std::string to;                  // the destination folder; "": the destination pane's
    std::string copy, overwrite;     // "M" / "O" when asked for; "": the window's defaults
    std::vector<std::string> paths;  // each a file or folder to queue
    std::string error;               // a mistake in the command line: nothing is queued
};

// Reads an --enqueue command line. Paths and the folder are made absolute from `workingFolder`
// (the window that takes them runs elsewhere) and lose trailing "/"s, as the panes give them.
EnqueueLine parseEnqueue(int argc, const char* const* argv, const std::string& workingFolder);

// Exit statuses of an unattended run.
enum UnattendedStatus : int { kRunOk = 0, kRunHadFailures = 1, kRunNoList = 2 };

// Loads the list and carries it out with no window: kRunNoList when the list is missing,
// unreadable, not a queue list or too long (nothing processed, nothing logged), else kRunOk or
// kRunHadFailures. The log goes to the program folder, or to the per-user folder when that is not
// writable.
int RunUnattended(const std::string& listPath, const std::string& programFolder,
                  const RunSwitches& switches = {});

}  // namespace mivex
