// Building and splitting the one-line text form of a queued operation.
#include "queue/queueentry.h"

#include <array>

namespace mivex {

std::string QueueEntry::text() const {
    std::string entry;
    entry.reserve(copy.size() + 1 + overwrite.size() + 2 * kSeparator.size() + source.size() +
                  dest.size());
    entry.append(copy).append("-").append(overwrite);
    entry.append(kSeparator).append(source);
    entry.append(kSeparator).append(dest);
    return entry;
}

std::optional<QueueEntry> ParseRecord(std::string_view strString) {
    // Only the first three pieces matter; the rest of the line is never looked at.
    std::array<std::string_view, 3> pieces;
    std::size_t count = 0;
    std::size_t start = 0;
    while (count < pieces.size()) {
        const std::size_t hit = strString.find(kSeparator, start);
        pieces[count++] = strString.substr(start, hit - start);
        if (hit == std::string_view::npos) {
            break;
        }
        start = hit + kSeparator.size();
    }
    // A NUL ends a path for the system, so a row holding one would act on a shorter path than it
    // names ("/src/a\0junk" copies /src/a): it is no entry.
    if (count < pieces.size() || strString.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    QueueEntry entry;
    if (!pieces[0].empty()) {
        entry.copy = pieces[0].front();
        entry.overwrite = pieces[0].back();
    }
    entry.source = pieces[1];
    entry.dest = pieces[2];
    return entry;
}

bool isStorablePath(std::string_view path) {
    // A path ending in " -->" would run into the separator after it: the entry would split there.
    if (path.find(kSeparator) != std::string_view::npos || path.ends_with(" -->") ||
        path.find_first_of("\r\n") != std::string_view::npos) {
        return false;
    }
    // UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
    for (std::size_t i = 0; i < path.size();) {
        const auto c = static_cast<unsigned char>(path[i]);
        std::size_t length;
        char32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2, code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3, code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4, code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > path.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(path[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace mivex
