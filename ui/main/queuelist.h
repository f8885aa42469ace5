// The queue list: the view of the queue model, one queued entry a row. It takes drops of files
// and folders from desktop file managers (text/uri-list) and hands their paths, as the bytes the
// filesystem knows them by, to the window.
#pragma once

#include <QByteArray>
#include <QList>
#include <QListView>

class QMimeData;

namespace mivex::ui {

class QueueList : public QListView {
    Q_OBJECT
public:
    explicit QueueList(QWidget* parent = nullptr);

    int count() const;
    // The current row (-1 for none); a row can be current without being selected.
    int currentRow() const;
    void setCurrentRow(int row);
    // The selected row, -1 for none.
    int selectedRow() const;

    // The local paths of a text/uri-list, in order: "file:" URLs of this machine only, percent
    // escapes decoded to raw bytes (a name need not be valid UTF-8).
    static QList<QByteArray> localPaths(const QMimeData* mime);

    // Desktop file managers offer copy, move and link for files; any other offer is not a drop
    // of files and is not taken.
    static bool takesOffer(Qt::DropActions offered);

    // The width of the widest row's text, so that every row can be scrolled to its end.
    int widestText() const;

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
    void changeEvent(QEvent* event) override;
    // The widest row is followed as rows come and go, so that no change measures every row.
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles) override;
    void reset() override;

private:
    int textWidth(int row) const;

    mutable int mWidest = 0;
    mutable bool mWidestKnown = true;  // false: measure every row when next asked
};

}  // namespace mivex::ui
