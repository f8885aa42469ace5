// The queue list: one queued entry a row. It takes drops of files and folders from desktop file
// managers (text/uri-list) and hands their paths, as the bytes the filesystem knows them by, to
// the window.
#pragma once

#include <QByteArray>
#include <QList>
#include <QListWidget>

class QMimeData;

namespace mivex::ui {

class QueueList : public QListWidget {
    Q_OBJECT
public:
    explicit QueueList(QWidget* parent = nullptr);

    // The local paths of a text/uri-list, in order: "file:" URLs of this machine only, percent
    // escapes decoded to raw bytes (a name need not be valid UTF-8).
    static QList<QByteArray> localPaths(const QMimeData* mime);

    // Desktop file managers offer copy, move and link for files; any other offer is not a drop
    // of files and is not taken.
    static bool takesOffer(Qt::DropActions offered);

    // The rows, each given its size as it comes: without it every change to a queue of thousands
    // of rows measured the text of every row again (over 100 ms at 32,767 rows).
    void setRows(const QStringList& rows);
    void appendRow(const QString& text);
    void setRowText(int row, const QString& text);

signals:
    // Delete and Enter on a selected row: the keyboard's "Remove Selected Entry" and double-click.
    void removeRequested();
    void optionsRequested();
    // Every drop, whatever it offers; the window decides what to take.
    void pathsDropped(const QList<QByteArray>& paths, Qt::DropActions offered);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    Qt::DropActions supportedDropActions() const override;

private:
    void giveSize(QListWidgetItem* item);

    // Learnt from the item delegate on the first row: what a row adds to its text's width, and
    // its height.
    int mExtraWidth = -1;
    int mRowHeight = 0;
};

}  // namespace mivex::ui
