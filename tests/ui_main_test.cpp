// The main window and the windows it opens, offscreen: start-up, the panes, every button and key,
// processing and the after-run refresh, how entries get into the queue (the add buttons,
// double-click, drops) and what the window says when they cannot; both uses of the options
// dialog, answered from the keyboard; every window's captions and overlaps. One file: every case
// shares the one fixture (a data tree, the scripted prompts), and it runs once more with DejaVu.
#include <unistd.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <ctime>
#include <memory>

#include "queue/log.h"
#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/archive/frmstatus.h"
#include "ui/main/drivelist.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmabout.h"
#include "ui/main/frmhelp.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"
#include "ui/options/frmoptions.h"
#include "version.h"

using namespace mivex;
using namespace mivex::ui;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

const QString kSame = QStringLiteral("Ignoring: Source and destination are the same!");
const QString kDuplicate = QStringLiteral(
    "Mivex: This file operation cannot be performed. The operation already exists in your queue "
    "or the operation references as source file that would have been previously moved in the "
    "batch");

// A press of a button or key in a window whose queue holds src/a.txt and src/b.txt (the first
// selected), with src/c.txt selected in the file list, and what it leads to.
struct Press {
    const char* name;
    const char* control;  // object name; empty: the window
    int key;              // 0: a mouse click
    Qt::KeyboardModifiers modifiers;
    const char* answer;       // to the dialog or input box; "/..." below the data folder
    QStringList queue;        // the sources queued afterwards
    const char* made = "";    // a path that exists afterwards
    const char* shown = "";   // the start of the message shown
    const char* opened = "";  // the title of the window opened (and closed by Escape)
    bool closes = false;
};
const QStringList kAB{"src/a.txt", "src/b.txt"};
const Press kPresses[] = {
    {"Add Selected Folder", "cmdAddFolder", 0, {}, "", kAB + QStringList{"src"}},
    {"Add Selected File", "cmdAddFile", 0, {}, "", kAB + QStringList{"src/c.txt"}},
    {"Make New Folder Here", "cmdMakeNewDir", 0, {}, "/dst/New/Sub", kAB, "dst/New/Sub"},
    {"New folder in home", "cmdMakeNewDir", 0, {}, "~/dst/Home", kAB, "dst/Home"},
    {"New folder below the pane's", "cmdMakeNewDir", 0, {}, "Rel", kAB, "dst/Rel"},
    {"New folder that exists", "cmdMakeNewDir", 0, {}, "/src/", kAB, "src"},
    {"New folder cancelled", "cmdMakeNewDir", 0, {}, "", kAB},
    {"New folder refused", "cmdMakeNewDir", 0, {}, "/src/a.txt/x", kAB, "", "The path you att"},
    {"Remove Selected Entry", "cmdRemove", 0, {}, "", {"src/b.txt"}},
    {"Clear List", "cmdClear", 0, {}, "", {}},
    {"Save File Copy List", "cmdSave", 0, {}, "/saved.flq", kAB, "saved.flq"},
    {"Save to no folder", "cmdSave", 0, {}, "/no/x.flq", kAB, "", "The list could not be saved"},
    {"Load File Copy List", "cmdLoad", 0, {}, "/other.flq", {"src/c.txt"}},
    {"Load not a list", "cmdLoad", 0, {}, "/src/a.txt", kAB, "", "This file does not appear to"},
    {"Process Files!", "cmdCopy", 0, {}, "", kAB, "dst/b.txt", "Files copied successfully"},
    {"Make Archive", "cmdMakeCab", 0, {}, "/out.cab", kAB, "out.cab", "The archive file "},
    {"Ctrl+O", "", Qt::Key_O, Qt::ControlModifier, "/other.flq", {"src/c.txt"}},
    {"Ctrl+S", "", Qt::Key_S, Qt::ControlModifier, "/saved.flq", kAB, "saved.flq"},
    {"Ctrl+Q", "", Qt::Key_Q, Qt::ControlModifier, "", kAB, "", "", "", true},
    {"F1", "", Qt::Key_F1, {}, "", kAB, "", "", "Mivex Help"},
    {"Delete", "lstQueue", Qt::Key_Delete, {}, "", {"src/b.txt"}},
    {"Return", "lstQueue", Qt::Key_Return, {}, "", kAB, "", "", "Options for this operation"},
    {"Return on a file", "filSource", Qt::Key_Return, {}, "", kAB + QStringList{"src/c.txt"}},
    {"Space", "cmdClear", Qt::Key_Space, {}, "", {}},
};

