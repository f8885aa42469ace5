// The queue as the queue list shows it: a list model over the queue store. The store is the one
// place the rows live; every change to the queue goes through here, so that the list hears of it
// as it happens and never holds a copy of its own.
#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QStringList>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "queue/queuestore.h"

namespace mivex::ui {

// What a run made of a row, as the mark drawn before it.
enum class RowMark { None, Done, Failed, Skipped, Stopped, NotRun };  // markIcon's order

class QueueModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    const QueueStore& store() const { return mStore; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    // A row shows its entry as it stands.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The store's admission rules; an admitted entry becomes the last row.
    Admission admit(const QueueEntry& entry, const std::string& sourceFolder);
    // Out-of-range rows are ignored.
    void replaceAt(int row, std::string entry);
    // Removing one row and clearing the queue can be undone, until the queue next changes.
    void removeAt(int row);
    void clear();
    // Replaces every row; false (and nothing changes) for more than the queue can hold.
    bool assign(std::vector<std::string> rows);
    // What a run made of a row: a mark drawn before its entry, and `text` as its tooltip and as
    // what screen readers are told of it. A row that changes, or moves, loses both.
    void setOutcome(int row, const QString& text, RowMark mark);
    // Takes back the last removal or clearing; false when there is none to take back.
    bool undo();
    // Moves a row one place up (-1) or down (+1); false at either end.
    bool moveRow(int row, int step);

    // Whether the queue holds rows that were never saved or loaded as they stand.
    bool unsaved() const { return !mStore.empty() && mVersion != mSavedVersion; }
    // The queue as it stands was just saved or loaded.
    void markSaved() { mSavedVersion = mVersion; }

private:
    // Every state of the queue gets a number of its own; an undo returns to the number it had.
    void changed();
    bool holds(int row) const { return row >= 0 && static_cast<std::size_t>(row) < mStore.size(); }
    // The style's picture for a mark other than None; asked for once, as the style draws its
    // pictures anew on every request.
    const QIcon& markIcon(RowMark mark) const;

    QueueStore mStore;
    struct Outcome {
        QString text;
        RowMark mark = RowMark::None;
    };
    QList<Outcome> mOutcomes;  // by row; shorter than the queue when the last rows have none
    mutable std::array<QIcon, 5> mMarkIcons;  // by RowMark, from Done on
    unsigned long long mVersion = 0, mSavedVersion = 0, mLastVersion = 0;
    // What the last removal or clearing took: one row at its place, or the whole queue.
    struct Taken {
        int row = -1;  // -1: the whole queue
        std::vector<std::string> rows;
        unsigned long long version = 0;
    };
    std::optional<Taken> mTaken;
};

}  // namespace mivex::ui
