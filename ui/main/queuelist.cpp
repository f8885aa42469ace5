// The queue list and the drops it takes.
#include "ui/main/queuelist.h"

#include <unistd.h>

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QStyleOptionViewItem>
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

}  // namespace

QueueList::QueueList(QWidget* parent) : QListWidget(parent) {
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
}

void QueueList::giveSize(QListWidgetItem* item) {
    const QString text = item->text();
    if (mExtraWidth < 0) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        const QSize measured = itemDelegate()->sizeHint(option, indexFromItem(item));
        mExtraWidth = std::max(0, measured.width() - fontMetrics().horizontalAdvance(text));
        mRowHeight = measured.height();
    }
    item->setSizeHint(QSize(fontMetrics().horizontalAdvance(text) + mExtraWidth, mRowHeight));
}

void QueueList::setRows(const QStringList& rows) {
    clear();
    addItems(rows);  // one insertion for all, not one per row
    for (int row = 0; row < count(); ++row) {
        giveSize(item(row));
    }
}

void QueueList::appendRow(const QString& text) {
    giveSize(new QListWidgetItem(text, this));
}

void QueueList::setRowText(int row, const QString& text) {
    if (QListWidgetItem* it = item(row)) {
        it->setText(text);
        giveSize(it);
    }
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
    const bool rowSelected = !selectedItems().isEmpty();
    if (event->key() == Qt::Key_Delete && rowSelected) {
        emit removeRequested();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && rowSelected) {
        emit optionsRequested();
        return;
    }
    QListWidget::keyPressEvent(event);
}

Qt::DropActions QueueList::supportedDropActions() const {
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

}  // namespace mivex::ui
