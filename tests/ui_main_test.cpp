// The main window and the windows it opens, offscreen: every button and key, the queue's ways in,
// the options dialog, captions and overlaps. One fixture for all; it runs once more with DejaVu.
#include <unistd.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>

#include "queue/log.h"
#include "queue/runjournal.h"
#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/archive/frmstatus.h"
#include "ui/archive/makecab.h"
#include "ui/layout.h"
#include "ui/main/drivelist.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmabout.h"
#include "ui/main/frmhelp.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"
#include "ui/options/frmoptions.h"
#include "ui/startup.h"
#include "ui/translations.h"

using namespace mivex;
using namespace mivex::ui;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// A press in a window queuing src/a.txt (current) and src/b.txt, src/c.txt selected; its effect.
struct Press {
    const char* control;      // object name; empty: the window
    const char* keys;         // empty: a mouse click
    const char* answer;       // to the dialog or input box; "/..." below the data folder
    QStringList queue;        // the sources queued afterwards
    const char* made = "";    // a path that exists afterwards
    const char* shown = "";   // the start of the one message shown
    const char* opened = "";  // the window opened (closed by Escape), or "closed" for this one
    const char* choice = "";  // the answer to a question with buttons, when not the default
};
const QStringList kAB{"src/a.txt", "src/b.txt"};
const Press kPresses[] = {
    {"cmdAddFolder", "", "", kAB + QStringList{"src"}},
    {"cmdAddFile", "", "", kAB + QStringList{"src/c.txt"}},
    {"cmdMakeNewDir", "", "/dst/New/Sub", kAB, "dst/New/Sub"},
    {"cmdMakeNewDir", "", "~/dst/Home", kAB, "dst/Home"},  // "~/": home, as in a shell
    {"cmdMakeNewDir", "", "Rel", kAB, "dst/Rel"},          // below the pane's folder
    {"cmdMakeNewDir", "", "/src/", kAB, "src"},            // one that exists
    {"cmdMakeNewDir", "", "", kAB},
    {"cmdMakeNewDir", "", "/src/a.txt/x", kAB, "", "The path you att"},
    {"cmdRemove", "", "", {"src/b.txt"}},
    {"cmdClear", "", "", {}},
    {"cmdSave", "", "/saved.flq", kAB, "saved.flq"},
    {"cmdSave", "", "/no/x.flq", kAB, "", "The list could not be saved"},
    {"cmdLoad", "", "/other.flq", {"src/c.txt"}},
    {"cmdLoad", "", "/src/a.txt", kAB, "", "This file does not appear to"},
    {"cmdCopy", "", "", kAB, "dst/b.txt", "Files copied successfully"},
    {"cmdMakeCab", "", "/out.cab", kAB, "out.cab", "The archive file "},
    {"", "Ctrl+O", "/other.flq", {"src/c.txt"}},
    {"", "Ctrl+S", "/saved.flq", kAB, "saved.flq"},
    {"", "Ctrl+Q", "", kAB, "", "", "closed"},
    {"", "F1", "", kAB, "", "", "Mivex Help"},
    {"lstQueue", "Del", "", {"src/b.txt"}},
    {"lstQueue", "Return", "", kAB, "", "", "Options for this operation"},
    {"filSource", "Return", "", kAB + QStringList{"src/c.txt"}},
    {"cmdClear", "Space", "", {}},
    {"", "F10, Down, Return", "/other.flq", {"src/c.txt"}},  // the menu bar, File, Load
    {"", "Ctrl+D", "", kAB + QStringList{"src"}},
    {"", "Ctrl+F", "", kAB + QStringList{"src/c.txt"}},
    {"", "Ctrl+R", "", kAB, "dst/b.txt", "Files copied successfully"},
    {"", "Ctrl+,", "", kAB, "", "", "Options for default operations"},
    {"cmdClear", "Space, Ctrl+Z", "", kAB},
    {"lstQueue", "Del, Ctrl+Z", "", kAB},
    {"lstQueue", "Alt+Down", "", {"src/b.txt", "src/a.txt"}},
    // A queue never saved asks first; one just saved does not.
    {"", "Ctrl+Q", "", kAB, "", "", "", "Cancel"},
    {"cmdLoad", "", "/other.flq", kAB, "", "", "", "Cancel"},
    {"", "Ctrl+Q", "/night", kAB, "night.flq", "", "closed", "Save"},
    {"", "Ctrl+S, Ctrl+Q", "/saved.flq", kAB, "saved.flq", "", "closed", "Cancel"},
    // Go to Folder: `made` is where the pane with the focus went.
    {"dirDest", "Ctrl+L", "~/src/sub", kAB, "src/sub"},
    {"dirSource", "Ctrl+L", "/dst", kAB, "dst"},
};

