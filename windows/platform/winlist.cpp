// The list read whole through the system's calls, then split into lines.
#include "windows/platform/winlist.h"

#include <windows.h>

#include <algorithm>

#include "queue/queueentry.h"
#include "windows/platform/wide.h"

namespace mivex::win {

std::vector<std::string> splitListText(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    std::vector<std::string> rows;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        std::string_view line = text.substr(0, end);
        rows.push_back(line.size() > kMaxLineLength
                           ? "(a line of " + std::to_string(line.size()) + " bytes)"
                           : std::string(line));
        text.remove_prefix(end);
        if (text.starts_with("\r\n")) {
            text.remove_prefix(2);
        } else if (!text.empty()) {
            text.remove_prefix(1);
        }
    }
    return rows;
}

bool isListFirstLine(std::string_view line) {
    const std::size_t from = line.find(kSeparator);
    if (from == std::string_view::npos) {
        return false;
    }
    const std::size_t start = from + kSeparator.size();
    return std::min(line.find(kSeparator, start), line.size()) > start;
}

namespace {

// Whether the text read so far already shows a first line that makes no list: then nothing more
// is read (a large file named by mistake is not read whole).
bool firstLineFails(std::string_view text) {
    const std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        return text.size() > kMaxLineLength + 3;
    }
    text = text.substr(0, end);
    return !isListFirstLine(text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text);
}

// The whole file, or as much as shows that its first line makes no list; false for a file that is
// missing, no regular file, or cannot be opened (`opened` stays false) or read (`opened` set).
bool readWhole(const std::string& path, std::string& text, bool& opened) {
    opened = false;
    const HANDLE file =
        ::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    opened = ::GetFileType(file) == FILE_TYPE_DISK;
    char buffer[64 * 1024];
    DWORD got = 0;
    bool ok = opened;
    while (ok && (ok = ::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0) {
        text.append(buffer, got);
        if (firstLineFails(text)) {
            break;
        }
    }
    ::CloseHandle(file);
    return ok;
}

}  // namespace

ListReadResult readQueueList(const std::string& path, std::size_t maxRows) {
    ListReadResult result;
    std::string text;
    bool opened = false;
    if (!readWhole(path, text, opened)) {
        result.status = opened ? ListReadStatus::CannotRead : ListReadStatus::NotAList;
        return result;
    }
    std::vector<std::string> rows = splitListText(text);
    if (rows.empty() || !isListFirstLine(rows.front())) {
        result.status = ListReadStatus::NotAList;
    } else if (rows.size() > maxRows) {
        result.status = ListReadStatus::TooManyEntries;
    } else {
        result.rows = std::move(rows);
    }
    return result;
}

}  // namespace mivex::win
