// The options dialog, the About box and the help window, offscreen: layouts, both uses of the
// options dialog against a real queue, the "Always On Top" round trip, help present and missing.
#include <QAction>
#include <QApplication>
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
#include <functional>

#include "platform/resultcodes.h"
#include "tests/testsupport.h"
#include "ui/main/dialogs.h"
#include "ui/main/frmabout.h"
#include "ui/main/frmhelp.h"
#include "ui/main/frmmain.h"
#include "ui/options/frmoptions.h"
#include "ui/prompts.h"

using namespace mivex;
using namespace mivex::ui;
using mivex::test::TempDir;

namespace {

class RecordingPrompts : public Prompts {
public:
    void message(QWidget*, const QString& text, const QString&, Icon) override { shown << text; }
    QString input(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&) override { return {}; }
    QStringList shown;
};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

int px(int twips) {
    return qRound(twips * QGuiApplication::primaryScreen()->logicalDotsPerInchY() / 1440.0);
}

// Runs `whileOpen` on the modal dialog once it is up, then makes sure it closes, so a failed check
// can never leave the test waiting on exec().
void whenModal(const std::function<void(QWidget*)>& whileOpen) {
    QTimer::singleShot(0, [whileOpen] {
        QWidget* modal = QApplication::activeModalWidget();
        whileOpen(modal);
        if (modal && modal->isVisible()) {
            modal->close();
        }
    });
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private:
    RecordingPrompts* prompts = nullptr;
    TempDir* scratch = nullptr;

    void load(frmMain& w, const QStringList& rows) {
        std::string body;
        for (const QString& r : rows) {
            body += r.toStdString() + "\r\n";
        }
        test::writeFile(*scratch / "q.flq", body);
        w.LoadQueueList(q(*scratch / "q.flq"));
        QCOMPARE(w.lstQueue->count(), rows.size());
    }
    static QStringList rowsOf(const frmMain& w) {
        QStringList out;
        for (const std::string& row : w.queue().rows()) {
            out << q(row);
        }
        for (int i = 0; i < w.lstQueue->count(); ++i) {
            if (w.lstQueue->item(i)->text() != out.value(i)) {
                out << QStringLiteral("list and queue differ at row %1").arg(i);
            }
        }
        return out;
    }
    // Opens the dialog on `row` as a double-click would and sets the two choices.
    static void edit(frmOptions& d, frmMain& w, int row, int copy, int overwrite) {
        w.lstQueue->setCurrentRow(row);
        QVERIFY(d.SetupForm(QStringLiteral("FromList")));
        d.optCopy[copy]->click();
        d.optOverwrite[overwrite]->click();
    }

private slots:
    void init() {
        prompts = new RecordingPrompts;
        Prompts::install(prompts);
        scratch = new TempDir;
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
        QCOMPARE(d.windowTitle(), QStringLiteral("Options for this operation"));
        const struct {
            const char* name;
            int l, t, wd, h;
        } table[] = {
            {"optCopy0", 360, 240, 3015, 255},       {"optCopy1", 360, 480, 3015, 255},
            {"optOverwrite0", 480, 1080, 3975, 255}, {"optOverwrite1", 480, 1320, 3975, 255},
            {"OKButton", 4680, 120, 1215, 375},      {"CancelButton", 4680, 600, 1215, 375},
            {"Frame1", 120, 120, 4455, 1575},        {"FrameLog", 120, 1800, 5895, 615},
            {"txtPath", 120, 240, 5775, 285},
        };
        for (const auto& row : table) {
            auto* c = d.findChild<QWidget*>(QString::fromLatin1(row.name));
            QVERIFY2(c, row.name);
            QCOMPARE(c->geometry(), QRect(px(row.l), px(row.t), px(row.wd), px(row.h)));
            if (auto* b = qobject_cast<QAbstractButton*>(c)) {
                QVERIFY2(b->sizeHint().width() <= b->width(), row.name);
            }
        }
        // The overwrite pair is the dialog's own group, drawn over the copy frame.
        QCOMPARE(d.optOverwrite[0]->parentWidget(), &d);
        QCOMPARE(d.optCopy[0]->parentWidget(), d.Frame1);
        QVERIFY(!d.OKButton->autoDefault() && !d.CancelButton->autoDefault());
        QWidget* order[] = {d.optCopy[0], d.optCopy[1], d.optOverwrite[0], d.optOverwrite[1],
                            d.OKButton,   d.CancelButton, d.txtPath};
        for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
            QCOMPARE(order[i]->nextInFocusChain(), order[i + 1]);
        }

        frmAbout about(&w);
        QCOMPARE(about.size(), QSize(px(4680), px(3015)));
        QCOMPARE(about.lblInfo->geometry(), QRect(px(120), px(240), px(4455), px(2175)));
        QCOMPARE(about.cmdClose->geometry(), QRect(px(1680), px(2640), px(1215), px(255)));
        QCOMPARE(about.cmdClose->text(), QStringLiteral("Close"));
        QCOMPARE(about.windowTitle(), QStringLiteral("Mivex version 1.2.3"));
        QVERIFY(about.lblInfo->text().startsWith(QStringLiteral("Mivex ")));
        QVERIFY(about.lblInfo->text().contains(QStringLiteral(".\n\nCopyright")));
        // The whole text fits the label.
        const QRect needed = about.lblInfo->fontMetrics().boundingRect(
            about.lblInfo->rect(), Qt::TextWordWrap, about.lblInfo->text());
        QVERIFY(needed.height() <= about.lblInfo->height());
    }

