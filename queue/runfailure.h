// A failed entry of a run, as it is named to the person who ran it (the run log has its own words).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mivex {

struct RunFailure {
    std::size_t line = 0;  // 1 for the queue's first row, which is also the list's first line
    std::string entry;     // the row as it stands
    int code = 0;          // the result code, or kNotAnEntry
    std::string item{};    // the file it is about, where one is named (a copy that verify refused)
};

// "line 3: C-N --> /a --> /b: the source does not exist (code 2)", printable as a whole.
std::string describeFailure(const RunFailure& failure);

// Why an entry failed with `code`, in the words describeFailure gives after the row.
std::string describeReason(int code);

// What a run that did not succeed leaves to read: each failure on a line of its own, whether the
// run was stopped before its end, and the run log's path (empty: the run has no log).
std::string describeRun(const std::vector<RunFailure>& failures, bool stopped,
                        const std::string& logPath);

// `text` with control characters and DEL written as \xNN: a list's bytes must not be able to move
// the cursor or recolour the terminal that shows them.
std::string printable(std::string_view text);

}  // namespace mivex
