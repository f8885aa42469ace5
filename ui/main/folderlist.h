// The folder list of a browse pane: the open folder, its ancestors up to the pane's drive's root,
// and its subfolders, each entry carrying its full path. One click on an entry is reported by
// entryClicked(); the window then opens it with setPath().
#pragma once

#include <QIcon>
#include <QListWidget>

namespace mivex::ui {

class FolderList : public QListWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget* parent = nullptr);

    // The open folder: a full path without a trailing "/" except for "/".
    QString path() const { return mPath; }
    // Opens `path`. Returns 0, or the errno that kept the folder from being read (the list then
    // stays as it was). A new path emits pathChanged() at once, before this returns; the path
    // already open emits nothing and reads nothing.
    int setPath(const QString& path);
    // Opens the root of the drive mounted at `drive` (as setPath does) and makes it the top of the
    // list: no entry above it leads off the drive that the pane's drive list names. A folder
    // opened later outside that drive shows its ancestors up to "/". On failure nothing changes.
    int openDrive(const QString& drive);
    // The full path of the entry at `index` (empty when out of range), and the selected index (-1
    // when none).
    QString entryPath(int index) const;
    int listIndex() const { return currentRow(); }
    // Reads the open folder from disk again.
    void refresh();
    // Where the name of the entry at `index` is drawn, in the viewport's coordinates.
    QRect nameRect(int index) const;

signals:
    void pathChanged();
    void entryClicked();

private:
    int fill(const QString& path, const QString& root);
    void showOpenFolder();
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    QString mPath;
    QString mRoot = QStringLiteral("/");  // the drive's root: the top of the list
    QIcon mOpenIcon;
    QIcon mClosedIcon;
};

}  // namespace mivex::ui
