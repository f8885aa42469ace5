// One window per session, on a private session bus (dbus-run-session): later starts of the window
// program hand their list or their --enqueue paths to this test's window and end, and give up
// in bounded time on a name owner that does not answer as a window does.
#include <linux/magic.h>
#include <signal.h>
#include <sys/vfs.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/main/frmmain.h"
#include "ui/session.h"

using namespace mivex;
using ui::toQ;

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
    {{"--enqueue", "--to", "b", "c"}, 1, {}, {"b\" is not a folder"}},  // a file as destination
    {{"--enqueue", "--to"}, 2, {}, {}},  // a mistake: nothing asked of the window
};

// Runs the window program with `args` in `folder`, the event loop turning, until it ends (at
// most 30 s): its exit status (-1: still running) and what it said on standard error.
std::pair<int, QString> ended(const std::string& folder, const QStringList& args) {
    QProcess start;
    start.setWorkingDirectory(QString::fromStdString(folder));
    start.start(QStringLiteral(MIVEX_GUI), args);
    for (QDeadlineTimer limit(30000);
         start.state() != QProcess::NotRunning && !limit.hasExpired();) {
        QTest::qWait(20);
    }
    const int status = start.state() == QProcess::NotRunning ? start.exitCode() : -1;
    return {status, QString::fromLocal8Bit(start.readAllStandardError())};
}

bool nameOwned() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QString::fromLatin1(ui::kBusName));
}

class SessionTest : public QObject {
    Q_OBJECT
private slots:
    // The name owned by a window that is stopped (SIGSTOP: it never answers), or by another
    // program (it answers, but not as a window does): --enqueue gives up within its bounded wait,
    // says so, and ends with the status that nothing was queued.
    void enqueueGivesUpOnAnOwnerThatIsNoAnsweringWindow() {
        test::TempDir data;
        test::plantTree(data.path(), {"a.txt=a"});
        const QStringList enqueue{"--enqueue", "a.txt"};
        QProcess window;
        window.start(QStringLiteral(MIVEX_GUI), {});
        QTRY_VERIFY_WITH_TIMEOUT(nameOwned(), 30000);
        ::kill(static_cast<pid_t>(window.processId()), SIGSTOP);
        auto [status, errors] = ended(data.path(), enqueue);
        QCOMPARE(status, ui::kNotQueuedStatus);
        QVERIFY2(errors.contains("did not answer within"), qPrintable(errors));
        ::kill(static_cast<pid_t>(window.processId()), SIGCONT);
        window.kill();
        QVERIFY(window.waitForFinished(30000));
        QTRY_VERIFY_WITH_TIMEOUT(!nameOwned(), 30000);

        QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "other");
        QVERIFY(other.interface()->registerService(QString::fromLatin1(ui::kBusName)).isValid());
        std::tie(status, errors) = ended(data.path(), enqueue);
        QCOMPARE(status, ui::kNotQueuedStatus);
        QVERIFY2(errors.contains("is not a Mivex window"), qPrintable(errors));
        QVERIFY(other.interface()->unregisterService(QString::fromLatin1(ui::kBusName)));
        QTRY_VERIFY_WITH_TIMEOUT(!nameOwned(), 30000);
    }
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
            const auto [status, errors] = ended(data.path(), s.args);
            QCOMPARE(status, s.status);
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

    // A path on a filesystem that stalls (its FUSE daemon stopped): the window looks at it off
    // its thread, keeps answering, and says within its bound that it could not; nothing is queued.
    void enqueueOfAStalledPathIsAnsweredInTime() {
        test::TempDir image, stick;
        const std::string fat = image / "fat.img";
        if (test::runProcess({"truncate", "-s", "8M", fat}).exitCode != 0 ||
            test::runProcess({"/usr/sbin/mkfs.vfat", fat}).exitCode != 0) {
            QSKIP("no mkfs.vfat");
        }
        QProcess daemon;  // in the foreground, so that this test may stop it
        daemon.start(QStringLiteral("fusefat"), {"-f", "-o", "rw+", toQ(fat), toQ(stick.path())});
        daemon.waitForStarted();
        struct statfs fs {};
        QTRY_VERIFY_WITH_TIMEOUT(
            daemon.state() != QProcess::Running ||
                (::statfs(stick.path().c_str(), &fs) == 0 && fs.f_type == FUSE_SUPER_MAGIC),
            30000);
        if (daemon.state() != QProcess::Running) {
            QSKIP(qPrintable("fusefat could not mount a FAT image: " + daemon.readAll()));
        }
        std::ofstream(stick / "a.txt") << "a";  // (FAT takes no chmod)
        test::ScriptedPrompts prompts;
        ui::frmMain window;
        QVERIFY(ui::serveSession(window));
        const QString daemonPid = QString::number(daemon.processId());
        ::kill(static_cast<pid_t>(daemon.processId()), SIGSTOP);
        // Resumed from outside as well: a window that looked on its own thread would hold the
        // test for good.
        QProcess resume;
        resume.start(QStringLiteral("sh"), {"-c", "sleep 20; kill -CONT " + daemonPid});
        const auto [status, errors] = ended(image.path(), {"--enqueue", toQ(stick / "a.txt")});
        ::kill(static_cast<pid_t>(daemon.processId()), SIGCONT);
        QCOMPARE(status, ui::kNotQueuedStatus);
        QVERIFY2(errors.contains("could not look at the paths"), qPrintable(errors));
        QTest::qWait(500);  // the late look is over: its answer and its entry are dropped
        QVERIFY(window.queue().rows().empty());
        QVERIFY(prompts.texts().isEmpty());
        resume.kill();
        resume.waitForFinished();
        test::runProcess({"fusermount", "-u", stick.path()});
        QVERIFY(daemon.waitForFinished(30000));
    }
};

}  // namespace

QTEST_MAIN(SessionTest)
#include "ui_session_test.moc"