// The options dialog on one row of a queue: the codes it opens with, those then picked.
struct RowEdit {
    QStringList rows;
    int row;
    const char *opens, *picks;
    QStringList after;  // empty: unchanged (refused, when something was picked)
};
const QStringList kTwins{"C-N --> a --> b", "C-N --> a --> bb", "C-N --> a --> b"};
const RowEdit kRowEdits[] = {
    // One row changes: not its twin, not one whose destination merely begins the same.
    {kTwins, 0, "CN", "M", QStringList{"M-N --> a --> b"} + kTwins.mid(1)},
    // The edited row does not count against its own replacement.
    {{"M-N --> s --> d"}, 0, "MN", "C", {"C-N --> s --> d"}},
    {{"C-N --> s --> d", "C-O --> s --> d"}, 1, "CO", "N", {}},
    {{"M-O --> t --> d", "C-O --> t --> d"}, 1, "CO", "M", {}},
    // Enter with nothing changed closes before any duplicate test (its move is queued).
    {{"M-O --> t --> d", "C-O --> t --> d"}, 1, "CO", "", {}},
    // Codes from a hand-edited list: only "C" copies and only "O" overwrites.
    {{"c-o --> s --> d"}, 0, "MN", "", {"M-N --> s --> d"}},
    {{" --> s --> d"}, 0, "MN", "O", {"M-O --> s --> d"}},
    // The update choice, below the two overwrite choices, and back.
    {{"C-N --> s --> d"}, 0, "CN", "U", {"C-U --> s --> d"}},
    {{"M-U --> s --> d"}, 0, "MU", "O", {"M-O --> s --> d"}},
};