// Drags `uriList` over the queue and drops it there, as a file manager would; whether the drop
// was taken, and as what.
std::pair<bool, Qt::DropAction> dropOn(frmMain& w, const QByteArray& uriList,
                                       Qt::DropActions offered) {
    QMimeData mime;
    mime.setData("text/uri-list", uriList);
    QDragEnterEvent enter(QPoint(5, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.lstQueue->viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.lstQueue->viewport(), &drop);
    return {drop.isAccepted(), drop.dropAction()};
}
const auto kFilesOffer = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

// Whether the text of a control is drawn whole: the caption (and an option button's mark) within
// the control, a wrapped label's lines within its height.
bool fitsItsCaption(const QWidget* w) {
    const QFontMetrics m = w->fontMetrics();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        const int mark = qobject_cast<const QPushButton*>(w) ? 4 : 16;
        return m.horizontalAdvance(button->text()) + mark <= button->width();
    }
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        const QRect r = label->contentsRect();
        return label->wordWrap()
                   ? m.boundingRect(r, Qt::TextWordWrap, label->text()).height() <= r.height()
                   : m.horizontalAdvance(label->text()) <= r.width();
    }
    const auto* frame = qobject_cast<const QGroupBox*>(w);
    return !frame || m.horizontalAdvance(frame->title()) <= frame->width();
}

