// The options dialog, the About box and the help window, offscreen: both uses of the options
// dialog against a real queue, the keyboard, captions and overlaps, help present and missing.
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "platform/resultcodes.h"
#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/archive/frmstatus.h"
#include "ui/layout.h"
#include "ui/main/dialogs.h"
#include "ui/main/drivelist.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmabout.h"
#include "ui/main/frmhelp.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"
#include "ui/options/frmoptions.h"
#include "ui/prompts.h"
#include "version.h"

using namespace mivex;
using namespace mivex::ui;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

int px(int twips) {
    return qRound(twips * QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 1440.0);
}

// The queue's rows, checked against what the list shows.
QStringList rowsOf(const frmMain& w) {
    QStringList out;
    for (int i = 0; i < int(w.queue().size()); ++i) {
        out << q(w.queue().at(i));
        if (w.lstQueue->model()->index(i, 0).data().toString() != out.last()) {
            out << QStringLiteral("<list differs>");
        }
    }
    return out;
}

// The controls below `iface` that a screen reader would announce without a name, as
// "role path". Frames, panes and what the toolkit draws inside a list are not controls; a label
// is named by its text, and an empty one has nothing to say.
void unnamedControls(QAccessibleInterface* iface, const QString& path, QStringList& out) {
    static const QAccessible::Role controls[] = {
        QAccessible::PushButton,  QAccessible::RadioButton, QAccessible::CheckBox,
        QAccessible::ComboBox,    QAccessible::List,        QAccessible::EditableText,
        QAccessible::ProgressBar, QAccessible::Document,    QAccessible::MenuItem,
        QAccessible::Grouping,    QAccessible::Dialog,      QAccessible::Window};
    if (!iface || iface->state().invisible) {
        return;
    }
    const QString here = path + "/" + (iface->object() ? iface->object()->objectName() : "?");
    if (std::find(std::begin(controls), std::end(controls), iface->role()) != std::end(controls) &&
        iface->text(QAccessible::Name).trimmed().isEmpty()) {
        out << QString::number(iface->role(), 16) + " " + here;
    }
    // The rows of a list are its data, named by their own text.
    if (iface->role() == QAccessible::List) {
        return;
    }
    for (int i = 0; i < iface->childCount(); ++i) {
        unnamedControls(iface->child(i), here, out);
    }
}

// Whether the text of a control is drawn whole: the caption's own width (and a mark's, for the
// option buttons) within the control, a wrapped label's lines within its height.
bool fitsItsCaption(const QWidget* w) {
    const QFontMetrics m = w->fontMetrics();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        const int mark = qobject_cast<const QPushButton*>(w) ? 4 : 16;
        return m.horizontalAdvance(button->text()) + mark <= button->width();
    }
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->wordWrap()) {
            return m.boundingRect(label->contentsRect(), Qt::TextWordWrap, label->text())
                       .height() <= label->contentsRect().height();
        }
        return m.horizontalAdvance(label->text()) <= label->contentsRect().width();
    }
    if (const auto* frame = qobject_cast<const QGroupBox*>(w)) {
        return m.horizontalAdvance(frame->title()) <= frame->width();
    }
    return true;
}

