// The main window, offscreen: start-up, layout, the pane chains, new folders, always on top,
// processing and the after-run refresh, list files and the command line.
#include <sys/stat.h>

#include <QAction>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <ctime>

#include "queue/log.h"
#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/icon.h"
#include "ui/main/drivelist.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmmain.h"
#include "ui/prompts.h"
#include "ui/startup.h"
#include "version.h"

using namespace mivex;
using namespace mivex::ui;
using mivex::test::ScriptedPrompts;
using mivex::test::TempDir;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// A press of a button or key in a window whose queue holds src/a.txt and src/b.txt (the first
// selected), with src/c.txt selected in the file list, and what it leads to.
struct Press {
    const char* name;
    const char* control;  // object name; empty: the window
    int key;              // 0: a mouse click
    Qt::KeyboardModifiers modifiers;
    const char* answer;  // to the dialog or input box, below the data folder
    QStringList queue;   // the sources queued afterwards
    const char* made;    // a path that exists afterwards
    const char* shown;   // the start of the message shown
    const char* opened;  // the title of the window opened
};
const QStringList kAB{"src/a.txt", "src/b.txt"};
const Press kPresses[] = {
    {"Add Selected Folder", "cmdAddFolder", 0, {}, "", kAB + QStringList{"src"}, "", "", ""},
    {"Add Selected File", "cmdAddFile", 0, {}, "", kAB + QStringList{"src/c.txt"}, "", "", ""},
    {"Make New Folder Here", "cmdMakeNewDir", 0, {}, "dst/New", kAB, "dst/New", "", ""},
    {"Remove Selected Entry", "cmdRemove", 0, {}, "", {"src/b.txt"}, "", "", ""},
    {"Clear List", "cmdClear", 0, {}, "", {}, "", "", ""},
    {"Save File Copy List", "cmdSave", 0, {}, "saved.flq", kAB, "saved.flq", "", ""},
    {"Load File Copy List", "cmdLoad", 0, {}, "other.flq", {"src/c.txt"}, "", "", ""},
    {"Process Files!", "cmdCopy", 0, {}, "", kAB, "dst/b.txt", "Files copied successfully", ""},
    {"Make Archive", "cmdMakeCab", 0, {}, "out.cab", kAB, "out.cab", "The archive file ", ""},
    {"Ctrl+O", "", Qt::Key_O, Qt::ControlModifier, "other.flq", {"src/c.txt"}, "", "", ""},
    {"Ctrl+S", "", Qt::Key_S, Qt::ControlModifier, "saved.flq", kAB, "saved.flq", "", ""},
    {"F1", "", Qt::Key_F1, {}, "", kAB, "", "", "Mivex Help"},
    {"Delete", "lstQueue", Qt::Key_Delete, {}, "", {"src/b.txt"}, "", "", ""},
    {"Return", "lstQueue", Qt::Key_Return, {}, "", kAB, "", "", "Options for this operation"},
    {"Space", "cmdClear", Qt::Key_Space, {}, "", {}, "", "", ""},
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    ScriptedPrompts* prompts = nullptr;
    TempDir* logs = nullptr;

    void writeList(const std::string& path, const QStringList& rows) {
        std::string body;
        for (const QString& r : rows) {
            body += r.toStdString() + "\r\n";
        }
        test::writeFile(path, body);
    }

private slots:
    void init() {
        prompts = new ScriptedPrompts;
        Prompts::install(prompts);
        logs = new TempDir;
        frmMain::gLogPath = logs->path();
    }
    void cleanup() {
        Prompts::install(nullptr);
        delete prompts;
        delete logs;
    }

    void startUpState() {
        frmMain w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Mivex Version ") + QLatin1String(kVersion));
        QVERIFY(!w.cmdCopy->isEnabled());
        QVERIFY(!w.cmdMakeCab->isEnabled());
        QCOMPARE(w.lstQueue->count(), 0);
        QCOMPARE(w.gCopy, std::string("C"));
        QCOMPARE(w.gOverwrite, std::string("N"));
        // Both panes at the root of the program's drive, the file list following.
        const QString drive = w.drvSource->drive();
        QCOMPARE(w.drvDest->drive(), drive);
        QCOMPARE(w.dirSource->path(), drive);
        QCOMPARE(w.dirDest->path(), drive);
        QCOMPARE(w.filSource->path(), drive);
        QCOMPARE(w.filSource->pattern(), QStringLiteral("*.*"));
        QCOMPARE(q(w.destPath()), drive);
        QVERIFY(prompts->shown.empty());
        // The window's icon in every size, each the very picture the desktop gets from the build.
        const QIcon icon = w.windowIcon();
        for (const int size : kIconSizes) {
            QCOMPARE(icon.pixmap(size).size(), QSize(size, size));
            const QString installed = QCoreApplication::applicationDirPath() + "/../icons/" +
                                      QString::number(size) + "/mivex.png";
            if (QFileInfo::exists(installed)) {
                QCOMPARE(QImage(installed).convertToFormat(QImage::Format_ARGB32_Premultiplied),
                         drawIcon(size));
            }
        }
    }

    void paneChainsFollowEachOther() {
        TempDir src, dst;
        test::makeTree(src.path(), {{"a.txt", "a"}, {".hidden", "h"}, {"sub/b.txt", "b"}});
        frmMain w;
        QCOMPARE(w.dirSource->setPath(q(src.path())), 0);
        QCOMPARE(w.filSource->path(), q(src.path()));
        QCOMPARE(w.filSource->count(), 1);
        QCOMPARE(w.filSource->item(0)->text(), QStringLiteral("a.txt"));
        QCOMPARE(w.dirDest->setPath(q(dst.path())), 0);
        QCOMPARE(w.destPath(), dst.path());

        // One click on an entry opens it; one that has gone since falls back to the drive.
        const int sub = w.dirSource->count() - 1;
        QCOMPARE(w.dirSource->entryPath(sub), q(src / "sub"));
        w.dirSource->setCurrentRow(sub);
        emit w.dirSource->entryClicked();
        QCOMPARE(w.dirSource->path(), q(src / "sub"));
        QCOMPARE(w.filSource->item(0)->text(), QStringLiteral("b.txt"));

        test::makeTree(dst.path(), {{"gone/", ""}});
        w.dirDest->refresh();
        w.dirDest->setCurrentRow(w.dirDest->count() - 1);
        test::removeTree(dst / "gone");
        emit w.dirDest->entryClicked();
        QCOMPARE(w.dirDest->path(), w.drvDest->drive());
        QCOMPARE(q(w.destPath()), w.drvDest->drive());
        QVERIFY(prompts->shown.empty());
    }

    void unreadableDriveFallsBackToTheRoot() {
        TempDir media, other;
        DriveList::setDrivesForTesting({"/", q(media.path()), q(other.path())});
        FolderList::failFolderForTesting(q(media.path()), ENOMEDIUM);
        frmMain w;
        w.dirSource->setPath(q(other.path()));
        w.drvSource->setDrive(q(media.path()));
        w.drvDest->setDrive(q(media.path()));
        QCOMPARE(prompts->texts(), QStringList({"The drive you selected cannot be accessed.",
                                                "The drive you selected cannot be accessed."}));
        QCOMPARE(prompts->shown[0].title, QStringLiteral("Error"));
        QVERIFY(prompts->shown[0].icon == Prompts::Icon::Critical);
        QCOMPARE(w.drvSource->drive(), QStringLiteral("/"));
        QCOMPARE(w.dirSource->path(), QStringLiteral("/"));
        QCOMPARE(w.filSource->path(), QStringLiteral("/"));
        QCOMPARE(w.drvDest->drive(), QStringLiteral("/"));
        QCOMPARE(w.destPath(), std::string("/"));

        // Any other failure is passed over: the folder list stays where it was.
        prompts->shown.clear();
        FolderList::failFolderForTesting(q(media.path()), EACCES);
        w.drvSource->setDrive(q(media.path()));
        QVERIFY(prompts->shown.empty());
        QCOMPARE(w.dirSource->path(), QStringLiteral("/"));
        FolderList::failFolderForTesting({}, 0);
        DriveList::setDrivesForTesting({});
    }

    void makeNewFolderHere() {
        TempDir dst;
        test::writeFile(dst / "file.txt", "x");
        frmMain w;
        w.dirDest->setPath(q(dst.path()));

        prompts->answers << q(dst / "New/Sub");
        w.cmdMakeNewDir_Click();
        QCOMPARE(prompts->asked.value(0), QStringLiteral("New Folder: Enter the complete path to "
                                                         "the new folder [") +
                                              q(dst.path()) + "/]");
        QCOMPARE(w.dirDest->path(), q(dst / "New/Sub"));
        QCOMPARE(w.destPath(), dst / "New/Sub");

        prompts->answers << q(dst.path()) + "/";  // exists already: just go there
        w.cmdMakeNewDir_Click();
        QCOMPARE(w.dirDest->path(), q(dst.path()));

        prompts->answers << QString();  // cancelled
        w.cmdMakeNewDir_Click();
        QCOMPARE(w.dirDest->path(), q(dst.path()));

        prompts->answers << q(dst / "file.txt/cannot");
        w.cmdMakeNewDir_Click();
        QCOMPARE(w.dirDest->path(), q(dst.path()));
        QCOMPARE(prompts->texts(),
                 QStringList{"The path you attempted to create could not be created. You either "
                             "entered an invalid path or the path you entered already exists."});
        QCOMPARE(prompts->shown[0].title, QStringLiteral("Mivex"));

        // "~/" is the home folder, as in a shell; any other relative path is below the pane's.
        test::ScopedEnv home("HOME", dst.path().c_str());
        const std::pair<QString, std::string> relative[] = {
            {"~/Made/Here", dst / "Made/Here"}, {"~", dst.path()}, {"Rel", dst / "Rel"}};
        for (const auto& [answer, made] : relative) {
            prompts->answers << answer;
            QTest::mouseClick(w.cmdMakeNewDir, Qt::LeftButton);
            QCOMPARE(w.destPath(), made);
        }
        QVERIFY(!test::exists(dst / "~"));
    }

    void processingAndTheAfterRunRefresh() {
        TempDir data;
        test::makeTree(data.path(), {{"src/a.txt", "a"}, {"src/b.txt", "b"}, {"dst/", ""}});
        const std::string list = data / "run.flq";
        frmMain w;
        w.dirSource->setPath(q(data / "src"));
        w.dirDest->setPath(q(data / "dst"));

        // A copy: only the destination is re-read; the source pane stays.
        writeList(list, {q("C-N --> " + data / "src/a.txt" + " --> " + data / "dst")});
        w.LoadQueueList(q(list));
        QVERIFY(w.cmdCopy->isEnabled());
        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        QCOMPARE(prompts->texts().value(0), QStringLiteral("Files copied successfully"));
        QCOMPARE(w.dirSource->path(), q(data / "src"));
        QCOMPARE(w.lstQueue->count(), 1);  // processing leaves the queue as it was

        // A failure: no refresh at all.
        w.dirSource->setPath(q(data.path()));
        writeList(list, {q("M-N --> " + data / "missing" + " --> " + data / "dst")});
        w.LoadQueueList(q(list));
        w.cmdCopy_Click();
        QCOMPARE(prompts->texts().value(1),
                 QStringLiteral("Errors occurred during file copy operation"));
        QCOMPARE(w.dirSource->path(), q(data.path()));
        // Its details name the entry, the reason and the log, which holds the same entry.
        const QString logPath = q(frmMain::gLogPath + "/" + logFileName(std::time(nullptr)));
        QCOMPARE(prompts->shown.at(1).details,
                 q("line 1: M-N --> " + data / "missing" + " --> " + data / "dst" +
                   ": the source does not exist (code 2)\n\nRun log: ") +
                     logPath);
        QVERIFY(QString::fromStdString(test::readFile(logPath.toStdString()))
                    .contains(q("M-N --> " + data / "missing")));
        QCOMPARE(prompts->shown.at(0).details, QString());  // success has none

        // A move last: the source pane goes to the destination, the file list following.
        writeList(list, {q("M-O --> " + data / "src/b.txt" + " --> " + data / "dst")});
        w.LoadQueueList(q(list));
        w.cmdCopy_Click();
        QCOMPARE(prompts->texts().value(2), QStringLiteral("Files copied successfully"));
        QCOMPARE(w.dirSource->path(), q(data / "dst"));
        QCOMPARE(w.filSource->count(), 2);
    }

    void listFilesRoundTrip() {
        TempDir data;
        const std::string list = data / "three.flq";
        writeList(list, {"C-N --> /a --> /d", "M-O --> /b --> /d", "C-N --> /a --> /d"});
        frmMain w;
        w.cmdSave_Click();  // an empty queue: no dialog
        QCOMPARE(prompts->texts(), QStringList{"There's no list to save!"});
        QVERIFY(prompts->asked.isEmpty());

        prompts->answers << q(list);
        w.mnuFileLoad->trigger();
        QCOMPARE(prompts->asked.value(0), QStringLiteral("Load File Queue List FLQ File (*.flq)"));
        QCOMPARE(w.lstQueue->count(), 3);
        QVERIFY(w.cmdCopy->isEnabled());
        QVERIFY(!w.cmdMakeCab->isEnabled());

        prompts->answers << q(data / "again");
        w.mnuFileSave->trigger();
        QCOMPARE(prompts->asked.value(1), QStringLiteral("Save File Queue List FLQ File (*.flq)"));
        QCOMPARE(test::readFile(data / "again"), test::readFile(list));

        prompts->answers << q(data / "no/such/folder.flq");
        w.cmdSave_Click();
        QVERIFY(prompts->texts().last().startsWith("The list could not be saved to "));

        test::writeFile(data / "bad.flq", "not a list\r\n");
        prompts->answers << q(data / "bad.flq");
        w.cmdLoad_Click();
        QCOMPARE(prompts->texts().last(),
                 QStringLiteral("This file does not appear to be a valid Mivex data file"));
        QCOMPARE(w.lstQueue->count(), 3);

        prompts->answers << QString();  // cancelled
        w.cmdLoad_Click();
        QCOMPARE(w.lstQueue->count(), 3);
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
        TempDir data;
        test::makeTree(data.path(),
                       {{"src/a.txt", "a"}, {"src/b.txt", "b"}, {"src/c.txt", "c"}, {"dst/", ""}});
        writeList(data / "other.flq",
                  {q("C-N --> " + data / "src/c.txt" + " --> " + data / "dst")});
        frmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.dirSource->setPath(q(data / "src"));
        w.dirDest->setPath(q(data / "dst"));
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            w.filSource->selectFile(name);
            if (name[0] != 'c') {
                w.AddToQueue("File");  // queued, not loaded: the archive button stays enabled
            }
        }
        w.lstQueue->setCurrentIndex(w.lstQueue->model()->index(0, 0));
        if (*p.answer) {
            prompts->answers << q(data / p.answer);
        }
        // A modal window that opens is noted and closed; so is any other that stays open.
        QStringList opened;
        QTimer modal;
        connect(&modal, &QTimer::timeout, [&opened] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                opened << dialog->windowTitle();
                dialog->close();
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
                opened << window->windowTitle();
                window->close();
            }
        }
        QStringList sources;
        for (const std::string& r : w.queue().rows()) {
            sources << q(r).section(" --> ", 1, 1).mid(int(data.path().size()) + 1);
        }
        QCOMPARE(sources, p.queue);
        QVERIFY2(!*p.made || test::exists(data / p.made), p.made);
        const QString shown = QString::fromUtf8(p.shown);
        QCOMPARE(prompts->texts().value(0).left(shown.size()), shown);
        QCOMPARE(prompts->shown.size(), shown.isEmpty() ? 0u : 1u);
        QCOMPARE(opened.join("; "), QString::fromUtf8(p.opened));
    }

    void commandLineLists() {
        TempDir data;
        writeList(data / "NIGHT.FLQ", {"C-N --> /a --> /d"});
        writeList(data / "nightflq", {"C-N --> /a --> /d", "C-N --> /b --> /d"});
        test::writeFile(data / "night.txt", "C-N --> /a --> /d\r\n");
        test::writeFile(data / "bad.flq", "nothing here\r\n");
        test::makeTree(data.path(), {{"folder.flq/", ""}});
        const struct {
            std::string argument;
            QString message;
            int rows;
        } cases[] = {
            {data / "NIGHT.FLQ", {}, 1},
            {data / "nightflq", {}, 2},
            {data / "night.txt", "This file is not the correct type", 0},
            {data / "gone.flq", "This file does not exist", 0},
            {data / "folder.flq", "This file does not exist", 0},
            {"\"" + data / "NIGHT.FLQ" + "\"", "This file does not exist", 0},
            {data / "NIGHT.FLQ -Auto", "This file does not exist", 0},
            {data / "bad.flq", "This file does not appear to be a valid Mivex data file", 0},
        };
        for (const auto& c : cases) {
            prompts->shown.clear();
            frmMain w;
            OpenFromCommandLine(w, c.argument);
            QCOMPARE(prompts->texts(),
                     c.message.isEmpty() ? QStringList() : QStringList{c.message});
            QCOMPARE(w.lstQueue->count(), c.rows);
            QCOMPARE(w.cmdCopy->isEnabled(), c.rows > 0);
            QVERIFY(!w.cmdMakeCab->isEnabled());
            QVERIFY(!w.isVisible());
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "ui_main_test.moc"
