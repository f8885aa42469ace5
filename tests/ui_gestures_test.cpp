// Putting operations into the queue, offscreen: the admission rules' messages, removal,
// the add buttons, double-click, and drops of files and folders.
#include <unistd.h>

#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmmain.h"
#include "ui/prompts.h"

using namespace mivex;
using namespace mivex::ui;
using mivex::test::TempDir;

namespace {

const QString kDuplicate = QStringLiteral(
    "Mivex: This file operation cannot be performed. The operation already exists in your queue "
    "or the operation references as source file that would have been previously moved in the "
    "batch");
const QString kSame = QStringLiteral("Ignoring: Source and destination are the same!");

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QStringList rows(const frmMain& w) {
    QStringList out;
    for (const auto& r : w.queue().rows()) {
        out << q(r);
    }
    return out;
}

QByteArray uri(const std::string& path) {
    return "file://" + QByteArray(path.c_str()).toPercentEncoding("/");
}

// Drags `uriList` over the queue list and drops it there, as a file manager would; the drop event
// as the drag source sees it afterwards.
struct DropAnswer {
    bool accepted;
    Qt::DropAction action;
};
DropAnswer dropOn(frmMain& w, const QByteArray& uriList, Qt::DropActions offered) {
    QMimeData mime;
    mime.setData("text/uri-list", uriList);
    QDragEnterEvent enter(QPoint(5, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.lstQueue->viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.lstQueue->viewport(), &drop);
    return {drop.isAccepted(), drop.dropAction()};
}

const auto kFilesOffer = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

}  // namespace

class GesturesTest : public QObject {
    Q_OBJECT

    test::ScriptedPrompts* prompts = nullptr;
    TempDir* data = nullptr;

    // A window whose source pane shows `src` and whose destination is `dst` (below the data).
    void point(frmMain& w, const std::string& src, const std::string& dst) {
        QCOMPARE(w.dirSource->setPath(q(*data / src)), 0);
        QCOMPARE(w.dirDest->setPath(q(*data / dst)), 0);
    }
    void addFile(frmMain& w, const QString& name) {
        w.filSource->selectFile(name);
        w.cmdAddFile_Click();
    }
    QString entry(const char* codes, const std::string& src, const std::string& dst) {
        return QString::fromLatin1(codes) + " --> " + q(*data / src) + " --> " + q(*data / dst);
    }

private slots:
    void init() {
        prompts = new test::ScriptedPrompts;
        Prompts::install(prompts);
        data = new TempDir;
        frmMain::gLogPath = data->path();
        test::makeTree(data->path(), {{"src/a.txt", "a"},
                                      {"src/A.txt", "A"},
                                      {"src/b.txt", "b"},
                                      {"src/.hidden", "h"},
                                      {"src/sub/c.txt", "c"},
                                      {"dst/", ""},
                                      {"backup/", ""}});
        QVERIFY(::symlink("dst", (*data / "dstlink").c_str()) == 0);
    }
    void cleanup() {
        Prompts::install(nullptr);
        delete prompts;
        delete data;
    }

    // The rules are the core's (queue_test); the window tells each refusal in its own box.
    void admissionRefusalsAsMessages() {
        frmMain w;
        point(w, "dstlink", "dst");  // the same folder, through a link
        QTest::mouseClick(w.cmdAddFolder, Qt::LeftButton);
        point(w, "src", "dst");
        addFile(w, "a.txt");
        addFile(w, "a.txt");
        w.gCopy = "M";
        addFile(w, "b.txt");
        w.gCopy = "C";
        addFile(w, "b.txt");  // a copy of what a queued move takes away
        QCOMPARE(prompts->titled(), QStringList({kSame, kDuplicate, kDuplicate}));
        QCOMPARE(rows(w),
                 QStringList({entry("C-N", "src/a.txt", "dst"), entry("M-N", "src/b.txt", "dst")}));
        QVERIFY(w.cmdCopy->isEnabled() && w.cmdMakeCab->isEnabled());
    }

    void removeAndClear() {
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        point(w, "src", "dst");
        QTest::mouseClick(w.cmdRemove, Qt::LeftButton);  // nothing selected, nothing queued
        addFile(w, "a.txt");
        addFile(w, "b.txt");
        // A row clicked and then deselected stays current, but is not selected: nothing goes.
        const QPoint first = w.lstQueue->visualRect(w.lstQueue->model()->index(0, 0)).center();
        QTest::mouseClick(w.lstQueue->viewport(), Qt::LeftButton, {}, first);
        QTest::mouseClick(w.lstQueue->viewport(), Qt::LeftButton, Qt::ControlModifier, first);
        QCOMPARE(w.lstQueue->currentRow(), 0);
        QTest::mouseClick(w.cmdRemove, Qt::LeftButton);
        QCOMPARE(rows(w).size(), 2);
        w.lstQueue->setCurrentRow(0);
        w.cmdRemove_Click();
        QCOMPARE(rows(w), QStringList{entry("C-N", "src/b.txt", "dst")});
        QCOMPARE(q(w.gQueueMirror()), entry("C-N", "src/b.txt", "dst") + "\r\n");
        w.lstQueue->setCurrentRow(0);
        w.cmdRemove_Click();
        QVERIFY(!w.cmdCopy->isEnabled() && !w.cmdMakeCab->isEnabled());

        addFile(w, "a.txt");
        w.cmdClear_Click();
        QCOMPARE(w.gQueueMirror(), std::string());
        QVERIFY(!w.cmdCopy->isEnabled());
        addFile(w, "a.txt");  // cleared entries no longer count as queued
        QCOMPARE(rows(w).size(), 1);
        QVERIFY(prompts->titled().isEmpty());
    }

