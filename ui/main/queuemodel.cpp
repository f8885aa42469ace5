// The queue store as a list model.
#include "ui/main/queuemodel.h"

#include <utility>

namespace mivex::ui {

int QueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(mStore.size());
}

QVariant QueueModel::data(const QModelIndex& index, int role) const {
    if (index.parent().isValid() || !holds(index.row())) {
        return {};
    }
    if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
        const QString outcome = mOutcomes.value(index.row());
        return outcome.isEmpty() ? QVariant() : QVariant(outcome);
    }
    if (role != Qt::DisplayRole) {
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
        if (row < mOutcomes.size()) {
            mOutcomes[row].clear();
        }
        const QModelIndex changed = index(row);
        emit dataChanged(changed, changed, {Qt::DisplayRole});
    }
}

void QueueModel::removeAt(int row) {
    if (holds(row)) {
        beginRemoveRows(QModelIndex(), row, row);
        mStore.removeAt(static_cast<std::size_t>(row));
        if (row < mOutcomes.size()) {
            mOutcomes.removeAt(row);
        }
        endRemoveRows();
    }
}

bool QueueModel::assign(std::vector<std::string> rows) {
    if (rows.size() > QueueStore::kMaxEntries) {
        return false;
    }
    beginResetModel();
    mStore.assign(std::move(rows));
    mOutcomes.clear();
    endResetModel();
    return true;
}

void QueueModel::setOutcome(int row, const QString& text) {
    if (!holds(row)) {
        return;
    }
    while (mOutcomes.size() <= row) {
        mOutcomes.append(QString());
    }
    mOutcomes[row] = text;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
}

}  // namespace mivex::ui
