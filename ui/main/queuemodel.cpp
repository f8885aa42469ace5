// The queue store as a list model.
#include "ui/main/queuemodel.h"

#include <QApplication>
#include <QStyle>
#include <utility>

namespace mivex::ui {

int QueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(mStore.size());
}

QVariant QueueModel::data(const QModelIndex& index, int role) const {
    if (index.parent().isValid() || !holds(index.row())) {
        return {};
    }
    const Outcome outcome = mOutcomes.value(index.row());
    if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
        return outcome.text.isEmpty() ? QVariant() : QVariant(outcome.text);
    }
    if (role == Qt::DecorationRole) {
        return outcome.mark == RowMark::None ? QVariant() : QVariant(markIcon(outcome.mark));
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
        changed();
    }
    return result;
}

void QueueModel::replaceAt(int row, std::string entry) {
    if (holds(row)) {
        mStore.replaceAt(static_cast<std::size_t>(row), std::move(entry));
        if (row < mOutcomes.size()) {
            mOutcomes[row] = {};
        }
        changed();
        const QModelIndex changed = index(row);
        emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::DecorationRole});
    }
}

void QueueModel::removeAt(int row) {
    if (holds(row)) {
        Taken taken{row, {mStore.at(static_cast<std::size_t>(row))}, mVersion};
        beginRemoveRows(QModelIndex(), row, row);
        mStore.removeAt(static_cast<std::size_t>(row));
        if (row < mOutcomes.size()) {
            mOutcomes.removeAt(row);
        }
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
    for (const int moved : {row, other}) {  // a run's outcome no longer names the row's place
        if (moved < mOutcomes.size()) {
            mOutcomes[moved] = {};
        }
    }
    endMoveRows();
    changed();
    return true;
}

const QIcon& QueueModel::markIcon(RowMark mark) const {
    if (mMarkIcons[0].isNull()) {
        QStyle* style = QApplication::style();
        const QStyle::StandardPixmap pictures[] = {
            QStyle::SP_DialogApplyButton, QStyle::SP_MessageBoxCritical,
            QStyle::SP_MediaSkipForward, QStyle::SP_MediaStop, QStyle::SP_MediaPause};
        for (std::size_t i = 0; i < mMarkIcons.size(); ++i) {
            mMarkIcons[i] = style->standardIcon(pictures[i]);
        }
    }
    return mMarkIcons[static_cast<std::size_t>(mark) - 1];
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
    mOutcomes.clear();
    endResetModel();
    changed();
    return true;
}

void QueueModel::setOutcome(int row, const QString& text, RowMark mark) {
    if (!holds(row)) {
        return;
    }
    while (mOutcomes.size() <= row) {
        mOutcomes.append(Outcome{});
    }
    mOutcomes[row] = {text, mark};
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed,
                     {Qt::ToolTipRole, Qt::AccessibleDescriptionRole, Qt::DecorationRole});
}

}  // namespace mivex::ui