// The first two visible controls of one parent that share more than an edge (frames are drawn
// around their siblings: only lists and labels count among them); empty when none do.
QString overlapIn(QWidget* window) {
    QList<QWidget*> all = window->findChildren<QWidget*>();
    for (const QWidget* parent : all << window) {
        QList<const QWidget*> controls;
        for (const QWidget* c : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (c->isVisible() && !c->isWindow() && !c->objectName().startsWith("qt_") &&
                ((!c->inherits("QFrame") && !c->inherits("QGroupBox")) ||
                 c->inherits("QAbstractScrollArea") || c->inherits("QLabel"))) {
                for (const QWidget* other : controls) {
                    const QRect both = other->geometry() & c->geometry();
                    if (both.width() > 1 && both.height() > 1) {
                        return other->objectName() + " covers " + c->objectName();
                    }
                }
                controls << c;
            }
        }
    }
    return {};
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::ScriptedPrompts> prompts;
    std::unique_ptr<test::TempDir> data;

    QString at(const std::string& name) const { return q(*data / name); }
    QString entry(const char* codes, const std::string& src, const std::string& dst) const {
        return QString::fromLatin1(codes) + " --> " + at(src) + " --> " + at(dst);
    }
    QByteArray uri(const std::string& name) const {
        return "file://" + at(name).toUtf8().toPercentEncoding("/") + "\r\n";
    }
    void point(frmMain& w, const std::string& src, const std::string& dst) {
        QCOMPARE(w.dirSource->setPath(at(src)), 0);
        QCOMPARE(w.dirDest->setPath(at(dst)), 0);
    }
    void writeList(const std::string& name, const QStringList& rows) {
        test::writeFile(*data / name, (rows.join("\r\n") + "\r\n").toStdString());
    }
    // The queue's rows, as the store holds them and as the list shows them.
    static QStringList rows(const frmMain& w) {
        QStringList out;
        for (int i = 0; i < int(w.queue().size()); ++i) {
            out << q(w.queue().at(i));
            if (w.lstQueue->model()->index(i, 0).data().toString() != out.last()) {
                out << QStringLiteral("<list differs>");
            }
        }
        return out;
    }
    void load(frmMain& w, const QStringList& rows) {
        writeList("q.flq", rows);
        w.LoadQueueList(at("q.flq"));
    }

private slots:
    void init() {
        prompts = std::make_unique<test::ScriptedPrompts>();
        data = std::make_unique<test::TempDir>();
        frmMain::gLogPath = data->path();
        test::plantTree(data->path(), {"src/a.txt=a", "src/b.txt=b", "src/c.txt=c", "src/.hidden=h",
                                       "src/sub/d.txt=d", "dst/"});
    }
    void cleanup() {
        prompts.reset();
        data.reset();
    }

    void startUpAndThePanes() {
        test::plantTree(data->path(), {"src/zz/", "src/Aa/", "src/.h/"});
        frmMain w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Mivex Version ") + QLatin1String(kVersion));
        QVERIFY(!w.cmdCopy->isEnabled() && !w.cmdMakeCab->isEnabled());
        // Both panes at the root of the program's drive, the file list following.
        const QString drive = w.drvSource->drive();
        for (const QString& path : {w.drvDest->drive(), w.dirSource->path(), w.dirDest->path(),
                                    w.filSource->path(), q(w.destPath())}) {
            QCOMPARE(path, drive);
        }
        QSignalSpy changed(w.dirSource, &FolderList::pathChanged);
        point(w, "src", "dst");
        QCOMPARE(w.filSource->count(), 3);
        // The folder's ancestors, then its subfolders in order, hidden ones left out.
        QStringList entries;
        for (int i = 0; i < w.dirSource->count(); ++i) {
            entries << w.dirSource->item(i)->text() + "=" + w.dirSource->entryPath(i);
        }
        QCOMPARE(entries.front(), QStringLiteral("/=/"));
        QCOMPARE(entries.mid(entries.size() - 4),
                 QStringList({"src=" + at("src"), "Aa=" + at("src/Aa"), "sub=" + at("src/sub"),
                              "zz=" + at("src/zz")}));
        // The same path again, and paths that cannot be read, change nothing.
        QCOMPARE(w.dirSource->setPath(at("src")), 0);
        QCOMPARE(w.dirSource->setPath(at("src/missing")), ENOENT);
        QCOMPARE(w.dirSource->setPath(at("src/a.txt")), ENOTDIR);
        QCOMPARE(w.dirSource->count(), entries.size());
        QCOMPARE(changed.count(), 1);
        // One click on an entry opens it; one that has gone since falls back to the drive.
        w.dirSource->setCurrentRow(entries.size() - 2);
        emit w.dirSource->entryClicked();
        QCOMPARE(w.filSource->path(), at("src/sub"));
        test::plantTree(data->path(), {"dst/gone/"});
        w.dirDest->refresh();
        w.dirDest->setCurrentRow(w.dirDest->count() - 1);
        test::removeTree(*data / "dst/gone");
        emit w.dirDest->entryClicked();
        QCOMPARE(q(w.destPath()), w.drvDest->drive());
    }

    // A drive that cannot be read says so and leaves the panes at the root; others are passed over.
    void unreadableDriveFallsBackToTheRoot() {
        DriveList::setDrivesForTesting({"/", at("src"), at("dst")});
        FolderList::failFolderForTesting(at("src"), ENOMEDIUM);
        frmMain w;
        w.drvSource->setDrive(at("src"));
        w.drvDest->setDrive(at("src"));
        QCOMPARE(prompts->texts(true),
                 QStringList(2, "Error: The drive you selected cannot be accessed."));
        QCOMPARE(w.filSource->path() + q(w.destPath()), QStringLiteral("//"));
        FolderList::failFolderForTesting(at("src"), EACCES);
        w.drvSource->setDrive(at("src"));
        QCOMPARE(prompts->shown.size(), 2u);
        FolderList::failFolderForTesting({}, 0);
        DriveList::setDrivesForTesting({});
    }

    void processingAndTheAfterRunRefresh() {
        frmMain w;
        point(w, "src", "dst");
        const auto process = [&](const QString& row) {
            load(w, {row});
            QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        };
        // A copy: only the destination is re-read; the queue stays as it was.
        process(entry("C-N", "src/a.txt", "dst"));
        QCOMPARE(w.dirSource->path(), at("src"));
        QCOMPARE(w.lstQueue->count(), 1);
        // A failure: no refresh; the details name the entry, the reason and the log.
        w.dirSource->setPath(q(data->path()));
        process(entry("M-N", "missing", "dst"));
        QCOMPARE(w.dirSource->path(), q(data->path()));
        const QString log = q(frmMain::gLogPath + "/" + logFileName(std::time(nullptr)));
        QCOMPARE(prompts->shown.at(1).details,
                 "line 1: " + entry("M-N", "missing", "dst") +
                     ": the source does not exist (code 2)\n\nRun log: " + log);
        // A move last: the source pane goes to the destination, the file list following.
        process(entry("M-O", "src/b.txt", "dst"));
        QCOMPARE(w.dirSource->path(), at("dst"));
        QCOMPARE(w.filSource->count(), 2);
        QCOMPARE(prompts->texts(), QStringList({"Files copied successfully",
                                                "Errors occurred during file copy operation",
                                                "Files copied successfully"}));
    }

    // Every command button pressed with the mouse, and the window's keys, each checked by its
    // effect: a miswired button or key fails here.
    void pressesReachTheirCommands_data() {
        QTest::addColumn<int>("press");
        for (std::size_t i = 0; i < std::size(kPresses); ++i) {
            QTest::newRow(kPresses[i].name) << int(i);
        }
    }
    void pressesReachTheirCommands() {
        QFETCH(int, press);
        const Press& p = kPresses[press];
        writeList("other.flq", {entry("C-N", "src/c.txt", "dst")});
        test::ScopedEnv home("HOME", data->path().c_str());
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        point(w, "src", "dst");
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            w.filSource->selectFile(name);
            if (name[0] != 'c') {
                w.AddToQueue("File");  // queued, not loaded: the archive button stays enabled
            }
        }
        w.lstQueue->setCurrentIndex(w.lstQueue->model()->index(0, 0));
        if (*p.answer) {
            prompts->answers << (p.answer[0] == '/' ? at(p.answer + 1) : p.answer);
        }
        // A window that opens is noted and closed with Escape.
        QStringList opened;
        const auto escape = [&opened](QWidget* window) {
            opened << window->windowTitle();
            QTest::keyClick(window, Qt::Key_Escape);
        };
        QTimer modal;
        connect(&modal, &QTimer::timeout, [&escape] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                escape(dialog);
            }
        });
        modal.start(10);
        QWidget* target = *p.control ? w.findChild<QWidget*>(p.control) : &w;
        QVERIFY(target);
        if (p.key == 0) {
            QTest::mouseClick(target, Qt::LeftButton);
        } else {
            QTest::keyClick(target, Qt::Key(p.key), p.modifiers);
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window != &w && window->isVisible()) {
                escape(window);
            }
        }
        QStringList sources;
        for (const QString& r : rows(w)) {
            sources << r.section(" --> ", 1, 1).mid(int(data->path().size()) + 1);
        }
        QCOMPARE(sources, p.queue);
        QCOMPARE(w.cmdCopy->isEnabled(), !p.queue.isEmpty());
        QVERIFY2(!*p.made || test::exists(*data / p.made), p.made);
        // A new folder opens in the destination pane; "~/" is the home folder, as in a shell.
        if (std::string_view(p.control) == "cmdMakeNewDir") {
            QCOMPARE(prompts->asked, QStringList{"New Folder: Enter the complete path to the new "
                                                 "folder [" +
                                                 at("dst") + "/]"});
            QCOMPARE(w.destPath(), *data / (*p.made ? p.made : "dst"));
        }
        const QString shown = QString::fromUtf8(p.shown);
        QCOMPARE(prompts->texts().value(0).left(shown.size()), shown);
        QCOMPARE(prompts->shown.size(), shown.isEmpty() ? 0u : 1u);
        QCOMPARE(opened.join("; "), QString::fromUtf8(p.opened));
        QCOMPARE(w.isVisible(), !p.closes);
    }

    // The admission rules are the core's; the window tells each refusal in its own box.
    void addAndRemoveEdges() {
        QVERIFY(::symlink("dst", (*data / "dstlink").c_str()) == 0);
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        point(w, "dstlink", "dst");  // the same folder, through a link
        w.cmdAddFolder_Click();
        point(w, "src", "dst");
        QTest::mouseClick(w.cmdAddFile, Qt::LeftButton);  // a folder change leaves no file selected
        // What a window system delivers for a double-click on b.txt.
        const QPoint b = w.filSource->visualItemRect(w.filSource->item(1)).center();
        QTest::mouseClick(w.filSource->viewport(), Qt::LeftButton, {}, b);
        QTest::mouseDClick(w.filSource->viewport(), Qt::LeftButton, {}, b);
        QTest::mouseRelease(w.filSource->viewport(), Qt::LeftButton, {}, b);
        w.gCopy = "M";
        w.filSource->selectFile("a.txt");
        w.cmdAddFile_Click();
        w.cmdAddFile_Click();
        w.gCopy = "C";
        w.cmdAddFile_Click();  // a copy of what a queued move takes away
        // A row clicked and then deselected stays current, but is not selected: nothing goes.
        const QPoint first = w.lstQueue->visualRect(w.lstQueue->model()->index(0, 0)).center();
        QTest::mouseClick(w.lstQueue->viewport(), Qt::LeftButton, {}, first);
        QTest::mouseClick(w.lstQueue->viewport(), Qt::LeftButton, Qt::ControlModifier, first);
        QCOMPARE(w.lstQueue->currentRow(), 0);
        QTest::mouseClick(w.cmdRemove, Qt::LeftButton);
        QTest::keyClick(w.lstQueue, Qt::Key_Delete);
        const QStringList both{entry("C-N", "src/b.txt", "dst"), entry("M-N", "src/a.txt", "dst")};
        QCOMPARE(rows(w), both);
        QCOMPARE(q(w.gQueueMirror()), both.join("\r\n") + "\r\n");
        // A destination folder that has gone since still takes an entry.
        test::plantTree(data->path(), {"dst/sub/"});
        w.dirDest->setPath(at("dst/sub"));
        test::removeTree(*data / "dst/sub");
        w.cmdAddFolder_Click();
        QCOMPARE(rows(w).size(), 3);
        QCOMPARE(prompts->texts(true),
                 QStringList({kSame,
                              "Mivex: Please select a file. To add all files, please use the Add "
                              "This Folder button",
                              kDuplicate, kDuplicate}));
    }

    void drops() {
        frmMain w;
        point(w, "src", "dst");
        const auto [taken, action] =
            dropOn(w,
                   uri("src/a.txt") + uri("src/sub") + "# a comment\r\n" + uri("gone") +
                       uri("src/.hidden") + "http://example.org/x\r\n" + uri("dst/x"),
                   kFilesOffer);
        QCOMPARE(std::pair(taken, action), std::pair(true, Qt::CopyAction));  // never a move
        const QStringList dropped{entry("C-N", "src/a.txt", "dst"), entry("C-N", "src/sub", "dst"),
                                  entry("C-N", "src/.hidden", "dst")};
        QCOMPARE(rows(w), dropped);
        QVERIFY(prompts->shown.empty());  // the missing path is skipped without a word
        // The pane shows the last dropped item's folder, all its files, nothing narrowed.
        QCOMPARE(w.filSource->path(), at("src"));
        QCOMPARE(w.filSource->count(), 3);
        // Refused one by one, each in its own box.
        QList<QByteArray> paths;
        for (const char* name : {"dst/here.txt", "src/x --> y", "src/x -->", "src/bad\xff"}) {
            test::writeFile(*data / name, "x");
            paths << QByteArray((*data / name).c_str());
        }
        w.lstQueue_OLEDragDrop(paths, kFilesOffer);
        const QStringList said = prompts->texts(true);
        QCOMPARE(said.size(), 4);
        QCOMPARE(said[0], kSame);  // a file from the destination itself
        for (int i = 1; i < said.size(); ++i) {
            QVERIFY2(said[i].contains("\" cannot be queued: "), qPrintable(said[i]));
        }
        // Only copy, or copy and move: not a drop of files. Nothing taken; panes re-read.
        test::writeFile(*data / "dst/new.txt", "n");  // the pane shows dst, from here.txt
        for (const Qt::DropActions offer :
             {Qt::CopyAction | Qt::MoveAction, Qt::DropActions(Qt::CopyAction)}) {
            QCOMPARE(dropOn(w, uri("src/b.txt"), offer), std::pair(false, Qt::IgnoreAction));
        }
        QCOMPARE(rows(w), dropped);
        QVERIFY(!w.filSource->findItems("new.txt", Qt::MatchExactly).isEmpty());
    }

    // Each case opens the dialog on one row, checks the codes it selected, picks new ones with
    // Space ("-" leaves a pair alone), presses Enter and compares the whole queue.
    void entryUseRewritesTheRowInPlace() {
        const QStringList twins{"C-N --> a --> b", "C-N --> a --> bb", "C-N --> a --> b"};
        const struct {
            QStringList rows;
            int row;
            const char *opens, *pick;
            QStringList after;
            bool refused;
        } cases[] = {
            // One row changes: not its twin, not one whose destination merely begins the same.
            {twins, 0, "CN", "M-", QStringList{"M-N --> a --> b"} + twins.mid(1), false},
            // The edited row does not count against its own replacement.
            {{"M-N --> s --> d"}, 0, "MN", "C-", {"C-N --> s --> d"}, false},
            {{"C-N --> s --> d", "C-O --> s --> d"}, 1, "CO", "-N", {}, true},
            {{"M-O --> t --> d", "C-O --> t --> d"}, 1, "CO", "M-", {}, true},
            // Enter with nothing changed closes before any duplicate test (its move is queued).
            {{"M-O --> t --> d", "C-O --> t --> d"}, 1, "CO", "--", {}, false},
            // Codes from a hand-edited list: only "C" copies and only "O" overwrites.
            {{"c-o --> s --> d"}, 0, "MN", "--", {"M-N --> s --> d"}, false},
            {{" --> s --> d"}, 0, "MN", "-O", {"M-O --> s --> d"}, false},
        };
        for (const auto& c : cases) {
            prompts->shown.clear();
            frmMain w;
            load(w, c.rows);
            w.lstQueue->setCurrentRow(c.row);
            frmOptions d(&w);
            QVERIFY(d.SetupForm(QStringLiteral("FromList")));
            QCOMPARE(d.windowTitle(), QStringLiteral("Options for this operation"));
            QVERIFY(d.FrameLog->isHidden() && d.height() <= d.FrameLog->y());
            d.show();
            QVERIFY(QTest::qWaitForWindowActive(&d));
            QString opened;
            for (int k = 0; k < 2; ++k) {
                QRadioButton* const* pair = k == 0 ? d.optCopy : d.optOverwrite;
                const char* letters = k == 0 ? "CM" : "NO";
                opened += pair[0]->isChecked()   ? letters[0]
                          : pair[1]->isChecked() ? letters[1]
                                                 : '?';
                if (c.pick[k] != '-') {
                    pair[c.pick[k] == letters[1]]->setFocus();
                    QTest::keyClick(d.focusWidget(), Qt::Key_Space);
                }
            }
            QCOMPARE(opened, QString::fromLatin1(c.opens));
            QTest::keyClick(d.focusWidget(), Qt::Key_Return);
            QVERIFY(!d.isVisible());
            QCOMPARE(rows(w), c.after.isEmpty() ? c.rows : c.after);
            QCOMPARE(prompts->texts(),
                     QStringList(c.refused, "This operation already exists in the queue."));
        }
    }

    void defaultsUseSetsTheCodesOfNewEntriesOnly() {
        frmMain w;
        load(w, {"C-N --> /a --> /b"});
        {
            frmOptions d(&w);
            QVERIFY(d.SetupForm(QString()));
            QCOMPARE(d.windowTitle(), QStringLiteral("Options for default operations"));
            QVERIFY(d.optCopy[0]->isChecked() && d.optOverwrite[0]->isChecked());
            QVERIFY(!d.FrameLog->isHidden() && d.height() > d.FrameLog->geometry().bottom());
            QVERIFY(d.txtPath->isReadOnly() && d.txtPath->text() == q(data->path()));
            d.optCopy[1]->click();
            d.optOverwrite[1]->click();
            d.OKButton->click();
        }
        point(w, "src", "dst");
        w.AddToQueue(QStringLiteral("Folder"));
        QCOMPARE(rows(w), QStringList({"C-N --> /a --> /b", entry("M-O", "src", "dst")}));
        frmOptions again(&w);  // starts from the defaults as they are now; "fromlist" is not
        QVERIFY(again.SetupForm(QStringLiteral("fromlist")));  // "FromList"
        QVERIFY(again.optCopy[1]->isChecked() && again.optOverwrite[1]->isChecked());
    }

    // Every window as the eye sees it in the face in use (the suite runs once more with DejaVu
    // alone): each caption fits its control in a readable size, and no control covers another or
    // leaves its frame.
    void everyCaptionFitsAndNoControlOverlaps() {
        frmMain w;
        frmOptions options(&w);
        options.SetupForm(QStringLiteral("Defaults"));
        frmAbout about(&w);
        frmHelp help(&w);
        frmProgress progress(&w);
        frmStatus status(&w);
        for (QWidget* window :
             std::initializer_list<QWidget*>{&w, &options, &about, &help, &progress, &status}) {
            window->show();
            for (const QWidget* control : window->findChildren<QWidget*>()) {
                const QString name = window->objectName() + "/" + control->objectName();
                QVERIFY2(control->objectName().startsWith("qt_") || fitsItsCaption(control),
                         qPrintable(name));
                QVERIFY2(control->font().pointSizeF() >= 6.0, qPrintable(name));
            }
            QCOMPARE(overlapIn(window), QString());
        }
        QCOMPARE(w.minimumSize(), w.maximumSize());
    }
};

QTEST_MAIN(MainWindowTest)
#include "ui_main_test.moc"
