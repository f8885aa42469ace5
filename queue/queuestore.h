// The queue store: the queued entries in queue order, and the mirror text derived from them.
//
// The mirror (every entry followed by CR LF) is computed from the rows, never stored beside them,
// so the two cannot drift apart: removing or editing one row changes that row only, also when the
// same line is queued twice.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "queue/queueentry.h"

namespace mivex {

// What became of an entry offered to the queue. The rules are tested in this order, and the
// first that refuses decides.
enum class Admission {
    Admitted,
    SameFolder,              // the destination is the folder the source was taken from
    SourceNotStorable,       // a path that an entry cannot hold (isStorablePath), or that holds
    DestinationNotStorable,  //   U+FFFD, which stands for a name that could not be decoded
    DestinationNotFolder,    // the destination stands and is no folder (a file, a device)
    Duplicate,               // the very entry is queued
    MovedEarlier,            // a queued move takes the source away before this entry would run
    QueueFull,               // kMaxEntries are queued
};

class QueueStore {
public:
    // Row counts and row indexes are 16-bit signed numbers, so the queue holds at most 32,767
    // entries.
    static constexpr std::size_t kMaxEntries = 32767;

    const std::vector<std::string>& rows() const { return mRows; }
    std::size_t size() const { return mRows.size(); }
    bool empty() const { return mRows.empty(); }
    const std::string& at(std::size_t row) const { return mRows.at(row); }

    // The admission rules for a new entry. `sourceFolder` is the folder the source was chosen
    // in: a file's folder, or a folder source itself. check() only answers; admit() also appends
    // an admitted entry.
    Admission check(const QueueEntry& entry, const std::string& sourceFolder) const;
    Admission admit(const QueueEntry& entry, const std::string& sourceFolder);

    // True when `entry` counts as queued already: the same entry, or its move form (a queued
    // move of that source). `ignoreRow` leaves one row out, for an entry being edited.
    bool CheckExists(const QueueEntry& entry, std::size_t ignoreRow = kNoRow) const;
    static constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);

    // Appends one row as it stands (a loaded list's row need not be an entry); false (and
    // nothing changes) when the queue is full.
    bool append(std::string entry);
    // Puts a row back at `row` (at the end when past it); false (and nothing changes) when the
    // queue is full.
    bool insertAt(std::size_t row, std::string entry);
    // Swaps a row with its neighbour above or below; false when either is out of range.
    bool swapRows(std::size_t row, std::size_t other);
    // Removes one row; out-of-range rows are ignored.
    void removeAt(std::size_t row);
    // Replaces one row's text; out-of-range rows are ignored.
    void replaceAt(std::size_t row, std::string entry);
    void clear();
    // Replaces the whole queue; false (and nothing changes) for more than kMaxEntries rows.
    bool assign(std::vector<std::string> rows);

    // Every entry followed by CR LF, in queue order; empty for an empty queue.
    std::string gQueueMirror() const;

    // How many rows hold exactly `entry`: the duplicate test asks this once per admission, so it
    // must not walk a queue of 32,767 rows.
    std::size_t count(const std::string& entry) const;

private:
    Admission queuedAs(const QueueEntry& entry, std::size_t ignoreRow) const;
    void counted(const std::string& entry, int delta);

    std::vector<std::string> mRows;
    std::unordered_map<std::string, std::size_t> mCounts;
};

}  // namespace mivex
