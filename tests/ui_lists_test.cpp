// The browse panes' three lists: drive list, folder list and file list.
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <cerrno>

#include "testsupport.h"
#include "ui/main/drivelist.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/queuelist.h"
#include "ui/main/queuemodel.h"

using namespace mivex;

class ListsTest : public QObject {
    Q_OBJECT

private:
    static QString q(const std::string& s) { return QString::fromStdString(s); }
    static QStringList entries(const ui::FolderList& list) {
        QStringList out;
        for (int i = 0; i < list.count(); ++i) {
            out << list.item(i)->text() + "=" + list.entryPath(i);
        }
        return out;
    }
    // What a window system delivers for a double-click on row `row`.
    static void doubleClick(QListWidget& list, int row) {
        const QPoint at = list.visualItemRect(list.item(row)).center();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
    }

private slots:
    // Every row can be scrolled to its end, whichever way it came in; a row that goes takes its
    // width along.
    void queueRowsScrollToTheirEnd() {
        ui::QueueModel model;
        ui::QueueList list;
        list.setModel(&model);
        list.resize(300, 120);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        // How far the rows reach, and how wide a row's text is.
        const auto reach = [&list] {
            return list.horizontalScrollBar()->maximum() + list.viewport()->width();
        };
        const auto width = [&list](const std::string& row) {
            return list.fontMetrics().horizontalAdvance(QString::fromStdString(row));
        };
        const std::string wide = "C-N --> /" + std::string(300, 'x') + " --> /dest";
        const std::string wider = "M-O --> /" + std::string(400, 'z') + " --> /b";
        const QueueEntry widest{"C", "N", "/" + std::string(500, 'y'), "/d"};
        QVERIFY(model.assign({"C-O --> /a --> /b", wide}));
        QTRY_VERIFY(reach() >= width(wide));
        model.replaceAt(0, wider);
        QTRY_VERIFY(reach() >= width(wider));
        QCOMPARE(model.admit(widest, "/"), Admission::Admitted);
        QTRY_VERIFY(reach() >= width(widest.text()));
        model.removeAt(2);
        model.removeAt(0);
        QTRY_VERIFY(reach() >= width(wide) && reach() < width(wider));
    }

    void folderListShowsAncestorsAndSubfolders() {
        test::TempDir dir;
        test::makeTree(dir.path(), {{"top/open/zz/", ""},
                                    {"top/open/Aa/", ""},
                                    {"top/open/.h/", ""},
                                    {"top/open/file", ""}});
        const QString open = q(dir / "top/open");
        ui::FolderList list;
        QSignalSpy changed(&list, &ui::FolderList::pathChanged);

        QCOMPARE(list.setPath(open + "/"), 0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(list.path(), open);
        QCOMPARE(entries(list).front(), QString("/=/"));
        QCOMPARE(entries(list).mid(list.count() - 4),
                 QStringList({"top=" + q(dir / "top"), "open=" + open, "Aa=" + open + "/Aa",
                              "zz=" + open + "/zz"}));
        QCOMPARE(list.listIndex(), list.count() - 3);

        // The same path again, and paths that cannot be read, change nothing.
        const QStringList before = entries(list);
        QCOMPARE(list.setPath(open), 0);
        QCOMPARE(list.setPath(open + "/missing"), ENOENT);
        QCOMPARE(list.setPath(open + "/file"), ENOTDIR);
        QCOMPARE(list.path(), open);
        QCOMPARE(entries(list), before);

        // refresh() re-reads quietly, and keeps the listing when the folder has gone.
        test::makeTree(open.toStdString(), {{"new/", ""}});
        list.refresh();
        QCOMPARE(list.count(), before.size() + 1);
        test::removeTree(open.toStdString());
        list.refresh();
        QCOMPARE(list.count(), before.size() + 1);
        QCOMPARE(changed.count(), 1);
    }

    void driveListReportsRealChangesOnly() {
        ui::DriveList::setDrivesForTesting({"/", "/media/usb", "/mnt/data"});
        ui::DriveList drives;
        QSignalSpy changed(&drives, &ui::DriveList::driveChanged);
        QCOMPARE(drives.drive(), QString("/"));

        drives.setDrive("/media/usb/photos");
        QCOMPARE(drives.drive(), QString("/media/usb"));
        drives.setDrive("/media/usb");
        drives.refresh();
        QCOMPARE(changed.count(), 1);

        // A drive that went away leaves the one that now holds its mount point, quietly.
        ui::DriveList::setDrivesForTesting({"/", "/mnt/data"});
        drives.refresh();
        QCOMPARE(drives.drive(), QString("/"));
        QCOMPARE(changed.count(), 1);

        drives.setCurrentIndex(1);  // as a user's pick
        QCOMPARE(changed.count(), 2);
        ui::DriveList::setDrivesForTesting({});
    }

    void fileListFiltersAndSelects() {
        test::TempDir dir;
        test::makeTree(
            dir.path(),
            {{"b.txt", ""}, {"a.txt", ""}, {"c.doc", ""}, {".h.txt", ""}, {"sub/x.txt", ""}});
        ui::FileList files;
        QSignalSpy doubled(&files, &ui::FileList::fileDoubleClicked);
        files.setPath(q(dir.path()));
        files.refresh();
        QCOMPARE(files.count(), 3);

        files.setPattern("*.txt");
        files.refresh();
        QCOMPARE(files.count(), 2);
        QCOMPARE(files.fileName(), QString());
        files.selectFile("b.txt");
        QCOMPARE(files.fileName(), QString("b.txt"));
        files.selectFile(".hidden");  // not listed: the list narrows to it until re-read
        QCOMPARE(files.fileName(), QString(".hidden"));
        QCOMPARE(files.count(), 1);
        files.refresh();
        QCOMPARE(files.fileName(), QString());
        QCOMPARE(files.count(), 2);

        files.show();
        QVERIFY(QTest::qWaitForWindowExposed(&files));
        doubleClick(files, 0);
        QCOMPARE(doubled.count(), 1);
        QCOMPARE(files.fileName(), QString("a.txt"));

        files.setPath(q(dir / "missing"));
        files.refresh();
        QCOMPARE(files.count(), 0);
    }
};

QTEST_MAIN(ListsTest)
#include "ui_lists_test.moc"
