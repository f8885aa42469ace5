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
    }
    return result;
}

void QueueModel::replaceAt(int row, std::string entry) {
    if (holds(row)) {
        mStore.replaceAt(static_cast<std::size_t>(row), std::move(entry));
        const QModelIndex changed = index(row);
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
}

void QueueModel::removeAt(int row) {
    if (holds(row)) {
        beginRemoveRows(QModelIndex(), row, row);
        mStore.removeAt(static_cast<std::size_t>(row));
        endRemoveRows();
    }
}

bool QueueModel::assign(std::vector<std::string> rows) {
    if (rows.size() > QueueStore::kMaxEntries) {
        return false;
    }
    beginResetModel();
    mStore.assign(std::move(rows));
    endResetModel();
    return true;
}

}  // namespace mivex::ui
