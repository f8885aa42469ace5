// The queue list and the drops it takes.
#include "ui/main/queuelist.h"

#include <unistd.h>

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <algorithm>

namespace mivex::ui {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");

bool isThisMachine(const QByteArray& host) {
    if (host.isEmpty() || host == "localhost") {
        return true;
    }
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 && host == QByteArray(name);
}

// Every row one size (the view then measures one row, not each of up to 32,767): the height of
// a row, and the width of the widest row's text with what the style adds around a text.
class UniformRows : public QStyledItemDelegate {
public:
    explicit UniformRows(QueueList* list) : QStyledItemDelegate(list), mList(list) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QSize measured = QStyledItemDelegate::sizeHint(option, index);
        const int around =
            measured.width() - mList->fontMetrics().horizontalAdvance(index.data().toString());
        return {std::max(measured.width(), mList->widestText() + around), measured.height()};
    }

private:
    QueueList* mList;
};

}  // namespace

QueueList::QueueList(QWidget* parent) : QListView(parent) {
    setUniformItemSizes(true);
    setItemDelegate(new UniformRows(this));
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
}

int QueueList::count() const {
    return model() ? model()->rowCount() : 0;
}

int QueueList::currentRow() const {
    return currentIndex().row();
}

void QueueList::setCurrentRow(int row) {
    setCurrentIndex(model() ? model()->index(row, 0) : QModelIndex());
}

int QueueList::selectedRow() const {
    const QModelIndexList selected =
        selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    return selected.isEmpty() ? -1 : selected.first().row();
}

int QueueList::textWidth(int row) const {
    return fontMetrics().horizontalAdvance(model()->index(row, 0).data().toString());
}

int QueueList::widestText() const {
    if (!mWidestKnown) {
        mWidest = 0;
        for (int row = 0; row < count(); ++row) {
            mWidest = std::max(mWidest, textWidth(row));
        }
        mWidestKnown = true;
    }
    return mWidest;
}

void QueueList::rowsInserted(const QModelIndex& parent, int start, int end) {
    if (mWidestKnown) {
        for (int row = start; row <= end; ++row) {
            mWidest = std::max(mWidest, textWidth(row));
        }
    }
    QListView::rowsInserted(parent, start, end);
}

void QueueList::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    // Only losing the widest row can narrow the list.
    for (int row = start; mWidestKnown && row <= end; ++row) {
        mWidestKnown = textWidth(row) < mWidest;
    }
    QListView::rowsAboutToBeRemoved(parent, start, end);
}

void QueueList::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                            const QList<int>& roles) {
    mWidestKnown = false;  // what the row held before is gone: it may have been the widest
    QListView::dataChanged(topLeft, bottomRight, roles);
}

void QueueList::reset() {
    mWidestKnown = false;
    QListView::reset();
}

void QueueList::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        mWidestKnown = false;
    }
    QListView::changeEvent(event);
}

QList<QByteArray> QueueList::localPaths(const QMimeData* mime) {
    QList<QByteArray> paths;
    if (!mime || !mime->hasFormat(kUriList)) {
        return paths;
    }
    // Read the list itself rather than QMimeData::urls(): that decodes names as UTF-8 and loses
    // the bytes of any name that is not.
    for (QByteArray line : mime->data(kUriList).split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#') || !line.startsWith("file:")) {
            continue;
        }
        QByteArray rest = line.mid(5);
        if (rest.startsWith("//")) {
            const qsizetype slash = rest.indexOf('/', 2);
            if (slash < 0 || !isThisMachine(rest.mid(2, slash - 2))) {
                continue;
            }
            rest = rest.mid(slash);
        }
        const QByteArray path = QByteArray::fromPercentEncoding(rest);
        if (path.startsWith('/')) {
            paths << path;
        }
    }
    return paths;
}

void QueueList::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasFormat(kUriList)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void QueueList::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasFormat(kUriList)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void QueueList::dropEvent(QDropEvent* event) {
    const QList<QByteArray> paths = localPaths(event->mimeData());
    const Qt::DropActions offered = event->possibleActions();
    if (takesOffer(offered)) {
        // Queuing takes nothing away from the drag source: report a copy, never a move, so that
        // the file manager does not delete what was dropped.
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        // Nothing is taken: the drag source must not believe anything was copied.
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
    emit pathsDropped(paths, offered);
}

bool QueueList::takesOffer(Qt::DropActions offered) {
    const Qt::DropActions files = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    return (offered & files) == files;
}

void QueueList::keyPressEvent(QKeyEvent* event) {
    const bool rowSelected = selectedRow() >= 0;
    if (event->key() == Qt::Key_Delete && rowSelected) {
        emit removeRequested();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && rowSelected) {
        emit optionsRequested();
        return;
    }
    QListView::keyPressEvent(event);
}

}  // namespace mivex::ui
