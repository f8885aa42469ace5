// Building and splitting the one-line text form of a queued operation.
#include "queue/queueentry.h"

#include <array>

namespace mivex {

std::string BuildEntry(std::string_view strCopy, std::string_view strOverwrite,
                       std::string_view strSource, std::string_view strDest) {
    std::string entry;
    entry.reserve(strCopy.size() + 1 + strOverwrite.size() + 2 * kSeparator.size() +
                  strSource.size() + strDest.size());
    entry.append(strCopy).append("-").append(strOverwrite);
    entry.append(kSeparator).append(strSource);
    entry.append(kSeparator).append(strDest);
    return entry;
}

bool ParseRecord(std::string_view strString, std::string& strSource, std::string& strDest,
                 std::string& strCopy, std::string& strOverwrite) {
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

    // Built aside first: `strString` may view one of the outputs.
    std::string copy, overwrite, source, dest;
    if (count == pieces.size()) {
        if (!pieces[0].empty()) {
            copy = pieces[0].front();
            overwrite = pieces[0].back();
        }
        source = pieces[1];
        dest = pieces[2];
    }
    strCopy = std::move(copy);
    strOverwrite = std::move(overwrite);
    strSource = std::move(source);
    strDest = std::move(dest);
    return count == pieces.size();
}

}  // namespace mivex
