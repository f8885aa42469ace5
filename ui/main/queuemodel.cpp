// The queue store as a list model.
#include "ui/main/queuemodel.h"

#include <utility>

namespace mivex::ui {

int QueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(mStore.size());
}

QVariant QueueModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || index.parent().isValid() || !holds(index.row())) {
        return {};
    }
    return QString::fromStdString(mStore.at(static_cast<std::size_t>(index.row())));
}

Admission QueueModel::admit(const QueueEntry& entry, const std::string& sourceFolder) {
    // The rules are asked first: the view must hear of a new row before it is there.
    const Admission result = mStore.check(entry, sourceFolder);
    if (result == Admission::Admitted) {
        const int row = rowCount();
        beginInsertRows(QModelIndex(), row, row);
        mStore.append(entry.text());
        endInsertRows();
        changed();
    }
    return result;
}

void QueueModel::replaceAt(int row, std::string entry) {
    if (holds(row)) {
        mStore.replaceAt(static_cast<std::size_t>(row), std::move(entry));
        changed();
        const QModelIndex changed = index(row);
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
}

void QueueModel::removeAt(int row) {
    if (holds(row)) {
        Taken taken{row, {mStore.at(static_cast<std::size_t>(row))}, mVersion};
        beginRemoveRows(QModelIndex(), row, row);
        mStore.removeAt(static_cast<std::size_t>(row));
        endRemoveRows();
        changed();
        mTaken = std::move(taken);
    }
}

void QueueModel::clear() {
    Taken taken{-1, mStore.rows(), mVersion};
    assign({});
    mTaken = std::move(taken);
}

bool QueueModel::undo() {
    if (!mTaken) {
        return false;
    }
    Taken taken = std::move(*mTaken);
    mTaken.reset();
    if (taken.row < 0) {
        assign(std::move(taken.rows));
    } else {
        beginInsertRows(QModelIndex(), taken.row, taken.row);
        mStore.insertAt(static_cast<std::size_t>(taken.row), std::move(taken.rows.front()));
        endInsertRows();
    }
    mVersion = taken.version;  // as it stood: saved again if it was saved then
    return true;
}

bool QueueModel::moveRow(int row, int step) {
    const int other = row + step;
    if (!holds(row) || !holds(other) || (step != 1 && step != -1)) {
        return false;
    }
    // Qt names the row a moved row goes before: one further down when moving down.
    beginMoveRows(QModelIndex(), row, row, QModelIndex(), step > 0 ? other + 1 : other);
    mStore.swapRows(static_cast<std::size_t>(row), static_cast<std::size_t>(other));
    endMoveRows();
    changed();
    return true;
}

void QueueModel::changed() {
    mVersion = ++mLastVersion;
    mTaken.reset();
}

bool QueueModel::assign(std::vector<std::string> rows) {
    if (rows.size() > QueueStore::kMaxEntries) {
        return false;
    }
    beginResetModel();
    mStore.assign(std::move(rows));
    endResetModel();
    changed();
    return true;
}

}  // namespace mivex::ui
