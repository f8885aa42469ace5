// The queue entry: one queued operation in its one-line text form,
//   copy code, "-", overwrite code, " --> ", source path, " --> ", destination folder
// for example "C-N --> /data/report.doc --> /backup".
#pragma once

#include <string>
#include <string_view>

namespace mivex {

inline constexpr std::string_view kSeparator = " --> ";

// Joins the four fields into an entry, with nothing else between them.
std::string BuildEntry(std::string_view strCopy, std::string_view strOverwrite,
                       std::string_view strSource, std::string_view strDest);

// Splits an entry at every " --> ". The copy code is the first character of piece 0 and the
// overwrite code its last; the source is piece 1 and the destination piece 2; later pieces are
// ignored. Returns false, leaving the four outputs empty, when the entry has fewer than three
// pieces (a hand-edited list can hold such a row) or holds a NUL byte.
bool ParseRecord(std::string_view strString, std::string& strSource, std::string& strDest,
                 std::string& strCopy, std::string& strOverwrite);

// Whether a path can stand in an entry: it must not hold " --> " (the separator) nor end in " -->"
// (which would form one with the separator after it), must not hold a CR or LF (a list's line
// end), and must be valid UTF-8 (lists are UTF-8 text).
bool isStorablePath(std::string_view path);

// Only the exact "C" copies; every other copy code moves. Only the exact "N" keeps both; every
// other overwrite code overwrites.
inline bool isCopyCode(std::string_view code) {
    return code == "C";
}
inline bool isKeepBothCode(std::string_view code) {
    return code == "N";
}

}  // namespace mivex