// No two visible controls of one parent share a pixel, and each lies within its parent. Frames
// are drawn around controls that are their siblings, so they are left out of the first test.
bool noOverlap(const QWidget* window) {
    QList<const QWidget*> all = {window};
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        all << w;
    }
    for (const QWidget* parent : all) {
        QList<const QWidget*> controls;
        for (const QObject* o : parent->children()) {
            const auto* c = qobject_cast<const QWidget*>(o);
            if (!c || !c->isVisible() || c->isWindow() || parent->inherits("QAbstractScrollArea") ||
                parent->inherits("QComboBox") || o->objectName().startsWith("qt_")) {
                continue;
            }
            if (!parent->rect().contains(c->geometry()) && parent != window) {
                qWarning() << c->objectName() << "leaves" << parent->objectName();
                return false;
            }
            if (!qobject_cast<const QGroupBox*>(c) && !c->inherits("QFrame")) {
                controls << c;
            } else if (qobject_cast<const QAbstractScrollArea*>(c) || c->inherits("QLabel")) {
                controls << c;
            }
        }
        for (int i = 0; i < controls.size(); ++i) {
            for (int k = i + 1; k < controls.size(); ++k) {
                // Neighbours may share an edge: the layout puts a caption's last, blank row of
                // pixels under the list below it.
                const QRect both = controls[i]->geometry() & controls[k]->geometry();
                if (both.width() > 1 && both.height() > 1) {
                    qWarning() << controls[i]->objectName() << "covers"
                               << controls[k]->objectName();
                    return false;
                }
            }
        }
    }
    return true;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

    test::ScriptedPrompts* prompts = nullptr;
    test::TempDir* scratch = nullptr;

    void load(frmMain& w, const QStringList& rows) {
        test::writeFile(*scratch / "q.flq", (rows.join("\r\n") + "\r\n").toStdString());
        w.LoadQueueList(q(*scratch / "q.flq"));
    }

