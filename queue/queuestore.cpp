// The queue store: rows in queue order, with the mirror text computed from them on demand.
#include "queue/queuestore.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "platform/folders.h"

namespace mivex {

namespace {

// U+FFFD stands in for bytes that a name could not be decoded from; a path holding it names no
// file that could be found again.
bool storable(const std::string& path) {
    return isStorablePath(path) && path.find("\xEF\xBF\xBD") == std::string::npos;
}

// A missing destination folder is made by the run; one that stands as a file never can be.
bool standsAsNonFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

Admission QueueStore::check(const QueueEntry& entry, const std::string& sourceFolder) const {
    // A file back into its own folder, or a folder into itself: nothing to do. The folders are
    // compared by identity, so letter case names another folder and a link the same one.
    if (sameFolder(sourceFolder, entry.dest)) {
        return Admission::SameFolder;
    }
    if (!storable(entry.source)) {
        return Admission::SourceNotStorable;
    }
    if (!storable(entry.dest)) {
        return Admission::DestinationNotStorable;
    }
    if (standsAsNonFolder(entry.dest)) {
        return Admission::DestinationNotFolder;
    }
    if (const Admission queued = queuedAs(entry, kNoRow); queued != Admission::Admitted) {
        return queued;
    }
    return mRows.size() >= kMaxEntries ? Admission::QueueFull : Admission::Admitted;
}

Admission QueueStore::admit(const QueueEntry& entry, const std::string& sourceFolder) {
    const Admission result = check(entry, sourceFolder);
    if (result == Admission::Admitted) {
        append(entry.text());
    }
    return result;
}

bool QueueStore::CheckExists(const QueueEntry& entry, std::size_t ignoreRow) const {
    return queuedAs(entry, ignoreRow) != Admission::Admitted;
}

Admission QueueStore::queuedAs(const QueueEntry& entry, std::size_t ignoreRow) const {
    // Whole entries are compared: "/backup" is not taken for a queued "/backup2". The move form
    // counts too, since a copy of a source that an earlier row moves away would find nothing.
    auto queued = [&](const std::string& text) {
        const bool edited = ignoreRow < mRows.size() && mRows[ignoreRow] == text;
        return count(text) > (edited ? 1u : 0u);
    };
    QueueEntry moved = entry;
    moved.copy = "M";
    if (queued(entry.text())) {
        return Admission::Duplicate;
    }
    return queued(moved.text()) ? Admission::MovedEarlier : Admission::Admitted;
}

bool QueueStore::append(std::string entry) {
    if (mRows.size() >= kMaxEntries) {
        return false;
    }
    counted(entry, +1);
    mRows.push_back(std::move(entry));
    return true;
}

bool QueueStore::insertAt(std::size_t row, std::string entry) {
    if (mRows.size() >= kMaxEntries) {
        return false;
    }
    counted(entry, +1);
    mRows.insert(mRows.begin() + static_cast<std::ptrdiff_t>(std::min(row, mRows.size())),
                 std::move(entry));
    return true;
}

bool QueueStore::swapRows(std::size_t row, std::size_t other) {
    if (row >= mRows.size() || other >= mRows.size()) {
        return false;
    }
    std::swap(mRows[row], mRows[other]);
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
