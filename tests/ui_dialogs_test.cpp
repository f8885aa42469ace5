// The options dialog and every window's controls, offscreen: both uses of the options dialog
// against a real queue, answered from the keyboard; captions and overlaps.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>

#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/archive/frmstatus.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmabout.h"
#include "ui/main/frmhelp.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"
#include "ui/options/frmoptions.h"

using namespace mivex;
using namespace mivex::ui;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// The queue's rows, as the store holds them and as the list shows them.
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

class DialogsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::ScriptedPrompts> prompts;
    std::unique_ptr<test::TempDir> scratch;

    void load(frmMain& w, const QStringList& rows) {
        test::writeFile(*scratch / "q.flq", (rows.join("\r\n") + "\r\n").toStdString());
        w.LoadQueueList(q(*scratch / "q.flq"));
    }

private slots:
    void init() {
        prompts = std::make_unique<test::ScriptedPrompts>();
        scratch = std::make_unique<test::TempDir>();
        frmMain::gLogPath = scratch->path();
    }
    void cleanup() {
        prompts.reset();
        scratch.reset();
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
            QCOMPARE(rowsOf(w), c.after.isEmpty() ? c.rows : c.after);
            QCOMPARE(prompts->texts(),
                     QStringList(c.refused, "This operation already exists in the queue."));
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
            QVERIFY(d.txtPath->isReadOnly() && d.txtPath->text() == q(scratch->path()));
            d.optCopy[1]->click();
            d.optOverwrite[1]->click();
            d.OKButton->click();
        }
        w.dirSource->setPath(q(src.path()));
        w.dirDest->setPath(q(dst.path()));
        w.AddToQueue(QStringLiteral("Folder"));
        QCOMPARE(rowsOf(w), QStringList({"C-N --> /a --> /b",
                                         q("M-O --> " + src.path() + " --> " + dst.path())}));
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

QTEST_MAIN(DialogsTest)
#include "ui_dialogs_test.moc"
