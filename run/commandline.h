// The command line: read as one text, as the user typed it after the program's name.
#pragma once

#include <string>
#include <string_view>

namespace mivex {

// The arguments joined by single blanks; quotation marks were already removed by the shell.
std::string argumentText(int argc, const char* const* argv);

struct CommandLine {
    bool unattended = false;  // " -auto" stands anywhere in the text (case matters)
    std::string listPath;     // unattended: the text before the first " -"; otherwise all of it
};

CommandLine parseArgumentText(std::string_view text);

// Exit statuses of an unattended run.
enum UnattendedStatus : int { kRunOk = 0, kRunHadFailures = 1, kRunNoList = 2 };

// Loads the list and carries it out with no window: kRunNoList when the list is missing,
// unreadable, not a queue list or too long (nothing processed, nothing logged), else kRunOk or
// kRunHadFailures. The log goes to the program folder, or to the per-user folder when that is not
// writable.
int RunUnattended(const std::string& listPath, const std::string& programFolder);

}  // namespace mivex
