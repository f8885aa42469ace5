// Queue-list files (.flq): one queue entry per line, CR LF after every line, no header. Read in
// listreader.cpp, written in listwriter.cpp.
#pragma once

#include <limits.h>

#include <cstddef>
#include <string>
#include <vector>

namespace mivex {

// The first-line test: true when the file opens, has a first line, and that line split at " --> "
// has a non-empty second piece. Only the first line is read; the name plays no part.
bool CheckQueueList(const std::string& path);

// The longest line that can be a queue entry: a copy code, two paths of PATH_MAX and the
// separators. A longer list line is read past without keeping it and stands as a malformed row.
inline constexpr std::size_t kMaxListLineLength = 2 * PATH_MAX + 16;

// NotAList whenever CheckQueueList would answer false: also for a file that is missing, cannot be
// opened, or is not a regular file. CannotRead is a read that fails after the file was opened.
enum class ListReadStatus { Ok, NotAList, CannotRead, TooManyEntries };

struct ListReadResult {
    ListReadStatus status = ListReadStatus::Ok;
    std::vector<std::string> rows;  // every line as it stands, blank lines included
};

// Reads a list for loading into the queue. Lines end at CR LF, CR or LF; a last line without an end
// still counts; a line longer than kMaxListLineLength becomes a row that names it and is no entry.
// Fails whole (no rows) when the first-line test fails, the file cannot be read, or it holds more
// than `maxRows` lines.
ListReadResult ReadQueueList(const std::string& path, std::size_t maxRows);

// Writes `mirror` (entries each followed by CR LF) to `path` through a temporary file in the same
// folder renamed into place, so a failed save leaves any old file whole. A symbolic link is
// followed and its target replaced; a file with more than one name is written over in place, once
// the new list is complete in a temporary file beside it. On failure returns false and sets
// `error` to a sentence for the user.
bool WriteQueueList(const std::string& path, const std::string& mirror, std::string& error);

}  // namespace mivex
