// The queue store: rows in queue order, with the mirror text computed from them on demand.
#include "queue/queuestore.h"

#include <utility>

namespace mivex {

bool QueueStore::append(std::string entry) {
    if (mRows.size() >= kMaxEntries) {
        return false;
    }
    mRows.push_back(std::move(entry));
    return true;
}

void QueueStore::removeAt(std::size_t row) {
    if (row < mRows.size()) {
        mRows.erase(mRows.begin() + static_cast<std::ptrdiff_t>(row));
    }
}

void QueueStore::replaceAt(std::size_t row, std::string entry) {
    if (row < mRows.size()) {
        mRows[row] = std::move(entry);
    }
}

bool QueueStore::assign(std::vector<std::string> rows) {
    if (rows.size() > kMaxEntries) {
        return false;
    }
    mRows = std::move(rows);
    return true;
}

std::string QueueStore::gQueueMirror() const {
    std::size_t length = 0;
    for (const auto& row : mRows) {
        length += row.size() + 2;
    }
    std::string mirror;
    mirror.reserve(length);
    for (const auto& row : mRows) {
        mirror.append(row).append("\r\n");
    }
    return mirror;
}

}  // namespace mivex
