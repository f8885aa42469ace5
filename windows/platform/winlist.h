// Queue-list files read on Windows: the same format and answers as listfile/listfile.h (one entry
// a line, UTF-8, CR LF written, CR LF, CR or LF read, a leading byte-order mark dropped), opened
// by a UTF-16 path.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "listfile/listfile.h"

namespace mivex::win {

// The longest line that can be an entry: two paths of the system's longest (32,767 UTF-16 units,
// up to three UTF-8 bytes each), a code and the separators. A longer line stands as a row that
// names it and is no entry.
inline constexpr std::size_t kMaxLineLength = 2 * 3 * 32767 + 16;

// Every line of a list's text, blank lines included; a last line without an end still counts.
std::vector<std::string> splitListText(std::string_view text);

// Whether a first line makes a queue list: split at " --> " it has a non-empty second piece.
bool isListFirstLine(std::string_view line);

// Reads the list at the UTF-8 path `path`; fails whole (no rows) as ReadQueueList does.
ListReadResult readQueueList(const std::string& path, std::size_t maxRows);

}  // namespace mivex::win
