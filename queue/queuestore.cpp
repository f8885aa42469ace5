// The queue store: rows in queue order, with the mirror text computed from them on demand.
#include "queue/queuestore.h"

#include <utility>

namespace mivex {

bool QueueStore::append(std::string entry) {
    if (mRows.size() >= kMaxEntries) {
        return false;
    }
    counted(entry, +1);
    mRows.push_back(std::move(entry));
    return true;
}

void QueueStore::removeAt(std::size_t row) {
    if (row < mRows.size()) {
        counted(mRows[row], -1);
        mRows.erase(mRows.begin() + static_cast<std::ptrdiff_t>(row));
    }
}

void QueueStore::replaceAt(std::size_t row, std::string entry) {
    if (row < mRows.size()) {
        counted(mRows[row], -1);
        counted(entry, +1);
        mRows[row] = std::move(entry);
    }
}

bool QueueStore::assign(std::vector<std::string> rows) {
    if (rows.size() > kMaxEntries) {
        return false;
    }
    mRows = std::move(rows);
    mCounts.clear();
    for (const auto& row : mRows) {
        counted(row, +1);
    }
    return true;
}

void QueueStore::clear() {
    mRows.clear();
    mCounts.clear();
}

std::size_t QueueStore::count(const std::string& entry) const {
    const auto it = mCounts.find(entry);
    return it == mCounts.end() ? 0 : it->second;
}

void QueueStore::counted(const std::string& entry, int delta) {
    if (delta > 0) {
        ++mCounts[entry];
    } else if (auto it = mCounts.find(entry); it != mCounts.end() && --it->second == 0) {
        mCounts.erase(it);
    }
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
