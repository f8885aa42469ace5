// The source pane's file list: a plain view over readFiles().
#include "ui/main/filelist.h"

#include <QKeyEvent>
#include <QStyle>

#include "platform/drives.h"

namespace mivex::ui {

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));  // small icons: the panes are narrow and short
    connect(this, &QListWidget::itemDoubleClicked, this, [this] { emit fileDoubleClicked(); });
}

// Enter on the selected file is the keyboard's double-click.
void FileList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !selectedItems().isEmpty()) {
        emit fileDoubleClicked();
        return;
    }
    QListWidget::keyPressEvent(event);
}

const QIcon& FileList::fileIcon() {
    // Asked for once: the style decodes its image anew on every request, which a drop of
    // thousands of files would pay for each one.
    if (mFileIcon.isNull()) {
        mFileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    }
    return mFileIcon;
}

void FileList::refresh() {
    clear();
    std::vector<std::string> names;
    int err = 0;
    // A folder that cannot be read simply shows no files, as an empty one would.
    readFiles(mPath.toStdString(), mPattern.toStdString(), names, err);
    const QIcon icon = fileIcon();
    for (const std::string& name : names) {
        addItem(new QListWidgetItem(icon, QString::fromStdString(name)));
    }
}

QString FileList::fileName() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.front()->text();
}

void FileList::selectFile(const QString& name) {
    for (int i = 0; i < count(); ++i) {
        if (item(i)->text() == name) {
            setCurrentRow(i);
            scrollToItem(item(i));
            return;
        }
    }
    // Not listed (a hidden file, one that does not match the pattern): show that one file alone,
    // selected, as a pattern of its own name would, until the next refresh().
    clear();
    addItem(new QListWidgetItem(fileIcon(), name));
    setCurrentRow(0);
}

}  // namespace mivex::ui
