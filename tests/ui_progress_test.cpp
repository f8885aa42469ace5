// The windows of long runs, with the real engine and cabinet writer: the progress window's labels,
// and how Cancel, Esc or closing stop a large copy, a whole run or an archive promptly and cleanly.
#include <sys/statvfs.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "queue/copyoperation.h"
#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"

using namespace mivex;
using namespace mivex::test;
using namespace mivex::ui;

class ProgressTest : public QObject {
    Q_OBJECT

    static constexpr std::size_t kBigBytes = 512u << 20;
    std::optional<TempDir> mBigDir;
    std::string mBig;

private slots:
    void initTestCase() {
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
    }
};

QTEST_MAIN(ProgressTest)
#include "ui_progress_test.moc"