    void buttonsAndDoubleClick() {
        frmMain w;
        point(w, "src", "dst");
        w.cmdAddFile_Click();  // a folder change leaves no file selected
        QCOMPARE(prompts->titled(), QStringList{"Mivex: Please select a file. To add all files, "
                                                "please use the Add This Folder button"});
        w.filSource->selectFile("b.txt");
        emit w.filSource->fileDoubleClicked();
        w.gDragDrop = true;
        w.filSource->selectFile("a.txt");
        emit w.filSource->fileDoubleClicked();  // during a drop: adds nothing
        w.gDragDrop = false;
        w.cmdAddFolder_Click();
        QCOMPARE(rows(w),
                 QStringList({entry("C-N", "src/b.txt", "dst"), entry("C-N", "src", "dst")}));
    }

    void dropsTakeEachPathInOrder() {
        frmMain w;
        point(w, "backup", "dst");
        // A double-click that the selection might cause while a drop is taken must add nothing.
        connect(w.filSource, &QListWidget::currentRowChanged, &w, [&w](int row) {
            if (row >= 0) {
                emit w.filSource->fileDoubleClicked();
            }
        });
        const DropAnswer answer = dropOn(
            w,
            uri(*data / "src/a.txt") + "\r\n" + uri(*data / "src/sub") + "\r\n# a comment\r\n" +
                uri(*data / "gone") + "\r\n" + uri(*data / "src/.hidden") + "\r\n" +
                "http://example.org/x\r\n" + uri(*data / "dst/x") + "\r\n",
            kFilesOffer);
        QVERIFY(answer.accepted);
        QCOMPARE(answer.action, Qt::CopyAction);  // never a move: the source keeps its files
        QCOMPARE(rows(w),
                 QStringList({entry("C-N", "src/a.txt", "dst"), entry("C-N", "src/sub", "dst"),
                              entry("C-N", "src/.hidden", "dst")}));
        QVERIFY(prompts->titled().isEmpty());  // the missing path is skipped without a word
        // The pane shows the last dropped item's folder, all its files, nothing narrowed.
        QCOMPARE(w.dirSource->path(), q(*data / "src"));
        QCOMPARE(w.filSource->count(), 3);
        QCOMPARE(w.filSource->pattern(), QStringLiteral("*.*"));
    }

    void dropsThatAreRefusedOrNotTaken() {
        frmMain w;
        point(w, "src", "dst");
        test::writeFile(*data / "dst/here.txt", "h");
        test::writeFile(*data / "src/x --> y", "x");
        const std::string invalid = *data / "src/bad\xff";
        test::writeFile(invalid, "x");
        const QByteArray all[] = {QByteArray((*data / "dst/here.txt").c_str()),
                                  QByteArray((*data / "src/x --> y").c_str()),
                                  QByteArray(invalid.c_str()),
                                  QByteArray((*data / "src/b.txt").c_str())};
        w.lstQueue_OLEDragDrop({all[0], all[1], all[2], all[3]},
                               Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        QCOMPARE(prompts->titled().size(), 3);
        QCOMPARE(prompts->titled()[0], kSame);  // a file from the destination itself
        QVERIFY(prompts->titled()[1].contains("x --> y\" cannot be queued"));
        QVERIFY(prompts->titled()[2].contains("cannot be queued"));
        QCOMPARE(rows(w), QStringList{entry("C-N", "src/b.txt", "dst")});

        // Only copy, or copy and move: not a drop of files. Nothing queued; panes re-read.
        test::writeFile(*data / "src/new.txt", "n");
        // The drag source is told that nothing was taken.
        for (const Qt::DropActions offer :
             {Qt::CopyAction | Qt::MoveAction, Qt::DropActions(Qt::CopyAction)}) {
            const DropAnswer answer = dropOn(w, uri(*data / "src/a.txt"), offer);
            QVERIFY(!answer.accepted);
            QCOMPARE(answer.action, Qt::IgnoreAction);
        }
        QCOMPARE(rows(w).size(), 1);
        QVERIFY(!w.filSource->findItems("new.txt", Qt::MatchExactly).isEmpty());
    }

    void queueLimit() {
        frmMain w;
        std::vector<std::string> full;
        for (int i = 0; i < 32767; ++i) {
            full.push_back("C-N --> /s" + std::to_string(i) + " --> /d");
        }
        std::string body;
        for (const auto& r : full) {
            body += r + "\r\n";
        }
        test::writeFile(*data / "full.flq", body);
        test::writeFile(*data / "over.flq", body + "C-N --> /one --> /more\r\n");
        w.LoadQueueList(q(*data / "over.flq"));
        QCOMPARE(w.queue().size(), std::size_t(0));
        QVERIFY(prompts->titled().value(0).contains("more than 32767 entries"));
        w.LoadQueueList(q(*data / "full.flq"));
        QCOMPARE(w.lstQueue->count(), 32767);
        point(w, "src", "dst");
        w.cmdAddFolder_Click();
        QCOMPARE(w.queue().size(), std::size_t(32767));
        QVERIFY(prompts->titled().value(1).contains("The queue is full"));
    }
};

QTEST_MAIN(GesturesTest)
#include "ui_gestures_test.moc"