    void entryUseEditsTheRowInPlace() {
        frmMain w;
        load(w, {"C-N --> /a.txt --> /b", "C-N --> /a.txt --> /backup", "C-N --> /a.txt --> /b"});
        {
            frmOptions d(&w);
            w.lstQueue->setCurrentRow(0);
            QVERIFY(d.SetupForm(QStringLiteral("FromList")));
            QCOMPARE(d.windowTitle(), QStringLiteral("Options for this operation"));
            QVERIFY(d.optCopy[0]->isChecked() && !d.optCopy[1]->isChecked());
            QVERIFY(d.optOverwrite[0]->isChecked() && !d.optOverwrite[1]->isChecked());
            QVERIFY(d.FrameLog->isHidden());
            QVERIFY(d.height() <= d.FrameLog->y());
            // The two pairs are independent groups.
            d.optCopy[1]->click();
            QVERIFY(d.optOverwrite[0]->isChecked());
            d.OKButton->click();
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        // Only the edited row changes, also where the same line is queued twice.
        QCOMPARE(rowsOf(w), QStringList({"M-N --> /a.txt --> /b", "C-N --> /a.txt --> /backup",
                                         "C-N --> /a.txt --> /b"}));
        QCOMPARE(w.gQueueMirror(), std::string("M-N --> /a.txt --> /b\r\nC-N --> /a.txt --> "
                                               "/backup\r\nC-N --> /a.txt --> /b\r\n"));
        {
            // The row being edited does not count against its own replacement.
            frmOptions d(&w);
            edit(d, w, 0, 0, 1);
            d.OKButton->click();
        }
        QCOMPARE(rowsOf(w).value(0), QStringLiteral("C-O --> /a.txt --> /b"));
        {
            frmOptions d(&w);  // OK with nothing changed
            edit(d, w, 1, 0, 0);
            d.OKButton->click();
        }
        QCOMPARE(rowsOf(w).value(1), QStringLiteral("C-N --> /a.txt --> /backup"));
        QVERIFY(prompts->shown.isEmpty());
    }

    void unusualCodesAreReadAndWrittenBack() {
        frmMain w;
        load(w, {"x-Q --> s --> d", "c-o --> s --> d2", "C-O --> s --> d3", " --> s --> d4"});
        const struct {
            int row;
            bool copy, overwrite;
            const char* after;
        } cases[] = {{0, false, false, "M-N --> s --> d"},
                     {1, false, false, "M-N --> s --> d2"},
                     {2, true, true, "C-O --> s --> d3"},
                     {3, false, false, "M-N --> s --> d4"}};
        for (const auto& c : cases) {
            frmOptions d(&w);
            w.lstQueue->setCurrentRow(c.row);
            QVERIFY(d.SetupForm(QStringLiteral("FromList")));
            QCOMPARE(d.optCopy[0]->isChecked(), c.copy);
            QCOMPARE(d.optOverwrite[1]->isChecked(), c.overwrite);
            d.OKButton->click();
            QCOMPARE(rowsOf(w).value(c.row), QString::fromLatin1(c.after));
        }
    }

    void aChangeThatDuplicatesAnotherRowIsRefused() {
        frmMain w;
        const QStringList rows = {"C-N --> s --> d", "C-O --> s --> d", "M-O --> t --> d",
                                  "C-O --> t --> d"};
        load(w, rows);
        {
            frmOptions d(&w);
            edit(d, w, 1, 0, 0);  // would become row 0
            d.OKButton->click();
            QCOMPARE(d.result(), int(QDialog::Rejected));
        }
        {
            frmOptions d(&w);
            edit(d, w, 3, 0, 1);  // unchanged, yet its move is queued above it: still allowed
            d.OKButton->click();
        }
        {
            frmOptions d(&w);
            edit(d, w, 3, 1, 1);  // would become row 2
            d.OKButton->click();
        }
        QCOMPARE(prompts->shown, QStringList(2, "This operation already exists in the queue."));
        QCOMPARE(rowsOf(w), rows);
    }

    void defaultsUseSetsTheCodesOfNewEntries() {
        TempDir src, dst;
        frmMain w;
        load(w, {"C-N --> /a --> /b"});
        {
            frmOptions d(&w);
            QVERIFY(d.SetupForm(QString()));
            QCOMPARE(d.windowTitle(), QStringLiteral("Options for default operations"));
            QVERIFY(d.optCopy[0]->isChecked() && d.optOverwrite[0]->isChecked());
            QVERIFY(!d.FrameLog->isHidden());
            QVERIFY(d.height() >= d.FrameLog->geometry().bottom());
            QCOMPARE(d.txtPath->text(), q(frmMain::gLogPath));
            QVERIFY(d.txtPath->isReadOnly());
            d.optCopy[1]->click();
            d.optOverwrite[1]->click();
            d.OKButton->click();
        }
        QCOMPARE(w.gCopy, std::string("M"));
        QCOMPARE(w.gOverwrite, std::string("O"));
        QCOMPARE(rowsOf(w), QStringList{"C-N --> /a --> /b"});
        QCOMPARE(frmMain::gLogPath, scratch->path());

        w.dirSource->setPath(q(src.path()));
        w.dirDest->setPath(q(dst.path()));
        w.AddToQueue(QStringLiteral("Folder"));
        QCOMPARE(rowsOf(w).value(1), q("M-O --> " + src.path() + " --> " + dst.path()));

        frmOptions again(&w);  // the next use starts from the defaults as they are now
        QVERIFY(again.SetupForm(QStringLiteral("fromlist")));  // not "FromList": the defaults
        QVERIFY(again.optCopy[1]->isChecked() && again.optOverwrite[1]->isChecked());
    }

    void cancelChangesNothingInEitherUse() {
        frmMain w;
        load(w, {"C-N --> /a --> /b"});
        for (const QString& use : {QStringLiteral("FromList"), QStringLiteral("Defaults")}) {
            for (bool byCloseButton : {false, true}) {
                frmOptions d(&w);
                w.lstQueue->setCurrentRow(0);
                QVERIFY(d.SetupForm(use));
                d.optCopy[1]->click();
                d.optOverwrite[1]->click();
                if (byCloseButton) {
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
        bool opened = false;
        auto spy = [&] {
            whenModal([&](QWidget* modal) { opened = opened || modal; });
        };
        spy();
        ShowOptions(&w, QStringLiteral("FromList"));  // empty queue
        load(w, {"C-N --> /a --> /b", "no separator here", "C-N --> only two"});
        w.lstQueue->setCurrentRow(-1);
        ShowOptions(&w, QStringLiteral("FromList"));  // nothing selected
        for (int row : {1, 2}) {
            w.lstQueue->setCurrentRow(row);
            ShowOptions(&w, QStringLiteral("FromList"));
        }
        QTest::qWait(20);
        QVERIFY(!opened);
        QCOMPARE(prompts->shown.size(), 4);
        QVERIFY(prompts->shown[0].startsWith(QStringLiteral("Please select an entry")));
        QCOMPARE(prompts->shown[1], prompts->shown[0]);
        QVERIFY(prompts->shown[2].startsWith(QStringLiteral("This line of the queue is not")));
        QCOMPARE(prompts->shown[3], prompts->shown[2]);
        QCOMPARE(rowsOf(w),
                 QStringList({"C-N --> /a --> /b", "no separator here", "C-N --> only two"}));
    }

    void modalDialogsLeaveTheTopmostBandWhileOpen() {
        frmMain w;
        w.show();
        load(w, {"C-N --> /a --> /b"});
        w.lstQueue->setCurrentRow(0);
        const std::function<void()> openers[] = {
            [&] { ShowOptions(&w, QStringLiteral("FromList")); },
            [&] { ShowOptions(&w, QStringLiteral("Defaults")); },
            [&] { ShowAbout(&w); },
        };
        for (bool onTop : {true, false}) {
            if (onTop != w.mnuFileOnTop->isChecked()) {
                w.mnuFileOnTop->trigger();
            }
            for (const auto& open : openers) {
                QString seen;
                bool topWhileOpen = true, checkedWhileOpen = true;
                whenModal([&](QWidget* modal) {
                    seen = modal ? modal->objectName() : QString();
                    topWhileOpen = w.windowFlags() & Qt::WindowStaysOnTopHint;
                    checkedWhileOpen = w.mnuFileOnTop->isChecked();
                    if (auto* box = qobject_cast<frmAbout*>(modal)) {
                        box->cmdClose->click();
                    } else if (auto* d = qobject_cast<frmOptions*>(modal)) {
                        d->CancelButton->click();
                    }
                });
                open();
                QVERIFY(seen == "frmOptions" || seen == "frmAbout");
                QVERIFY(!topWhileOpen && !checkedWhileOpen);
                QCOMPARE(bool(w.windowFlags() & Qt::WindowStaysOnTopHint), onTop);
                QCOMPARE(w.mnuFileOnTop->isChecked(), onTop);
                QVERIFY(w.isVisible());
            }
        }
        QCOMPARE(rowsOf(w), QStringList{"C-N --> /a --> /b"});
    }

    void helpShowsTheFileOrSaysItIsMissing() {
        const QString source = QFINDTESTDATA("../help/mivex online help.html");
        QVERIFY(!source.isEmpty());
        frmHelp help;
        help.showContents(source);
        QCOMPARE(help.windowTitle(), QStringLiteral("Mivex Help"));
        QCOMPARE(help.txtHelp->source(), QUrl::fromLocalFile(source));
        const QString text = help.txtHelp->toPlainText();
        // The help's table of result codes is the program's own.
        for (int code : {2, 3, 4, 5, 8, 19, 31, 32, 80, 87, 113, 118, 145, 183, 206, 1117, 1223,
                         1920}) {
            const QString meaning = QString::fromUtf8(describeCode(code).data());
            QVERIFY2(text.contains(QString::number(code) + QLatin1Char('\t') + meaning),
                     qPrintable(meaning));
        }
        for (const char* words : {"Not enough free space on destination drive",
                                  "Something broke... sorry. Error code is", " -auto",
                                  "MMDDYYYY-log.txt", "~/.local/state/mivex"}) {
            QVERIFY2(text.contains(QString::fromUtf8(words)), words);
        }

        const QString missing = q(*scratch / "gone.html");
        help.showContents(missing);
        QVERIFY(help.txtHelp->toPlainText().contains(missing));
        QVERIFY(help.txtHelp->toPlainText().contains(QStringLiteral("could not be opened")));
        help.showContents(source);  // and back once it is there
        QCOMPARE(help.txtHelp->source(), QUrl::fromLocalFile(source));

        // From the menu: one window, raised again on every use, on the program's help file.
        frmMain w;
        w.mnuHelpContents->trigger();
        w.mnuHelpContents->trigger();
        const auto windows = w.findChildren<frmHelp*>();
        QCOMPARE(windows.size(), 1);
        QVERIFY(windows[0]->isVisible());
        const QString file = q(w.helpFile());
        if (QFileInfo::exists(file)) {
            QCOMPARE(windows[0]->txtHelp->source(), QUrl::fromLocalFile(file));
        } else {
            QVERIFY(windows[0]->txtHelp->toPlainText().contains(file));
        }
        QVERIFY(prompts->shown.isEmpty());
    }
};

QTEST_MAIN(DialogsTest)
#include "ui_dialogs_test.moc"
