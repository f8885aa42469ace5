// One window per session, on a private session bus (dbus-run-session): later starts of the window
// program hand their list or their --enqueue paths to this test's window and end.
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/main/frmmain.h"
#include "ui/session.h"

using namespace mivex;

namespace {

// A later start, in the data folder: its arguments, exit status, the queue after it (paths below
// the data folder relative), and each refusal, said both on standard error and in the window.
struct Start {
    QStringList args;
    int status;
    QStringList rows, refused;
};
const QStringList kRows{"C-N --> src/a.txt --> dst", "C-N --> src/sub --> dst"};
const Start kStarts[] = {
    {{"l.flq"}, 0, kRows.mid(0, 1), {}},
    {{"--enqueue", "--to", "dst", "src/a.txt", "src/sub/", "gone", "-auto"},
     1,
     kRows,
     {"This file operation cannot", "gone does not exist", "-auto does not exist"}},
    {{"--enqueue", "--move", "--overwrite", "--to", "src", "src/a.txt", "src/sub"},
     1,
     kRows + QStringList{"M-O --> src/sub --> src"},
     {"Source and destination are the same!"}},
    {{"--enqueue", "--to"}, 2, {}, {}},  // a mistake: nothing asked of the window
};

class SessionTest : public QObject {
    Q_OBJECT
private slots:
    void laterStartsHandTheirWorkOver() {
        test::TempDir data;
        test::plantTree(data.path(), {"src/a.txt=a", "src/sub/", "dst/", "b=b", "c=c"});
        test::writeFile(data / "l.flq", "C-N --> " + data / "src/a.txt --> " + data / "dst\r\n");
        test::ScriptedPrompts prompts;
        ui::frmMain window;
        QVERIFY(ui::serveSession(window));
        window.show();
        QStringList rows;
        for (const Start& s : kStarts) {
            rows = s.rows.isEmpty() ? rows : s.rows;
            prompts.shown.clear();
            QProcess start;
            start.setWorkingDirectory(QString::fromStdString(data.path()));
            start.start(QStringLiteral(MIVEX_GUI), s.args);
            QTRY_VERIFY_WITH_TIMEOUT(start.state() == QProcess::NotRunning, 30000);
            QCOMPARE(start.exitCode(), s.status);
            const QString errors = QString::fromLocal8Bit(start.readAllStandardError());
            QTRY_COMPARE(prompts.texts().size(), s.refused.size());  // told after the answer
            for (qsizetype i = 0; i < s.refused.size(); ++i) {
                QVERIFY2(errors.contains(s.refused[i]) && prompts.texts()[i].contains(s.refused[i]),
                         qPrintable(errors));
            }
            QStringList queued;
            for (const std::string& row : window.queue().rows()) {
                queued << QString::fromStdString(row).remove(QString::fromStdString(data / ""));
            }
            QCOMPARE(queued, rows);
        }
        // Handed over while the Save dialog is open: in the list saved.
        prompts.answer = QString::fromStdString(data / "saved.flq");
        prompts.beforeChoice = [&] {
            ui::enqueueInto(window, {data / "dst", "", "", {data / "b"}, {}});
        };
        window.cmdSave->click();
        QVERIFY(test::readFile(data / "saved.flq").ends_with(data / "b --> " + data / "dst\r\n"));
        // And while Load's: the queue is not dropped unasked.
        prompts.beforeChoice = [&] {
            ui::enqueueInto(window, {data / "dst", "", "", {data / "c"}, {}});
        };
        window.cmdLoad->click();
        QCOMPARE(prompts.texts().filter("have not been saved").size(), 1);
    }
};

}  // namespace

QTEST_MAIN(SessionTest)
#include "ui_session_test.moc"
