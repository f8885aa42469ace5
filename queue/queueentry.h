// The queue entry: one queued operation in its one-line text form,
//   copy code, "-", overwrite code, " --> ", source path, " --> ", destination folder
// for example "C-N --> /data/report.doc --> /backup".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mivex {

inline constexpr std::string_view kSeparator = " --> ";

// One queued operation, field by field.
struct QueueEntry {
    std::string copy;       // "C" copies; every other code moves
    std::string overwrite;  // "N" keeps both; every other code overwrites, "U" only what changed
    std::string source;     // a file, or a folder carried over with everything below it
    std::string dest;       // the folder it goes into

    // Only the exact "C" copies; only the exact "N" keeps both.
    bool copies() const { return copy == "C"; }
    bool keepsBoth() const { return overwrite == "N"; }
    // "U" overwrites too, but leaves a file whose size and modification time equal the incoming
    // one's as it is. Readers that know only "O" and "N" overwrite it all, which is safe.
    bool updates() const { return overwrite == "U"; }

    // The one-line form: the four fields joined with nothing else between them.
    std::string text() const;

    bool operator==(const QueueEntry&) const = default;
};

// Splits an entry at every " --> ". The copy code is the first character of piece 0 and the
// overwrite code its last; the source is piece 1 and the destination piece 2; later pieces are
// ignored. Nothing when the row has fewer than three pieces (a hand-edited list can hold such a
// row) or holds a NUL byte.
std::optional<QueueEntry> ParseRecord(std::string_view strString);

// Whether a path can stand in an entry: it must not hold " --> " (the separator) nor end in " -->"
// (which would form one with the separator after it), must not hold a CR or LF (a list's line
// end), and must be valid UTF-8 (lists are UTF-8 text).
bool isStorablePath(std::string_view path);

}  // namespace mivex