private slots:
    void init() {
        Prompts::install(prompts = new test::ScriptedPrompts);
        scratch = new test::TempDir;
        frmMain::gLogPath = scratch->path();
    }
    void cleanup() {
        Prompts::install(nullptr);
        delete prompts;
        delete scratch;
    }

    // Each case opens the dialog on one row, checks the codes it selected, picks new ones ("-"
    // leaves a pair alone), presses OK and compares the whole queue ("=": unchanged, refused).
    void entryUseRewritesTheRowInPlace() {
        const struct {
            QStringList rows;
            int row;
            const char *opens, *pick;
            QStringList after;
        } cases[] = {
            // One row changes: not its twin, not one whose destination merely begins the same.
            {{"C-N --> a --> b", "C-N --> a --> bb", "C-N --> a --> b"},
             0,
             "CN",
             "M-",
             {"M-N --> a --> b", "C-N --> a --> bb", "C-N --> a --> b"}},
            // The edited row does not count against its own replacement.
            {{"M-N --> s --> d"}, 0, "MN", "C-", {"C-N --> s --> d"}},
            {{"C-N --> s --> d", "C-O --> s --> d"}, 1, "CO", "-N", {"="}},
            {{"M-O --> t --> d", "C-O --> t --> d"}, 1, "CO", "M-", {"="}},
            // OK with nothing changed closes before any duplicate test (its move is queued).
            {{"M-O --> t --> d", "C-O --> t --> d"}, 1, "CO", "--", {}},
            // Codes from a hand-edited list: only "C" copies and only "O" overwrites.
            {{"x-Q --> s --> d"}, 0, "MN", "--", {"M-N --> s --> d"}},
            {{"c-o --> s --> d"}, 0, "MN", "--", {"M-N --> s --> d"}},
            {{" --> s --> d"}, 0, "MN", "-O", {"M-O --> s --> d"}},
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
            const auto selected = [&] {
                return QString(d.optCopy[0]->isChecked()   ? 'C'
                               : d.optCopy[1]->isChecked() ? 'M'
                                                           : '?') +
                       (d.optOverwrite[0]->isChecked()   ? 'N'
                        : d.optOverwrite[1]->isChecked() ? 'O'
                                                         : '?');
            };
            QCOMPARE(selected(), QString::fromLatin1(c.opens));
            if (c.pick[0] != '-') {
                d.optCopy[c.pick[0] == 'C' ? 0 : 1]->click();
            }
            if (c.pick[1] != '-') {
                d.optOverwrite[c.pick[1] == 'N' ? 0 : 1]->click();
            }
            d.OKButton->click();
            QVERIFY(!d.isVisible());
            const bool refused = c.after == QStringList{"="};
            QCOMPARE(rowsOf(w), refused || c.after.isEmpty() ? c.rows : c.after);
            QCOMPARE(prompts->texts(),
                     refused ? QStringList{"This operation already exists in the queue."}
                             : QStringList{});
        }
    }

    void defaultsUseSetsTheCodesOfNewEntriesOnly() {
        test::TempDir src, dst;
        frmMain w;
        load(w, {"C-N --> /a --> /b"});
        {
            frmOptions d(&w);
            QVERIFY(d.SetupForm(QString()));
            QCOMPARE(d.windowTitle(), QStringLiteral("Options for default operations"));
            QVERIFY(d.optCopy[0]->isChecked() && d.optOverwrite[0]->isChecked());
            QVERIFY(!d.FrameLog->isHidden() && d.height() > d.FrameLog->geometry().bottom());
            QCOMPARE(d.txtPath->text(), q(scratch->path()));
            QVERIFY(d.txtPath->isReadOnly());
            d.optCopy[1]->click();
            d.optOverwrite[1]->click();
            QVERIFY(d.optCopy[1]->isChecked());  // the two groups are independent
            d.OKButton->click();
        }
        QCOMPARE(w.gCopy + w.gOverwrite, std::string("MO"));
        w.dirSource->setPath(q(src.path()));
        w.dirDest->setPath(q(dst.path()));
        w.AddToQueue(QStringLiteral("Folder"));
        QCOMPARE(rowsOf(w), QStringList({"C-N --> /a --> /b",
                                         q("M-O --> " + src.path() + " --> " + dst.path())}));
        QCOMPARE(frmMain::gLogPath, scratch->path());

        frmOptions again(&w);  // starts from the defaults as they are now; "fromlist" is not
        QVERIFY(again.SetupForm(QStringLiteral("fromlist")));  // "FromList"
        QVERIFY(again.optCopy[1]->isChecked() && again.optOverwrite[1]->isChecked());
    }

    // What the mouse does, the keyboard does: each key, pressed on the real window, against what
    // it must have done.
    void keyboardReachesEveryGesture() {
        frmMain w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        load(w, {"C-N --> /a --> /b", "C-N --> /c --> /d"});

        // Enter on a queued row opens its options; there, Space picks "Move" and Enter is OK.
        QTest::mouseClick(w.lstQueue->viewport(), Qt::LeftButton, {},
                          w.lstQueue->visualRect(w.lstQueue->model()->index(0, 0)).center());
        // Answered once it is open: a timer that fired earlier would press Enter on the list.
        QString opened;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            QWidget* d = QApplication::activeModalWidget();
            if (!d) {
                return;
            }
            answer.stop();
            opened = d->objectName();
            QVERIFY(QTest::qWaitForWindowActive(d));
            auto* move = static_cast<frmOptions*>(d)->optCopy[1];
            move->setFocus();
            QTest::keyClick(move, Qt::Key_Space);
            QTest::keyClick(d->focusWidget(), Qt::Key_Return);
            if (d->isVisible()) {
                d->close();  // Enter did not answer: fail below rather than hang
            }
        });
        answer.start(5);
        QTest::keyClick(w.lstQueue, Qt::Key_Return);
        QCOMPARE(opened, QStringLiteral("frmOptions"));
        QCOMPARE(rowsOf(w), QStringList({"M-N --> /a --> /b", "C-N --> /c --> /d"}));
        QTest::keyClick(w.lstQueue, Qt::Key_Delete);
        QCOMPARE(rowsOf(w), QStringList({"C-N --> /c --> /d"}));
        w.lstQueue->clearSelection();
        QTest::keyClick(w.lstQueue, Qt::Key_Delete);  // a row only current is not selected
        QCOMPARE(rowsOf(w).size(), 1);

        // Enter on a file adds it, as a double-click does.
        w.dirSource->setPath(q(scratch->path()));
        w.filSource->refresh();
        w.filSource->setFocus();
        QTest::keyClick(w.filSource, Qt::Key_Down);
        QTest::keyClick(w.filSource, Qt::Key_Return);
        QCOMPARE(rowsOf(w).last(), q("C-N --> " + (*scratch / "q.flq") + " --> /"));

        // The menu's keys.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        prompts->asked.clear();
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(prompts->asked, QStringList({"Load File Queue List FLQ File (*.flq)",
                                              "Save File Queue List FLQ File (*.flq)"}));
        QTest::keyClick(&w, Qt::Key_F1);
        auto* help = w.findChild<frmHelp*>();
        QVERIFY(help && help->isVisible());
        QTest::keyClick(help->txtHelp, Qt::Key_Escape);
        QTRY_VERIFY(!w.findChild<frmHelp*>());
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!w.isVisible());
    }

    // Every window as a screen reader walks it (the accessibility tree, as AT-SPI is fed), and as
    // the eye sees it in the face in use (the suite runs once more with DejaVu alone): each caption
    // fits its control in a readable size, no control covers another or leaves its frame, and the
    // main window and the About box keep the sizes they were drawn at.
    void everyControlHasANameAndItsCaptionFits() {
        frmMain w;
        frmOptions options(&w);
        options.SetupForm(QStringLiteral("Defaults"));
        frmAbout about(&w);
        frmHelp help(&w);
        frmProgress progress(&w);
        frmStatus status(&w);
        QStringList unnamed;
        for (QWidget* window :
             std::initializer_list<QWidget*>{&w, &options, &about, &help, &progress, &status}) {
            window->show();
            unnamedControls(QAccessible::queryAccessibleInterface(window), QString(), unnamed);
            for (const QWidget* control : window->findChildren<QWidget*>()) {
                if (control->objectName().startsWith("qt_")) {
                    continue;  // the toolkit's own parts, such as a menu bar's overflow button
                }
                const QString name = window->objectName() + "/" + control->objectName();
                QVERIFY2(fitsItsCaption(control), qPrintable(name));
                QVERIFY2(control->font().pointSizeF() >= 6.0, qPrintable(name));
            }
            QVERIFY2(noOverlap(window), qPrintable(window->objectName()));
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join("\n")));
        // The two drive lists are told apart, not both announced by their drive.
        QCOMPARE(w.drvSource->accessibleName(), QStringLiteral("Source drive"));
        QCOMPARE(w.drvDest->accessibleName(), QStringLiteral("Destination drive"));
        QCOMPARE(w.centralWidget()->size(), QSize(px(8865), px(7020)));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QCOMPARE(about.size(), QSize(px(4680), px(3015)));
    }

    void helpShowsTheFileOrSaysItIsMissing() {
        const QString file =
            QFileInfo(QFINDTESTDATA("../help/mivex online help.html")).canonicalFilePath();
        QVERIFY(!file.isEmpty());
        frmHelp help;
        help.showContents(file);
        QCOMPARE(help.windowTitle(), QStringLiteral("Mivex Help"));
        QCOMPARE(help.txtHelp->source(), QUrl::fromLocalFile(file));
        const QString missing = q(*scratch / "gone.html");
        help.showContents(missing);
        QVERIFY(help.txtHelp->toPlainText().contains("could not be opened:\n" + missing));
        help.showContents(file);  // and back once it is there
        QCOMPARE(help.txtHelp->source(), QUrl::fromLocalFile(file));

        // From the menu: one window, shown again on every use, on the program's help file.
        frmMain w;
        w.mnuHelpContents->trigger();
        w.mnuHelpContents->trigger();
        const auto windows = w.findChildren<frmHelp*>();
        QCOMPARE(windows.size(), 1);
        QVERIFY(windows[0]->isVisible());
        const QString programs = q(w.helpFile());
        QVERIFY(QFileInfo::exists(programs)
                    ? windows[0]->txtHelp->source() == QUrl::fromLocalFile(programs)
                    : windows[0]->txtHelp->toPlainText().contains(programs));
        QVERIFY(prompts->texts().isEmpty());
    }
};

QTEST_MAIN(DialogsTest)
#include "ui_dialogs_test.moc"
