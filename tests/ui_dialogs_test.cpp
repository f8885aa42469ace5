// The options dialog, the About box and the help window, offscreen: layouts, both uses of the
// options dialog against a real queue, the "Always On Top" round trip, help present and missing.
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

#include "archive/frmstatus.h"
#include "platform/resultcodes.h"
#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
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

    void layoutsMatchTheTablesAndCaptionsFit() {
        frmMain w;
        frmOptions d(&w);
        const struct {
            QWidget* c;
            int l, t, wd, h;
        } table[] = {
            {d.optCopy[0], 360, 240, 3015, 255},       {d.optCopy[1], 360, 480, 3015, 255},
            {d.optOverwrite[0], 480, 1080, 3975, 255}, {d.optOverwrite[1], 480, 1320, 3975, 255},
            {d.OKButton, 4680, 120, 1215, 375},        {d.CancelButton, 4680, 600, 1215, 375},
            {d.Frame1, 120, 120, 4455, 1575},          {d.FrameLog, 120, 1800, 5895, 615},
            {d.txtPath, 120, 240, 5775, 285}};
        for (const auto& row : table) {
            QCOMPARE(row.c->geometry(), QRect(px(row.l), px(row.t), px(row.wd), px(row.h)));
            if (auto* b = qobject_cast<QAbstractButton*>(row.c)) {
                QVERIFY2(b->sizeHint().width() <= b->width(), qPrintable(b->text()));
            }
            QCOMPARE(d.findChild<QWidget*>(row.c->objectName()), row.c);
        }
        // The overwrite pair is the dialog's own group, over the copy frame.
        QCOMPARE(d.optOverwrite[0]->parentWidget(), &d);
        QWidget* order[] = {d.optCopy[0], d.optCopy[1],   d.optOverwrite[0], d.optOverwrite[1],
                            d.OKButton,   d.CancelButton, d.txtPath};
        for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
            QWidget* next = order[i]->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus) {
                next = next->nextInFocusChain();
            }
            QCOMPARE(next, order[i + 1]);
        }

        frmAbout about(&w);
        QCOMPARE(about.windowTitle(), QStringLiteral("Mivex version 1.2.3"));
        QCOMPARE(about.size(), QSize(px(4680), px(3015)));
        QCOMPARE(about.lblInfo->geometry(), QRect(px(120), px(240), px(4455), px(2175)));
        QCOMPARE(about.cmdClose->geometry(), QRect(px(1680), px(2640), px(1215), px(255)));
        QVERIFY(about.lblInfo->text().startsWith(QStringLiteral("Mivex ")));
        QVERIFY(about.lblInfo->text().contains(QStringLiteral(".\n\nCopyright")));
        const QRect needed = about.lblInfo->fontMetrics().boundingRect(
            about.lblInfo->rect(), Qt::TextWordWrap, about.lblInfo->text());
        QVERIFY(needed.height() <= about.lblInfo->height());
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

    void cancelOrCloseChangesNothingInEitherUse() {
        frmMain w;
        load(w, {"C-N --> /a --> /b"});
        w.lstQueue->setCurrentRow(0);
        for (const char* use : {"FromList", "Defaults"}) {
            for (bool closeButton : {false, true}) {
                frmOptions d(&w);
                QVERIFY(d.SetupForm(QString::fromLatin1(use)));
                d.optCopy[1]->click();
                d.optOverwrite[1]->click();
                if (closeButton) {
                    d.close();
                } else {
                    d.CancelButton->click();
                }
                QCOMPARE(d.result(), int(QDialog::Rejected));
            }
        }
        QCOMPARE(rowsOf(w), QStringList{"C-N --> /a --> /b"});
        QCOMPARE(w.gCopy + w.gOverwrite, std::string("CN"));
    }

    void noRowOrAMalformedRowIsRefusedWithAMessage() {
        frmMain w;
        int opened = 0;
        auto open = [&] {
            // Should a dialog open after all, count it and close it rather than hang.
            QTimer::singleShot(0, [&] {
                if (QWidget* m = QApplication::activeModalWidget()) {
                    ++opened;
                    m->close();
                }
            });
            ShowOptions(&w, QStringLiteral("FromList"));
            QTest::qWait(1);
        };
        open();  // empty queue
        const QStringList rows = {"C-N --> /a --> /b", "no separator", "C-N --> only two"};
        load(w, rows);
        w.lstQueue->setCurrentRow(-1);
        open();  // nothing selected
        for (int row : {1, 2}) {
            w.lstQueue->setCurrentRow(row);
            open();
        }
        QCOMPARE(opened, 0);
        QCOMPARE(prompts->texts().size(), 4);
        QVERIFY(prompts->texts()[0].startsWith(QStringLiteral("Please select an entry")));
        QVERIFY(prompts->texts()[2].startsWith(QStringLiteral("This line of the queue is not")));
        QCOMPARE(prompts->texts()[1], prompts->texts()[0]);
        QCOMPARE(prompts->texts()[3], prompts->texts()[2]);
        QCOMPARE(rowsOf(w), rows);
    }

    void modalDialogsLeaveTheTopmostBandWhileOpen() {
        frmMain w;
        w.show();
        load(w, {"C-N --> /a --> /b"});
        w.lstQueue->setCurrentRow(0);
        for (bool onTop : {true, false}) {
            if (onTop != w.mnuFileOnTop->isChecked()) {
                w.mnuFileOnTop->trigger();
            }
            for (QAction* a : {w.mnuDefaultOptions, w.mnuHelpAbout, (QAction*)nullptr}) {
                QString seen;
                bool topWhileOpen = true;
                QTimer::singleShot(0, [&] {
                    QWidget* modal = QApplication::activeModalWidget();
                    seen = modal ? modal->objectName() : QString();
                    topWhileOpen =
                        (w.windowFlags() & Qt::WindowStaysOnTopHint) || w.mnuFileOnTop->isChecked();
                    if (auto* box = qobject_cast<frmAbout*>(modal)) {
                        box->cmdClose->click();
                    } else if (auto* d = qobject_cast<frmOptions*>(modal)) {
                        d->CancelButton->click();
                    }
                });
                a ? a->trigger() : emit w.lstQueue->doubleClicked(w.lstQueue->model()->index(0, 0));
                QCOMPARE(seen,
                         QString::fromLatin1(a == w.mnuHelpAbout ? "frmAbout" : "frmOptions"));
                QVERIFY(!topWhileOpen);
                QCOMPARE(bool(w.windowFlags() & Qt::WindowStaysOnTopHint), onTop);
                QCOMPARE(w.mnuFileOnTop->isChecked(), onTop);
                QVERIFY(w.isVisible());
            }
        }
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

    // Every window as a screen reader walks it (the accessibility tree, as AT-SPI is fed), and
    // every caption in the face in use (the suite runs once more with DejaVu alone).
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
                QVERIFY2(captionFits(control), qPrintable(control->objectName()));
            }
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join("\n")));
        // The two drive lists are told apart, not both announced by their drive.
        QCOMPARE(w.drvSource->accessibleName(), QStringLiteral("Source drive"));
        QCOMPARE(w.drvDest->accessibleName(), QStringLiteral("Destination drive"));
    }

    void helpShowsTheFileOrSaysItIsMissing() {
        const QString file =
            QFileInfo(QFINDTESTDATA("../help/mivex online help.html")).canonicalFilePath();
        QVERIFY(!file.isEmpty());
        frmHelp help;
        help.showContents(file);
        QCOMPARE(help.windowTitle(), QStringLiteral("Mivex Help"));
        QCOMPARE(help.txtHelp->source(), QUrl::fromLocalFile(file));
        // The help's table of result codes is the program's own (cells come out one a line).
        const QString text = help.txtHelp->toPlainText();
        for (int code :
             {2, 3, 4, 5, 8, 19, 31, 32, 80, 87, 113, 118, 145, 183, 206, 1117, 1223, 1920}) {
            const std::string_view meaning = describeCode(code);
            QVERIFY2(text.contains(QString::number(code) + '\n' +
                                   QString::fromUtf8(meaning.data(), qsizetype(meaning.size()))),
                     meaning.data());
        }
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
