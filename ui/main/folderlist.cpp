// The folder list: a flat list drawn as a tree path (the drive's root, ancestors, open folder,
// subfolders), each entry indented by its depth and carrying its full path.
#include "ui/main/folderlist.h"

#include <QDir>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cerrno>

#include "platform/drives.h"
#include "platform/pathtext.h"

namespace mivex::ui {

namespace {

constexpr int kDepthRole = Qt::UserRole + 1;

// Shifts each entry right by its depth, so the names stay plain text.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(option.rect.left() + indent(option, index));
        QStyledItemDelegate::paint(painter, shifted, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(option, index), 0);
    }

private:
    static int indent(const QStyleOptionViewItem& option, const QModelIndex& index) {
        return index.data(kDepthRole).toInt() * option.fontMetrics.averageCharWidth() * 2;
    }
};

QString normalised(const QString& path) {
    return path.isEmpty() ? QString() : QDir::cleanPath(path);  // also drops a trailing "/"
}

bool isInside(const QString& path, const QString& root) {
    return root == QLatin1String("/") || path == root || path.startsWith(root + QLatin1Char('/'));
}

}  // namespace

FolderList::FolderList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new IndentDelegate(this));
    setIconSize(QSize(16, 16));  // small icons: the panes are narrow and short
    connect(this, &QListWidget::itemClicked, this, [this] { emit entryClicked(); });
}

int FolderList::setPath(const QString& path) {
    const QString target = normalised(path);
    if (!target.startsWith(QLatin1Char('/'))) {
        return ENOENT;
    }
    if (target == mPath) {
        return 0;
    }
    if (const int err = fill(target, mRoot); err != 0) {
        return err;
    }
    emit pathChanged();
    return 0;
}

int FolderList::openDrive(const QString& drive) {
    const QString root = normalised(drive);
    if (!root.startsWith(QLatin1Char('/'))) {
        return ENOENT;
    }
    const bool moved = root != mPath;
    // The same folder under another top (the drive's root was reached from "/") is drawn anew.
    if (!moved && root == mRoot) {
        return 0;
    }
    if (const int err = fill(root, root); err != 0) {
        return err;
    }
    if (moved) {
        emit pathChanged();
    }
    return 0;
}

QString FolderList::entryPath(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry ? entry->data(Qt::UserRole).toString() : QString();
}

void FolderList::refresh() {
    if (!mPath.isEmpty()) {
        fill(mPath, mRoot);  // a folder that can no longer be read keeps its last listing
    }
}

int FolderList::fill(const QString& path, const QString& root) {
    std::vector<std::string> subfolders;
    int err = 0;
    if (!readSubfolders(path.toStdString(), subfolders, err)) {
        return err;
    }

    // Ancestors from the drive's root down to the open folder itself. Above the root lies another
    // drive (or none of the pane's): an entry there would leave the drive the drive list names.
    const QString top = isInside(path, root) ? root : QStringLiteral("/");
    QStringList chain;
    for (QString p = path; p != top; p = QString::fromStdString(parentOf(p.toStdString()))) {
        chain.prepend(p);
    }
    chain.prepend(top);

    clear();
    // Asked for once: the style decodes its images anew on every request.
    if (mOpenIcon.isNull()) {
        mOpenIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
        mClosedIcon = style()->standardIcon(QStyle::SP_DirIcon);
    }
    const QIcon& openIcon = mOpenIcon;
    const QIcon& closedIcon = mClosedIcon;
    auto add = [this](const QIcon& icon, const QString& name, const QString& full, int depth) {
        auto* entry = new QListWidgetItem(icon, name);
        entry->setData(Qt::UserRole, full);
        entry->setData(kDepthRole, depth);
        entry->setToolTip(full);
        addItem(entry);
    };
    for (int depth = 0; depth < chain.size(); ++depth) {
        const QString& full = chain[depth];
        add(openIcon, depth == 0 ? full : full.section(QLatin1Char('/'), -1), full, depth);
    }
    const QString prefix = path == QLatin1String("/") ? path : path + QLatin1Char('/');
    for (const std::string& name : subfolders) {
        const QString text = QString::fromStdString(name);
        add(closedIcon, text, prefix + text, chain.size());
    }

    mPath = path;
    mRoot = root;
    setCurrentRow(chain.size() - 1);
    showOpenFolder();
    return 0;
}

QRect FolderList::nameRect(int index) const {
    const QListWidgetItem* entry = item(index);
    if (!entry) {
        return {};
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualItemRect(entry);
    option.rect.setLeft(option.rect.left() + entry->data(kDepthRole).toInt() *
                                                 option.fontMetrics.averageCharWidth() * 2);
    option.features |= QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
    option.text = entry->text();
    option.icon = entry->icon();
    const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    return {text.topLeft(),
            QSize(option.fontMetrics.horizontalAdvance(option.text), text.height())};
}

// Deep in a tree the open folder is indented past the right edge: scroll across until its name
// ends inside the list (or, for a name wider than the list, begins at its left edge).
void FolderList::showOpenFolder() {
    QListWidgetItem* open = currentItem();
    if (!open) {
        return;
    }
    doItemsLayout();  // the scroll ranges must know the new entries' widths
    scrollToItem(open);
    QScrollBar* across = horizontalScrollBar();
    const QRect name = nameRect(row(open)).translated(across->value(), 0);
    const int margin = fontMetrics().averageCharWidth();
    const int wanted = std::min(name.left() - margin, name.right() + margin - viewport()->width());
    across->setValue(std::max(0, wanted));
}

void FolderList::resizeEvent(QResizeEvent* event) {
    QListWidget::resizeEvent(event);
    showOpenFolder();
}

void FolderList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
        emit entryClicked();
        return;
    }
    QListWidget::keyPressEvent(event);
}

// The first click has already opened the entry and refilled the list; the second click of a
// double-click must not open whatever entry now sits under the pointer.
void FolderList::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

}  // namespace mivex::ui
