// One window per session, on a private session bus (dbus-run-session): later starts of the window
// program hand their list or their --enqueue paths to this test's window and end.
#include <QProcess>
#include <QTest>

#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/main/frmmain.h"
#include "ui/session.h"

using namespace mivex;

namespace {

// A later start, in the data folder: its arguments, exit status, the queue after it (paths below
// the data folder relative), what it said on standard error and the window in its messages.
struct Start {
    QStringList args;
    int status;
    QStringList rows, errors, said;
};
const Start kStarts[] = {
    {{"l.flq"}, 0, {"C-N --> src/a.txt --> dst"}, {}, {}},
    {{"--enqueue", "--to", "dst", "src/a.txt", "src/sub/", "gone", "-auto"},
     1,
     {"C-N --> src/a.txt --> dst", "C-N --> src/sub --> dst"},
     {"src/a.txt: This file operation cannot", "gone does not exist", "-auto does not exist"},
     {"This file operation cannot", "gone does not exist", "-auto does not exist"}},
    {{"--enqueue", "--move", "--overwrite", "--to", "src", "src/a.txt", "src/sub"},
     1,
     {"C-N --> src/a.txt --> dst", "C-N --> src/sub --> dst", "M-O --> src/sub --> src"},
     {"src/a.txt: Source and destination are the same!"},
     {"Source and destination are the same!"}},
    {{"--enqueue", "--to"}, 2, {}, {"--to needs a folder"}, {}},
};

class SessionTest : public QObject {
    Q_OBJECT
private slots:
    void laterStartsHandTheirWorkOver() {
        test::TempDir data;
        test::plantTree(data.path(), {"src/a.txt=a", "src/sub/", "dst/"});
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
            for (const QString& e : s.errors) {
                QVERIFY2(errors.contains(e), qPrintable(errors));
            }
            QTRY_COMPARE(prompts.texts().size(), s.said.size());  // told once the call is answered
            for (qsizetype i = 0; i < s.said.size(); ++i) {
                QVERIFY(prompts.texts()[i].contains(s.said[i]));
            }
            QStringList queued;
            for (const std::string& row : window.queue().rows()) {
                queued << QString::fromStdString(row).replace(QString::fromStdString(data / ""),
                                                              "");
            }
            QCOMPARE(queued, rows);
        }
    }
};

}  // namespace

QTEST_MAIN(SessionTest)
#include "ui_session_test.moc"
