// The unattended program on Windows: its command line and the run of a list with no window.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "windows/engine/wintransfer.h"

namespace mivex::win {

enum RunStatus : int { kRunOk = 0, kRunHadFailures = 1, kRunNoList = 2 };

// The answer to "--help" or "--version" (the only argument), else nothing.
std::optional<std::string> frontDoorText(std::string_view argument);

// "LIST.flq -auto": the list's path, cut at the first " -"; nothing when the text holds no
// " -auto" or names an existing file as a whole (a received "night -auto.flq" is a list to open).
std::optional<std::string> unattendedList(std::string_view text);

// The first switch after the list's path that this build does not carry out ("--verify",
// "--resume", "--bwlimit=20M"): a run that asked for one must not run without it. Empty when
// "-auto" is all.
std::string unsupportedSwitch(std::string_view text);

// Runs the list at `listPath` (UTF-8) row by row, one log line a row in `logFolder` (empty: no
// log), one line on standard error for each failure; stops at a cancel.
int runUnattended(const std::string& listPath, const std::wstring& logFolder,
                  TransferProgress& progress);

}  // namespace mivex::win