// The first control of `window` whose caption is cut or too small to read, or the first two visible
// controls of one parent (lists and labels, not frames) that share more than an edge; or "".
QString flawIn(QWidget* window) {
    const QList<QWidget*> all = window->findChildren<QWidget*>();
    for (const QWidget* c : all) {
        const auto* label = qobject_cast<const QLabel*>(c);
        const bool frame = c->inherits("QGroupBox");
        const int mark = c->inherits("QPushButton") ? 4 : c->inherits("QAbstractButton") ? 16 : 0;
        // As drawn: a mnemonic's "&" is not shown ("&&" shows one).
        const QString text =
            (mark || label || frame ? c->property(frame ? "title" : "text").toString() : QString())
                .replace(QRegularExpression("&(.)"), "\\1");
        const QRect r = c->contentsRect().adjusted(mark, 0, 0, 0);
        const int wrap = label && label->wordWrap() ? Qt::TextWordWrap : 0;
        const bool cut =
            !text.isEmpty() && !r.contains(c->fontMetrics().boundingRect(r, wrap, text));
        if (!c->objectName().startsWith("qt_") && (cut || c->font().pointSizeF() < 6.0)) {
            return c->objectName() + " cannot show its caption";
        }
    }
    // The choices of one set are drawn in one size.
    for (const QButtonGroup* group : window->findChildren<QButtonGroup*>()) {
        for (const QAbstractButton* button : group->buttons()) {
            if (button->font().pointSizeF() != group->buttons().first()->font().pointSizeF()) {
                return button->objectName() + " is drawn in another size than its set";
            }
        }
    }
    // Each frame's line, as drawn (the frame's own pixels near its right edge), clears the
    // controls inside it; the frame lies inside its window.
    for (QGroupBox* frame : window->findChildren<QGroupBox*>()) {
        QImage drawn(frame->size(), QImage::Format_RGB32);
        drawn.fill(frame->palette().color(QPalette::Window));
        frame->render(&drawn, {}, {}, QWidget::DrawWindowBackground);
        int top = -1, bottom = -1;
        for (int y = 0, x = drawn.width() - 4; y < drawn.height(); ++y) {
            if (drawn.pixel(x, y) != drawn.pixel(x, 0)) {
                top = top < 0 ? y : top, bottom = y;
            }
        }
        for (const QWidget* c : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (frame->isVisible() && (c->y() <= top || c->geometry().bottom() >= bottom)) {
                return c->objectName() + " touches the line of " + frame->objectName();
            }
        }
        if (frame->window() == window &&
            !window->rect().contains(QRect(frame->mapTo(window, QPoint()), frame->size()))) {
            return frame->objectName() + " is cut off by its window";
        }
    }
    const auto counts = [](const QWidget* c) {
        return c->isVisible() && !c->isWindow() && !c->objectName().startsWith("qt_") &&
               ((!c->inherits("QFrame") && !c->inherits("QGroupBox")) ||
                c->inherits("QAbstractScrollArea") || c->inherits("QLabel"));
    };
    for (int i = 0; i < all.size(); ++i) {
        for (int j = 0; j < i; ++j) {
            // One pixel of the design (15 twips) may be shared: the layout does so. Scaled, its
            // edges are rounded apart: one pixel more.
            const QRect both = all[i]->geometry() & all[j]->geometry();
            const int shared = twips(15) + 1;
            if (all[i]->parent() == all[j]->parent() && counts(all[i]) && counts(all[j]) &&
                both.width() > shared && both.height() > shared) {
                return all[j]->objectName() + " covers " + all[i]->objectName();
            }
        }
    }
    return {};
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::optional<test::ScriptedPrompts> prompts;
    std::optional<test::TempDir> data;
    std::optional<frmMain> mWindow;
    test::TempDir mConfig;

    // The window of one gesture, shown, its panes on `src` and `dst` below the data folder (where
    // it starts when `src` is empty).
    frmMain& open(const std::string& src = "src", const std::string& dst = "dst",
                  DriveSource drives = listDrives) {
        mWindow.emplace(std::move(drives));
        mWindow->show();
        if (!src.empty()) {
            point(*mWindow, src, dst);
        }
        return *mWindow;
    }
    // True in a run of the test in hand under the fault shim (tests/shims/faults.cpp); elsewhere
    // runs it so, with `env` added, and checks that it passed.
    static bool underShim(const std::map<QString, QString>& env) {
        if (qEnvironmentVariableIsSet("MIVEX_UNDER_SHIM")) {
            return true;
        }
        QProcess self;
        QProcessEnvironment all = QProcessEnvironment::systemEnvironment();
        all.insert("MIVEX_UNDER_SHIM", "1");
        all.insert("LD_PRELOAD", MIVEX_FAULTS);
        all.insert("ASAN_OPTIONS", all.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        for (const auto& [name, value] : env) {
            all.insert(name, value);
        }
        self.setProcessEnvironment(all);
        self.setProcessChannelMode(QProcess::ForwardedChannels);
        const QString tag = QTest::currentDataTag() ? QTest::currentDataTag() : "";
        self.start(QCoreApplication::applicationFilePath(),
                   {QTest::currentTestFunction() + (tag.isEmpty() ? "" : ":" + tag)});
        [&] {
            QVERIFY(self.waitForFinished(120000));
            QCOMPARE(self.exitCode(), 0);
        }();
        return false;
    }
    // What the window said, each message by how it ends.
    QStringList said() const {
        QStringList out;
        for (const QString& text : prompts->texts()) {
            out << text.section(' ', -3);
        }
        return out;
    }

    QString at(const std::string& name) const { return q(*data / name); }
    void point(frmMain& w, const std::string& src, const std::string& dst) {
        QCOMPARE(w.dirSource->setPath(at(src)), 0);
        QCOMPARE(w.dirDest->setPath(at(dst)), 0);
    }
    // Writes a list of `rows` whose paths are below the data folder.
    QString writeList(const std::string& name, QStringList rows) {
        rows.replaceInStrings("--> ", "--> " + at(""));
        test::writeFile(*data / name, (rows.join("\r\n") + "\r\n").toStdString());
        return at(name);
    }
    // The queue's rows as the list shows them, paths below the data folder relative.
    QStringList rows(const frmMain& w) const {
        QStringList out;
        for (int i = 0; i < w.lstQueue->count(); ++i) {
            out << w.lstQueue->model()->index(i, 0).data().toString().replace(at(""), "");
        }
        return out;
    }

    // Every window at `points`, shown (the main window last: it holds the others, which are laid
    // out once shown), then the progress window with its labels at their longest in the user's
    // language and locale: `check` looks at each. The main window has a row queued.
    void eachWindowAt(qreal points, const std::function<void(QWidget*)>& check) {
        QFont larger = QApplication::font();
        larger.setPointSizeF(points);
        QApplication::setFont(larger);
        frmMain& w = open();
        w.AddToQueue("Folder");
        frmOptions options(&w, w.optionsContext());
        options.SetupForm(QStringLiteral("Defaults"));
        frmAbout about(&w);
        frmHelp help(&w);
        frmProgress progress(&w);
        frmStatus status(&w);
        for (QWidget* window :
             std::initializer_list<QWidget*>{&options, &about, &help, &progress, &status, &w}) {
            window->show();
            check(window);
        }
        const QString size = QLocale().toString(1023.9, 'f', 1) + " GB";
        const QString count = QLocale().toString(999'999);
        const auto said = [](const char* text) {
            return QCoreApplication::translate("mivex::ui::frmProgress", text);
        };
        const std::pair<const char*, QString> longest[] = {
            {"lblEntry", said("Entry %1 of %2").arg(count, count)},
            {"lblBytes", said("%1 of %2").arg(size, size)},
            {"lblFiles", said("%1 of %2 %3").arg(count, count, said("files"))},
            {"lblRun", said("Whole run: %1 of %2, %3 of %4 files").arg(size, size, count, count)},
            {"lblRemaining", said("%1 h %2 min left").arg(99).arg(59)},
            {"lblSpeed", said("Speed: %1/s").arg(size)}};
        for (const auto& [name, text] : longest) {
            auto* label = progress.findChild<QLabel*>(name);
            label->setVisible(true);
            label->setText(text);
        }
        check(&progress);
    }

private slots:
    // A run of the window cut off (the first row ended, the second in hand) is offered once at the
    // next start with its queue loaded: Resume carries on without running the first row again,
    // Start afresh leaves the queue loaded to be run, Discard leaves the window as it was.
    void cutOffRunIsOfferedOnce_data() {
        QTest::addColumn<QString>("answer");
        for (const char* answer : {"Resume", "Start afresh", "Discard"}) {
            QTest::newRow(answer) << answer;
        }
    }
    void cutOffRunIsOfferedOnce() {
        QFETCH(QString, answer);
        const QStringList rows{"C-N --> src/a.txt --> dst", "C-N --> src/b.txt --> dst"};
        {
            QStringList ran = rows;
            ran.replaceInStrings("--> ", "--> " + at(""));
            RunJournal journal(frmMain::gLogPath, RunJournal::kWindowRuns);
            journal.begin({ran[0].toStdString(), ran[1].toStdString()});
            journal.ended(0, 0);  // its copy is not there: a second run of the row would make it
        }
        prompts->choices = QStringList{answer};
        frmMain& w = open();
        w.offerResume();
        QVERIFY(prompts->texts().value(0).startsWith("The last run stopped at entry 2 of 2 ("));
        QCOMPARE(this->rows(w), answer == "Discard" ? QStringList() : rows);
        QVERIFY(!test::exists(*data / "dst/a.txt"));
        QCOMPARE(test::exists(*data / "dst/b.txt"), answer == "Resume");
        QVERIFY(!RunJournal(frmMain::gLogPath, RunJournal::kWindowRuns).cutOff());
    }

    // The German run (ui_main_test_german) speaks its locale's language; the others, English.
    void initTestCase() {
        // The user's settings stay as they are: the test keeps its own.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, q(mConfig.path()));
        if (qEnvironmentVariableIsSet("MIVEX_TEST_TRANSLATED")) {
            installTranslations(*qApp, QLocale(), QStringLiteral(MIVEX_TRANSLATIONS));
        }
    }
    void cleanup() { mWindow.reset(); }
    void init() {
        prompts.emplace();
        data.emplace();
        frmMain::gLogPath = LogFolder::open(data->path());
        test::plantTree(data->path(), {"src/a.txt=a", "src/b.txt=b", "src/c.txt=c", "src/.hidden=h",
                                       "src/sub/d.txt=d", "dst/"});
    }

    // A list named on the command line is queued; any other file says why not.
    void commandLineOpensOnlyAList() {
        frmMain& w = open();
        writeList("start.FLQ", {"C-N --> src/a.txt --> dst"});
        for (const char* name : {"start.FLQ", "src/a.txt", "missing.flq"}) {
            OpenFromCommandLine(w, *data / name);
        }
        QCOMPARE(rows(w), QStringList{"C-N --> src/a.txt --> dst"});
        QCOMPARE(said(), QStringList({"the correct type", "does not exist"}));
    }

    // A drive that cannot be read says so and leaves the panes at the root; others do not. The
    // filesystem fails (the fault shim, in a run of this test of its own), not the window.
    void unreadableDriveLeavesThePanesAtTheRoot() {
        if (!underShim({{"MIVEX_FAULT", "open:ENOMEDIUM:/nomedium,open:EACCES:/noaccess"}})) {
            return;
        }
        test::plantTree(data->path(), {"nomedium/", "noaccess/"});
        const std::vector<std::string> drives{"/", *data / "nomedium", *data / "noaccess"};
        frmMain& w = open("", "", [&] { return drives; });
        w.drvSource->setDrive(at("nomedium"));
        w.drvDest->setDrive(at("nomedium"));
        QCOMPARE(w.filSource->path() + q(w.destPath()), QStringLiteral("//"));
        w.drvSource->setDrive(at("noaccess"));
        QCOMPARE(w.filSource->path(), QStringLiteral("/"));
        QCOMPARE(said(), QStringList({"cannot be accessed.", "cannot be accessed."}));
    }

    // The same folder through a link, no file selected, a duplicate, and a copy of what a queued
    // move takes away are refused; a row clicked and then deselected is not removed.
    void addButtonsRefuseAndRemoveTakesOnlyASelectedRow() {
        test::plantTree(data->path(), {"dstlink->dst"});
        frmMain& w = open("dstlink", "dst");
        w.cmdAddFolder_Click();
        point(w, "src", "dst");
        QTest::mouseClick(w.cmdAddFile, Qt::LeftButton);  // a folder change leaves no file selected
        w.gCopy = "M";
        w.filSource->selectFile("a.txt");
        w.cmdAddFile_Click();
        w.cmdAddFile_Click();
        w.gCopy = "C";
        w.cmdAddFile_Click();
        const QPoint first = w.lstQueue->visualRect(w.lstQueue->model()->index(0, 0)).center();
        QTest::mouseClick(w.lstQueue->viewport(), Qt::LeftButton, {}, first);
        QTest::mouseClick(w.lstQueue->viewport(), Qt::LeftButton, Qt::ControlModifier, first);
        QTest::mouseClick(w.cmdRemove, Qt::LeftButton);
        QTest::keyClick(w.lstQueue, Qt::Key_Delete);
        QCOMPARE(rows(w), QStringList{"M-N --> src/a.txt --> dst"});
        QCOMPARE(said(), QStringList({"are the same!", "This Folder button", "in the batch",
                                      "in the batch"}));
    }

    // Drops: the destination's own file and unstorable names refused, the rest taken or skipped;
    // a destination folder that has gone since still takes an entry.
    void dropsAndAGoneDestination() {
        test::plantTree(data->path(), {"dst/sub/"});
        frmMain& w = open();
        QByteArray uris = "# a comment\r\nhttp://example.org/x\r\n";
        for (const char* name : {"dst/here.txt", "dst/x --> y", "dst/x -->", "dst/bad\xff",
                                 "src/c.txt", "src/sub", "gone", "src/.hidden"}) {
            if (name[0] == 'd') {
                test::writeFile(*data / name, "x");
            }
            uris += "file://" + QByteArray((*data / name).c_str()).toPercentEncoding("/") + "\r\n";
        }
        QMimeData mime;
        mime.setData("text/uri-list", uris);
        const auto offer = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(QPoint(5, 5), offer, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.lstQueue->viewport(), &enter);
        QDropEvent drop(QPointF(5, 5), offer, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.lstQueue->viewport(), &drop);
        QCOMPARE(std::pair(drop.isAccepted(), drop.dropAction()), std::pair(true, Qt::CopyAction));
        w.dirDest->setPath(at("dst/sub"));
        test::removeTree(*data / "dst/sub");
        w.cmdAddFolder_Click();
        QCOMPARE(rows(w), QStringList({"C-N --> src/c.txt --> dst", "C-N --> src/sub --> dst",
                                       "C-N --> src/.hidden --> dst", "C-N --> src --> dst/sub"}));
        QCOMPARE(said(), QStringList({"are the same!", "be valid UTF-8.", "be valid UTF-8.",
                                      "be valid UTF-8."}));
    }

    // A failure whose details name the entry, the reason and the log; then a move, after which the
    // source pane shows the destination.
    void runsReportAndAMoveLeadsTheSourcePane() {
        frmMain& w = open();
        const auto process = [&](const QString& row) {
            w.LoadQueueList(writeList("q.flq", {row}));
            QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        };
        process("M-N --> missing --> dst");
        QCOMPARE(
            prompts->shown.back().details.replace(at(""), ""),
            "line 1: M-N --> missing --> dst: the source does not exist (code 2)\n\nRun log: " +
                q(logFileName(std::time(nullptr))));
        process("M-O --> src/b.txt --> dst");
        QCOMPARE(w.filSource->path(), at("dst"));
        QCOMPARE(said(), QStringList({"change it first.", "file copy operation",
                                      "Files copied successfully"}));
    }

    // The options dialog on a row: the codes it opens with, those picked with Space, Enter.
    void optionsOfARow_data() {
        QTest::addColumn<int>("edit");
        for (std::size_t i = 0; i < std::size(kRowEdits); ++i) {
            QTest::addRow("%d", int(i)) << int(i);
        }
    }
    void optionsOfARow() {
        QFETCH(int, edit);
        const RowEdit& c = kRowEdits[edit];
        frmMain& w = open();
        w.LoadQueueList(writeList("q.flq", c.rows));
        w.lstQueue->setCurrentRow(c.row);
        frmOptions d(&w, w.optionsContext());
        QVERIFY(d.SetupForm(QStringLiteral("FromList")));
        d.show();
        QRadioButton* const radios[] = {d.optCopy[0], d.optCopy[1], d.optOverwrite[0],
                                        d.optOverwrite[1], d.optOverwrite[2]};
        QString opened;
        for (int i = 0; i < 5; ++i) {
            opened += radios[i]->isChecked() ? QString(QChar("CMNOU"[i])) : QString();
        }
        QCOMPARE(opened, QString::fromLatin1(c.opens));
        for (const char k : std::string_view(c.picks)) {
            QTest::keyClick(radios[std::string_view("CMNOU").find(k)], Qt::Key_Space);
        }
        QVERIFY(!d.chkVerify->isVisible());  // a choice of the defaults only
        QTest::keyClick(&d, Qt::Key_Return);
        QVERIFY(!d.isVisible());
        QCOMPARE(rows(w), c.after.isEmpty() ? c.rows : c.after);
        const bool refused = c.after.isEmpty() && *c.picks;
        QCOMPARE(said(), refused ? QStringList{"in the queue."} : QStringList{});
    }

    // The defaults dialog sets the codes of new entries only; "fromlist" opens it too.
    void defaultsReachNewEntriesOnly() {
        frmMain& w = open();
        w.LoadQueueList(writeList("q.flq", {"C-N --> s --> d"}));
        for (const char* form : {"", "fromlist"}) {
            frmOptions d(&w, w.optionsContext());
            QVERIFY(d.SetupForm(QString::fromLatin1(form)));
            d.show();
            QCOMPARE(d.optCopy[1]->isChecked() && d.optOverwrite[1]->isChecked(), *form != 0);
            QTest::keyClick(d.optCopy[1], Qt::Key_Space);
            QTest::keyClick(d.optOverwrite[1], Qt::Key_Space);
            QTest::keyClick(&d, Qt::Key_Return);
        }
        w.AddToQueue(QStringLiteral("Folder"));
        QCOMPARE(rows(w), QStringList({"C-N --> s --> d", "M-O --> src --> dst"}));
        QCOMPARE(said(), QStringList{});
    }

    // Every command button clicked and every key pressed, each checked by its effect.
    void pressesReachTheirCommands_data() {
        QTest::addColumn<int>("press");
        for (std::size_t i = 0; i < std::size(kPresses); ++i) {
            const Press& p = kPresses[i];
            QTest::addRow("%s %s %s", p.control, p.keys, p.answer) << int(i);
        }
    }
    void pressesReachTheirCommands() {
        QFETCH(int, press);
        const Press& p = kPresses[press];
        writeList("other.flq", {"C-N --> src/c.txt --> dst"});
        test::ScopedEnv home("HOME", data->path().c_str());
        frmMain& w = open();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (const char* name : {"a.txt", "b.txt"}) {
            w.filSource->selectFile(name);
            w.AddToQueue("File");  // queued, not loaded: the archive button stays enabled
        }
        w.filSource->selectFile("c.txt");
        w.lstQueue->setCurrentIndex(w.lstQueue->model()->index(0, 0));
        prompts->answer = p.answer[0] == '/' ? at(p.answer + 1) : QString(p.answer);
        if (*p.choice) {
            prompts->choices = QStringList{p.choice};
        }
        QStringList opened;  // each window that opens, closed with Escape
        const auto escape = [&](QWidget* window) {
            if (window && window != &w && window->isVisible()) {
                opened << window->windowTitle();
                QTest::keyClick(window, Qt::Key_Escape);
            }
        };
        QTimer modal;
        connect(&modal, &QTimer::timeout, [&] { escape(QApplication::activeModalWidget()); });
        modal.start(10);
        QWidget* target = *p.control ? w.findChild<QWidget*>(p.control) : &w;
        if (*p.keys) {
            const QKeySequence keys(p.keys);
            target->setFocus();
            for (int i = 0; i < keys.count(); ++i) {  // to an open menu, else the control
                QWidget* popup = QApplication::activePopupWidget();
                QTest::keyClick(popup ? popup : target, keys[i].key(), keys[i].keyboardModifiers());
            }
        } else {
            QTest::mouseClick(target, Qt::LeftButton);
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            escape(window);
        }
        QCOMPARE(rows(w).replaceInStrings("C-N --> ", "").replaceInStrings(" --> dst", ""),
                 p.queue);
        QCOMPARE(w.cmdCopy->isEnabled(), !p.queue.isEmpty());
        QVERIFY2(!*p.made || test::exists(*data / p.made), p.made);
        // A new folder opens in the destination pane; Go to Folder moves the pane it was asked in.
        const std::string_view control(p.control);
        const bool destMoved = (control == "cmdMakeNewDir" || control == "dirDest") && *p.made;
        QCOMPARE(w.destPath(), *data / (destMoved ? p.made : "dst"));
        QCOMPARE(w.dirSource->path(), at(control == "dirSource" ? p.made : "src"));
        // The unsaved queue's question aside (the rows' `choice` answers it).
        QStringList messages = prompts->texts();
        messages.removeIf([](const QString& t) { return t.startsWith("The queue holds entries"); });
        QCOMPARE(messages.size(), *p.shown ? 1 : 0);
        QCOMPARE(messages.join("").left(int(qstrlen(p.shown))), QString(p.shown));
        QCOMPARE(opened.join("; ") + (w.isVisible() ? "" : "closed"), QString(p.opened));
    }

    // A drive's folder list begins at the drive's root: nothing above it to click (it would leave
    // the drive while the drive list still named it). Browsing from "/" shows every ancestor.
    void folderListsEndAtTheDrivesRoot() {
        test::plantTree(data->path(), {"stick/docs/", "stick/music/"});
        frmMain& w = open("", "", [&] { return std::vector<std::string>{"/", *data / "stick"}; });
        const auto entries = [](const FolderList* list) {
            QStringList out;
            for (int i = 0; i < list->count(); ++i) {
                out << list->entryPath(i);
            }
            return out;
        };
        const auto click = [](FolderList* list, int index) {
            const QPoint at = list->visualItemRect(list->item(index)).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        };
        const QStringList stick{at("stick"), at("stick/docs"), at("stick/music")};
        for (auto [drive, list] : {std::pair{w.drvSource, w.dirSource}, {w.drvDest, w.dirDest}}) {
            QCOMPARE(list->setPath(at("stick/docs")), 0);
            QCOMPARE(entries(list).first(), QStringLiteral("/"));
            drive->setDrive(at("stick"));
            QCOMPARE(entries(list), stick);
            click(list, 1);
            QCOMPARE(entries(list), stick.first(2));
            click(list, 0);
            click(list, 0);
            QCOMPARE(list->path() + " " + drive->drive(), at("stick") + " " + at("stick"));
            QCOMPARE(entries(list), stick);
        }
    }

    // A cabinet that cannot be written says why, and sends the user to no made-up address: the
    // build names the place for help (MIVEX_SUPPORT_URL), or none.
    void archiveFailureNamesNoMadeUpPlace() {
        frmMain& w = open();
        w.filSource->selectFile("a.txt");
        w.AddToQueue("File");
        prompts->answer = at("missing/out.cab");
        QTest::mouseClick(w.cmdMakeCab, Qt::LeftButton);
        const QString place = QString::fromUtf8(kSupportPlace);
        const QString text = prompts->texts().join("\n");
        QVERIFY2(
            text.startsWith("An error occurred while attempting to create the archive. \r\n") &&
                text.endsWith("\r\nThis is most likely caused by an invalid installation. "
                              "Please reinstall your copy of the software." +
                              (place.isEmpty() ? ""
                                               : " If problems persist, please visit "
                                                 "our support site at " +
                                                     place)),
            qPrintable(text));
        QCOMPARE(prompts->texts().size(), 1);
        QVERIFY(!test::exists(*data / "missing"));
    }

    // Before a run: a missing source and a folder bigger than its destination's filesystem are
    // named in one question (a folder the run would make counts where it would be made), and
    // Cancel writes nothing; a move within that filesystem needs no room, so a queue that fits
    // runs without a question.
    void aRunThatCannotFitAsksFirst() {
        test::TmpfsMount small(1 << 20);
        if (!small.ok()) {
            QSKIP(small.reason().c_str());
        }
        test::plantTree(data->path(), {"src/big/", "small->" + small.path()});
        test::plantTree(small.path(), {"sub/", "in.bin=" + std::string(600 << 10, 'x')});
        test::writeFile(*data / "src/big/5mb", std::string(5 << 20, 'x'));
        frmMain& w = open();
        prompts->choices = QStringList{"Cancel"};
        const std::pair<QStringList, QStringList> runs[] = {
            {{"C-N --> src/a.txt --> small", "M-N --> small/in.bin --> small/sub"}, {}},
            {{"C-N --> src/big --> small/new", "C-N --> gone --> dst"},
             {"line 2: gone", "small/new: the entries would write 5.0 MB there"}}};
        for (const auto& [queue, named] : runs) {
            prompts->shown.clear();
            const test::Names before = test::describeTree(small.path());
            w.LoadQueueList(writeList("q.flq", queue));
            QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
            const QStringList questions = prompts->texts().filter("Nothing has been written yet");
            const QString asked = questions.join("").replace(at(""), "");
            QCOMPARE(questions.size(), named.isEmpty() ? 0 : 1);
            for (const QString& line : named) {
                QVERIFY2(asked.contains(line), qPrintable(asked));
            }
            QCOMPARE(test::describeTree(small.path()) == before, !named.isEmpty());
        }
    }

    // A run from the window reads each source folder once to count it and once for each copy of
    // it: the check before the run (its destination small enough that it counts), the whole
    // run's count and each entry's progress share one count. Every folder read of the process is
    // counted (the fault shim's MIVEX_COUNT_READS), not only those of the walk.
    void aRunCountsEachSourceFolderOnce_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("reads");
        QTest::newRow("one entry") << QStringList{"C-N --> src/tree --> small"} << 2;
        QTest::newRow("two copies of one source")
            << QStringList{"C-N --> src/tree --> small", "C-N --> src/tree --> dst"} << 3;
    }
    void aRunCountsEachSourceFolderOnce() {
        if (!underShim({{"MIVEX_COUNT_READS", q(*data / "reads")}})) {
            return;
        }
        QFETCH(QStringList, rows);
        QFETCH(int, reads);
        test::TmpfsMount small(1 << 20);
        if (!small.ok()) {
            QSKIP(small.reason().c_str());
        }
        const QStringList folders{"src/tree", "src/tree/sub", "src/tree/sub/deeper",
                                  "src/tree/sub/deeper/deepest", "src/tree/empty"};
        test::plantTree(
            data->path(),
            {"src/tree/a=aa", "src/tree/sub/b=bb", "src/tree/sub/deeper/c=c",
             "src/tree/sub/deeper/deepest/d=dddd", "src/tree/empty/", "small->" + small.path()});
        frmMain& w = open();
        w.LoadQueueList(writeList("q.flq", rows));
        const std::string log = qEnvironmentVariable("MIVEX_COUNT_READS").toStdString();
        ::unlink(log.c_str());  // only the run's reads
        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        QCOMPARE(prompts->texts(), QStringList("Files copied successfully"));  // no check asked
        QVERIFY(test::exists(small.path() + "/tree/sub/deeper/deepest/d"));
        std::map<QString, int> seen;
        for (const QString& line : q(test::readFile(log)).split('\n', Qt::SkipEmptyParts)) {
            ++seen[line];
        }
        QString all;
        for (const auto& [path, times] : seen) {
            all += QStringLiteral("%1 %2\n").arg(times).arg(path);
        }
        for (const QString& folder : folders) {
            QVERIFY2(seen[q(*data / folder.toStdString())] == reads, qPrintable(all));
        }
    }

    // At the desktop's text size and at 8, 16 and 22 points, in the face in use, each caption
    // fits its control in a readable size and nothing overlaps. The layout grows with the text: a
    // queue row at 16 points is at least 1.8 times as tall as at the design's 8.
    void everyCaptionFitsAndNoControlOverlaps() {
        const QFont font = QApplication::font();
        std::map<qreal, int> rowHeights;
        for (const qreal points : {font.pointSizeF(), 8.0, 16.0, 22.0}) {
            eachWindowAt(points, [](QWidget* window) { QCOMPARE(flawIn(window), QString()); });
            rowHeights[points] =
                mWindow->lstQueue->visualRect(mWindow->lstQueue->model()->index(0, 0)).height();
        }
        QApplication::setFont(font);
        QVERIFY2(rowHeights[8] > 0 && rowHeights[16] >= 1.8 * rowHeights[8],
                 qPrintable(QString::number(rowHeights[16])));
    }

    // At 16 and 22 points on a 1366 x 768 screen (ui_main_test_small_screen), every window opens
    // inside the screen's available area, the main window in the design's proportions, and every
    // caption still fits.
    void windowsFitTheScreen() {
        const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
        if (room.size() != QSize(1366, 768)) {
            QSKIP("runs as ui_main_test_small_screen");
        }
        const QFont font = QApplication::font();
        for (const qreal points : {16.0, 22.0}) {
            eachWindowAt(points, [&](QWidget* window) {
                const QSize size = window->frameGeometry().size();
                QVERIFY2(size.width() <= room.width() && size.height() <= room.height(),
                         qPrintable(window->objectName() + QString(" %1x%2 at %3 pt")
                                                               .arg(size.width())
                                                               .arg(size.height())
                                                               .arg(points)));
                QCOMPARE(flawIn(window), QString());
            });
            const QWidget* client = mWindow->centralWidget();
            const double proportion = client->width() * double(kLargestClientTwips[1]) /
                                      (client->height() * double(kLargestClientTwips[0]));
            QVERIFY2(qAbs(proportion - 1) < 0.01, qPrintable(QString::number(proportion)));
        }
        QApplication::setFont(font);
    }

    // Under LANG=de_DE.UTF-8 the window and Qt's own dialogs speak German (the captions' fit is
    // the slot above, run in German too).
    void speaksTheUsersLanguage() {
        if (!qEnvironmentVariableIsSet("MIVEX_TEST_TRANSLATED")) {
            QSKIP("runs as ui_main_test_german");
        }
        frmMain& w = open();
        QCOMPARE(w.cmdCopy->text(), QStringLiteral("Dateien verarbeiten!"));
        QCOMPARE(w.menuBar()->actions().first()->text(), QStringLiteral("Datei"));
        QFileDialog files(&w);
        files.setOption(QFileDialog::DontUseNativeDialog);
        QCOMPARE(files.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->text(),
                 QStringLiteral("Abbrechen"));
        // Numbers in the locale's way.
        test::writeFile(*data / "src/k.bin", std::string(3000, 'k'));
        frmProgress progress(&w);
        ShellOpRecord record{.pFrom = *data / "src/k.bin", .pTo = *data / "dst"};
        QCOMPARE(progress.run(record, 1, 1), 0);
        QTRY_COMPARE(progress.findChild<QLabel*>("lblBytes")->text(), "2,9 KB von 2,9 KB");
        // A run's details: the core's texts too.
        w.LoadQueueList(writeList("q.flq", {"C-N --> missing --> dst"}));
        QVERIFY(!w.CopyOperation());
        QCOMPARE(QString(w.runDetails()).replace(at(""), ""),
                 "Zeile 1: C-N --> missing --> dst: Die Quelle existiert nicht (Code 2)\n\n"
                 "Laufprotokoll: " +
                     q(logFileName(std::time(nullptr))));
    }
};

QTEST_MAIN(MainWindowTest)
#include "ui_main_test.moc"
