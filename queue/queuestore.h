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

namespace mivex {

class QueueStore {
public:
    // Row counts and row indexes are 16-bit signed numbers, so the queue holds at most 32,767
    // entries.
    static constexpr std::size_t kMaxEntries = 32767;

    const std::vector<std::string>& rows() const { return mRows; }
    std::size_t size() const { return mRows.size(); }
    bool empty() const { return mRows.empty(); }
    const std::string& at(std::size_t row) const { return mRows.at(row); }

    // Appends one entry; false (and nothing changes) when the queue is full.
    bool append(std::string entry);
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
    void counted(const std::string& entry, int delta);

    std::vector<std::string> mRows;
    std::unordered_map<std::string, std::size_t> mCounts;
};

}  // namespace mivex
