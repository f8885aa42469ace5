// The windows of long runs, with the real engine and cabinet writer: the progress window, how runs
// and archives stop, pause, skip and retry, and what the desktop and the rows hear of a run's end.
#include <sys/statvfs.h>

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QtDBus/QtDBus>

#include "platform/resultcodes.h"
#include "queue/copyoperation.h"
#include "tests/flipfsmount.h"
#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"
#include "ui/options/frmoptions.h"
#include "ui/usersettings.h"

using namespace mivex;
using namespace mivex::test;
using namespace mivex::ui;

// The desktop's notification service, as a stand-in on the test's private session bus.
class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList bodies;
public slots:
    uint Notify(const QString&, uint, const QString&, const QString&, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        bodies << body;
        return 7;
    }
};

class ProgressTest : public QObject {
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url) { mOpened = url; }

private:
    // The big file (a folder entry: the pool's threads) and a small one, run from the main window.
    void runQueue(frmMain& w, const std::string& dst,
                  const std::function<void(frmProgress*)>& during, const char* more = "") {
        ::mkdir((*mBigDir / "tree").c_str(), 0755);
        ::link(mBig.c_str(), (*mBigDir / "tree/big.bin").c_str());
        writeFile(*mBigDir / "q.flq", "C-N --> " + *mBigDir / "tree" + " --> " + dst +
                                          "\r\nC-N --> " + *mBigDir / "next.txt" + " --> " + dst +
                                          "\r\n" + more);
        w.LoadQueueList(QString::fromStdString(*mBigDir / "q.flq"));
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] {
            if (auto* shown = w.findChild<frmProgress*>(); shown && shown->isVisible()) {
                during(shown);
            }
        });
        timer.start(10);
        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
    }
    static bool moving(frmProgress* window) {
        return window->findChild<QProgressBar*>("barBytes")->value() > 0;
    }
    QString tip(frmMain& w, int row, int role = Qt::ToolTipRole) {
        return w.lstQueue->model()->index(row, 0).data(role).toString();
    }
    // Whether every row shows a mark, each unlike the others' (0 stands for none).
    static bool marksDrawnAndUnlike(frmMain& w) {
        QSet<qint64> marks{0};
        for (int row = 0; row < w.lstQueue->count(); ++row) {
            marks << w.lstQueue->model()
                         ->index(row, 0)
                         .data(Qt::DecorationRole)
                         .value<QIcon>()
                         .cacheKey();
        }
        return marks.size() == w.lstQueue->count() + 1;
    }

    QProcess mBus;
    QUrl mOpened;

    static constexpr std::size_t kBigBytes = 512u << 20;
    std::optional<TempDir> mBigDir;
    TempDir mConfig;  // the test's own settings
    std::string mBig;

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(mConfig.path()));
        // A private session bus for the notification, before anything asks for the bus.
        mBus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (mBus.waitForReadyRead(5000)) {
            qputenv("DBUS_SESSION_BUS_ADDRESS", mBus.readLine().trimmed());
        }
        QDesktopServices::setUrlHandler("file", this, "openUrl");
        // A source in memory is quick to make; containers often give /dev/shm only a few MB.
        struct statvfs shm {};
        const bool inMemory =
            ::statvfs("/dev/shm", &shm) == 0 && shm.f_bavail * shm.f_frsize > 2 * kBigBytes;
        mBigDir.emplace(inMemory ? "/dev/shm" : "");
        mBig = *mBigDir / "big.bin";
        writeFile(mBig, std::string(kBigBytes, 'x'));
        writeFile(*mBigDir / "next.txt", "next");
    }

    void resultsAndLabels() {
        TempDir src, dst;
        plantTree(src / "tree",
                  {"a.txt=" + std::string(1000, 'a'), "sub/b.bin=" + randomBytes(2000, 3)});
        frmProgress window;
        ShellOpRecord record{.pFrom = src / "tree", .pTo = dst.path()};
        QCOMPARE(window.run(record, 2, 5), 0);
        // The finished entry is shown within a refresh.
        const auto label = [&](const char* n) { return window.findChild<QLabel*>(n)->text(); };
        QTRY_COMPARE(label("lblBytes"), QStringLiteral("2.9 KB of 2.9 KB"));
        QCOMPARE(label("lblEntry"), QStringLiteral("Entry 2 of 5"));
        QCOMPARE(label("lblFiles"), QStringLiteral("2 of 2 files"));
        QCOMPARE(window.findChild<QProgressBar*>("barBytes")->value(), 1000);
        // A failure's code comes back from the worker; the next entry starts afresh.
        ShellOpRecord missing{.pFrom = src / "nothing-here", .pTo = dst.path()};
        QCOMPARE(window.run(missing, 3, 5), 2);
        QTRY_COMPARE(label("lblEntry"), QStringLiteral("Entry 3 of 5"));
    }

    // What a skip leaves undone is taken off the whole run: after the big file is skipped and the
    // small one copied, the run is whole at what was done, not at the big file's size.
    void skippedBytesLeaveTheWholeRun() {
        TempDir dst;
        frmProgress window;
        window.beginRun({"C-N --> " + mBig + " --> " + dst.path(),
                         "C-N --> " + *mBigDir / "next.txt" + " --> " + dst.path()});
        QTimer skip;
        connect(&skip, &QTimer::timeout, [&] {
            if (moving(&window)) {
                QTest::mouseClick(window.findChild<QPushButton*>("cmdSkip"), Qt::LeftButton);
            }
        });
        skip.start(10);
        ShellOpRecord big{.pFrom = mBig, .pTo = dst.path()};
        QCOMPARE(window.run(big, 1, 2), kSkipped);
        skip.stop();
        ShellOpRecord small{.pFrom = *mBigDir / "next.txt", .pTo = dst.path()};
        QCOMPARE(window.run(small, 2, 2), 0);
        const auto* run = window.findChild<QLabel*>("lblRun");
        QTRY_VERIFY2(run->text().endsWith(", 1 of 1 files"), qPrintable(run->text()));
        const QStringList sizes = run->text().section(", ", 0, 0).mid(11).split(" of ");
        QVERIFY2(sizes.size() == 2 && sizes[0] == sizes[1] && sizes[0] != "512.0 MB",
                 qPrintable(run->text()));
        QCOMPARE(window.findChild<QProgressBar*>("barRun")->value(), 1000);
    }

    void stopsPromptlyAndCleanly_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("Cancel button") << 0;
        QTest::newRow("Esc key") << 1;
        QTest::newRow("window deleted") << 2;
        QTest::newRow("Cancel in the main window") << 3;
        QTest::newRow("Cancel of an archive") << 4;
    }
    // Once bytes flow, a stop ends the work within a second, leaving no file, not even a temporary
    // one; in the main window it ends the whole run (the next entry not started), not a success.
    void stopsPromptlyAndCleanly() {
        QFETCH(int, how);
        ScriptedPrompts prompts;
        prompts.choices = {"Yes"};  // Esc asks before it stops
        TempDir dst;
        prompts.answer = QString::fromStdString(dst / "x.cab");
        frmMain w;
        QPointer<frmProgress> window = how < 3 ? new frmProgress : nullptr;
        QElapsedTimer sinceStop;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] {
            QWidget* shown = how < 3    ? window.data()
                             : how == 4 ? w.findChild<QWidget*>("frmStatus")
                                        : w.findChild<frmProgress*>();
            auto* bar = shown ? shown->findChild<QProgressBar*>(how < 4 ? "barBytes" : "barWrite")
                              : nullptr;
            if (!bar || !bar->isVisible() || sinceStop.isValid() || bar->value() == 0) {
                return;
            }
            sinceStop.start();
            auto* cancel = shown->findChild<QPushButton*>("cmdCancel");
            if (how == 2) {
                delete shown;
            } else if (how == 1) {
                QTest::keyClick(shown, Qt::Key_Escape);
            } else {
                QTest::mouseClick(cancel, Qt::LeftButton);
                QVERIFY(how == 4 || (!cancel->isEnabled() && cancel->text() == "Cancelling..."));
            }
        });
        timer.start(10);
        if (how == 4) {
            TempDir src;  // the bar moves once a file is packed
            plantTree(src.path(), {"1=" + randomBytes(8 << 20, 1), "2=" + randomBytes(8 << 20, 2)});
            w.dirSource->setPath(QString::fromStdString(src.path()));
            QTest::mouseClick(w.cmdAddFolder, Qt::LeftButton);
            QTest::mouseClick(w.cmdMakeCab, Qt::LeftButton);
            QVERIFY(w.cmdMakeCab->isEnabled());
            QTRY_VERIFY(!w.findChild<QWidget*>("frmStatus"));
        } else if (how == 3) {
            writeFile(*mBigDir / "q.flq", "C-N --> " + mBig + " --> " + dst.path() +
                                              "\r\nC-N --> " + *mBigDir / "next.txt" + " --> " +
                                              dst.path() + "\r\n");
            w.LoadQueueList(QString::fromStdString(*mBigDir / "q.flq"));
            QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        } else {
            ShellOpRecord record{.pFrom = mBig, .pTo = dst.path()};
            QCOMPARE(window->run(record, 1, 2), 0);
            QVERIFY(record.fAnyOperationsAborted);
        }
        QVERIFY(sinceStop.isValid() && sinceStop.elapsed() < 1000);
        QCOMPARE(listTree(dst.path()), std::vector<std::string>{});
        // Esc asked first (answered Yes).
        QCOMPARE(prompts.texts().join('|').contains("Stop the run?"), how == 1);
        QCOMPARE(prompts.texts().contains("Errors occurred during file copy operation"), how == 3);
        QCOMPARE(window.isNull(), how >= 2);
        delete window;
        if (how == 3) {
            QVERIFY2(prompts.shown.back().details.startsWith(
                         "line 1: C-N --> " + QString::fromStdString(mBig) + " --> " +
                         QString::fromStdString(dst.path()) +
                         ": the run was stopped during this entry\nThe run was stopped;"),
                     qPrintable(prompts.shown.back().details));
            QCOMPARE(tip(w, 0), QStringLiteral("stopped: the run was stopped during this entry"));
            QCOMPARE(tip(w, 1, Qt::AccessibleDescriptionRole),
                     QStringLiteral("not run: the run was stopped"));
            // Marked, stopped and not run; a moved row loses its mark, and its text stays.
            QVERIFY(marksDrawnAndUnlike(w));
            w.lstQueue->setCurrentRow(0);
            for (QAction* action : w.lstQueue->actions()) {
                if (action->shortcut() == QKeySequence(Qt::ALT | Qt::Key_Down)) {
                    action->trigger();
                }
            }
            const QAbstractItemModel* rows = w.lstQueue->model();
            QVERIFY(!rows->index(0, 0).data(Qt::DecorationRole).isValid() &&
                    !rows->index(1, 0).data(Qt::DecorationRole).isValid());
            QVERIFY(tip(w, 0, Qt::DisplayRole)
                        .endsWith("next.txt --> " + QString::fromStdString(dst.path())));
        }
    }

    // Esc asks first, and answered No the run goes on. While paused, the destination's filesystem
    // stands still (a private tmpfs: every byte written, named or not, shows in its free space);
    // after Resume the run completes.
    void pauseHoldsEveryWriter() {
        TmpfsMount dst(2 * kBigBytes);
        if (!dst.ok()) {
            QSKIP(dst.reason().c_str());
        }
        ScriptedPrompts prompts;  // Esc's question answered No
        frmMain w;
        std::optional<std::uint64_t> heldAt;
        QElapsedTimer paused;
        bool stoodStill = false;
        const auto used = [&] {
            struct statvfs st {};
            ::statvfs(dst.path().c_str(), &st);
            return (st.f_blocks - st.f_bfree) * st.f_frsize;
        };
        runQueue(w, dst.path(), [&](frmProgress* window) {
            auto* pause = window->findChild<QPushButton*>("cmdPause");
            if (!paused.isValid() && moving(window)) {
                QTest::keyClick(window, Qt::Key_Escape);
                QTest::mouseClick(pause, Qt::LeftButton);
                paused.start();
            } else if (paused.isValid() && !heldAt && paused.elapsed() > 300) {
                heldAt = used();  // the chunk in hand has landed by now
            } else if (heldAt && !stoodStill && paused.elapsed() > 1800) {
                QCOMPARE(used(), *heldAt);
                QCOMPARE(window->findChild<QLabel*>("lblSpeed")->text(), QStringLiteral("Paused"));
                // The whole run (two files) counted beside it; its share in the title.
                QVERIFY(window->findChild<QLabel*>("lblRun")->text().endsWith(" of 2 files"));
                QVERIFY(window->windowTitle().endsWith("% Processing files from your queue."));
                stoodStill = true;
                QTest::mouseClick(pause, Qt::LeftButton);
            }
        });
        QVERIFY(stoodStill);
        QVERIFY(prompts.texts().value(0).startsWith("Stop the run?"));
        QCOMPARE(prompts.texts().mid(1), QStringList("Files copied successfully"));
        QCOMPARE(lstatOf(dst / "tree/big.bin").st_size, static_cast<off_t>(kBigBytes));
    }

    // Skip ends the folder entry unfinished and the next row runs; the closing box names what it
    // left; Retry Failed takes up only that row and carries on in the copy it began ("tree -
    // Copy"), leaving no second one. Out of sight, the desktop hears of the end of each run.
    void skipThenRetryCarriesOn() {
        Notifications service;
        QDBusConnection::sessionBus().registerObject("/org/freedesktop/Notifications", &service,
                                                     QDBusConnection::ExportAllSlots);
        QVERIFY(QDBusConnection::sessionBus().registerService("org.freedesktop.Notifications"));
        ScriptedPrompts prompts;
        prompts.choices = QStringList{"Continue", "Retry Failed"};  // once: the row fails again
        QStringList tips;
        frmMain w;
        prompts.beforeChoice = [&] {
            if (!prompts.offered.contains("Retry Failed")) {
                return;  // the question before the run
            }
            if (!tips.isEmpty()) {
                prompts.choices.removeLast();
            }
            for (int row = 0; row < 3; ++row) {
                tips << tip(w, row, row == 2 ? Qt::AccessibleDescriptionRole : Qt::ToolTipRole);
            }
            if (tips.size() == 3) {
                QVERIFY(marksDrawnAndUnlike(w));  // skipped, copied, failed
            }
        };
        TempDir dst;
        ::mkdir((dst / "tree").c_str(), 0755);  // taken: the entry claims "tree - Copy"
        QWidget elsewhere;                      // the window the user went on to
        runQueue(
            w, dst.path(),
            [&](frmProgress* window) {
                if (!elsewhere.isVisible()) {
                    elsewhere.show();
                    elsewhere.activateWindow();
                }
                if (auto* skip = window->findChild<QPushButton*>("cmdSkip");
                    skip->isEnabled() && moving(window) && prompts.shown.size() == 1) {
                    // Only the question before the run (a source is missing) was shown so far.
                    QTest::mouseClick(skip, Qt::LeftButton);
                }
            },
            "C-N --> /nowhere/gone.doc --> /tmp\r\n");
        QCOMPARE(prompts.texts().mid(1),
                 QStringList(2, "Errors occurred during file copy operation"));
        const QString left = "; left unfinished in " + QString::fromStdString(dst / "tree - Copy");
        QCOMPARE(tips, QStringList({"skipped" + left, "copied",
                                    "failed: the source does not exist (code 2)", "copied",
                                    "copied", "failed: the source does not exist (code 2)"}));
        const QString details = prompts.shown[1].details;
        QVERIFY2(details.contains("line 1 was left unfinished in " +
                                  QString::fromStdString(dst / "tree - Copy")) &&
                     details.contains("skipped") && details.contains("(code 1235)"),
                 qPrintable(details));
        QCOMPARE(prompts.offered, QStringList({"OK", "Open Run Log", "Retry Failed"}));
        QCOMPARE(listTree(dst.path()),
                 (Names{"next.txt", "tree - Copy/", "tree - Copy/big.bin", "tree/"}));
        // The retry was watched: its window was the active one as it ended. The notification's
        // action brings the window back.
        QTRY_COMPARE(service.bodies, QStringList("1 entry done, 2 failed"));
        QDBusConnection::sessionBus().send(
            QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", "ActionInvoked")
            << 7u << QString("default"));
        QTRY_VERIFY(w.isVisible());
        prompts.beforeChoice = nullptr;
        prompts.choices = QStringList{"Continue", "Open Run Log"};
        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        QVERIFY(mOpened.toLocalFile().endsWith("-log.txt"));
    }

    // Verify, chosen in the defaults (and kept in the settings), reaches the window's runs. On a
    // filesystem that keeps a wrong byte, a run without it succeeds with a wrong copy; with it the
    // entry fails with its own code, the file it would replace stays, and the details name it.
    void verifyRefusesAWrongCopy() {
        TempDir root, src;
        FlipFsMount flipfs(root.path());
        if (!flipfs.ok()) {
            QSKIP(flipfs.reason().c_str());
        }
        writeFile(src / "a.flip.bin", randomBytes(70000, 1));
        writeFile(src / "q.flq",
                  "C-O --> " + src / "a.flip.bin" + " --> " + flipfs.path() + "\r\n");
        ScriptedPrompts prompts;
        frmMain w;
        for (const bool verify : {false, true}) {
            frmOptions defaults(&w, w.optionsContext());
            defaults.SetupForm(QStringLiteral("Defaults"));
            defaults.chkVerify->setChecked(verify);
            defaults.OKButton_Click();
            w.LoadQueueList(QString::fromStdString(src / "q.flq"));
            QCOMPARE(w.CopyOperation(), !verify);
            QVERIFY(readFile(root / "a.flip.bin") != readFile(src / "a.flip.bin"));
        }
        const QString details = w.runDetails();
        QVERIFY2(details.contains("(code 23); the file: ") && details.contains("a.flip.bin\n"),
                 qPrintable(details));
        settings::setVerify(false);
    }

    // The limit the user last chose paces the window's run from its start: the entry's bar moves
    // no faster than it allows. Lifted from the keyboard, the run goes on unlimited, and the
    // window's next run starts without a limit.
    void speedLimitPacesTheRunAndIsKept() {
        TempDir dst;
        ScriptedPrompts prompts;
        settings::setSpeedLimit(1u << 20);
        frmMain w;
        QElapsedTimer sinceStart;
        sinceStart.start();
        bool lifted = false;
        runQueue(w, dst.path(), [&](frmProgress* window) {
            auto* limit = window->findChild<QSpinBox*>("spnLimit");
            if (lifted || sinceStart.elapsed() < 2000) {
                return;
            }
            lifted = true;
            QCOMPARE(limit->value(), 1);
            const double seconds = sinceStart.elapsed() / 1000.0;
            const double written =
                window->findChild<QProgressBar*>("barBytes")->value() / 1000.0 * kBigBytes;
            // A second's credit and a block in hand at most beyond the pace.
            QVERIFY2(written <= (seconds + 2) * (1 << 20), qPrintable(QString::number(written)));
            QTest::keyClick(limit, Qt::Key_Down);
            QCOMPARE(window->rateLimit()->rate(), 0u);
        });
        QVERIFY(lifted && settings::speedLimit() == 0);
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler("file");
        mBus.kill();
        mBus.waitForFinished();
    }
};

QTEST_MAIN(ProgressTest)
#include "ui_progress_test.moc"
