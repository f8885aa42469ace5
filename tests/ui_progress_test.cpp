// The windows of long runs, with the real engine and cabinet writer: progress (labels; Cancel, Esc
// or closing stop a large copy promptly and cleanly, in the main window the whole run) and the
// archive's status (Cancel).
#include <sys/statvfs.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "queue/copyoperation.h"
#include "tests/scriptedprompts.h"
#include "tests/testsupport.h"
#include "ui/archive/frmstatus.h"
#include "ui/archive/makecab.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"

using namespace mivex;
using namespace mivex::test;
using namespace mivex::ui;

class ProgressTest : public QObject {
    Q_OBJECT

    static constexpr std::size_t kBigBytes = 512u << 20;
    std::unique_ptr<TempDir> mBigDir;
    std::string mBig;

private slots:
    void initTestCase() {
        // A source in memory is quick to make; containers often give /dev/shm only a few MB.
        struct statvfs shm {};
        const bool inMemory = ::statvfs("/dev/shm", &shm) == 0 && ::access("/dev/shm", W_OK) == 0 &&
                              shm.f_bavail * shm.f_frsize > 2 * kBigBytes;
        mBigDir = std::make_unique<TempDir>(inMemory ? "/dev/shm" : "");
        mBig = *mBigDir / "big.bin";
        writeFile(mBig, std::string(kBigBytes, 'x'));
        writeFile(*mBigDir / "next.txt", "next");
    }

    void resultsAndLabels() {
        TempDir src, dst;
        makeTree(src / "tree",
                 {{"a.txt", std::string(1000, 'a')}, {"sub/b.bin", randomBytes(2000, 3)}});
        frmProgress window;
        ShellOpRecord record{.pFrom = src / "tree", .pTo = dst.path()};
        QCOMPARE(window.run(record, 2, 5), 0);
        // The finished entry is shown within a refresh.
        QCOMPARE(window.windowTitle(), QStringLiteral("Processing files from your queue."));
        const auto label = [&](const char* name) {
            return window.findChild<QLabel*>(name)->text();
        };
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
    }
    // Once bytes flow (a temporary file sits at the destination), a stop ends the copy within a
    // second, leaving neither the file nor its temporary. In the main window it ends the whole
    // run (the next entry is not started) and the run is not reported as a success.
    void stopsPromptlyAndCleanly() {
        QFETCH(int, how);
        ScriptedPrompts prompts;
        TempDir dst;
        frmMain w;
        QPointer<frmProgress> window = how < 3 ? new frmProgress : nullptr;
        QElapsedTimer sinceStop;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] {
            frmProgress* shown = window ? window.data() : w.findChild<frmProgress*>();
            if (!shown || sinceStop.isValid() ||
                shown->findChild<QProgressBar*>("barBytes")->value() == 0) {
                return;
            }
            sinceStop.start();
            auto* cancel = shown->findChild<QPushButton*>("cmdCancel");
            if (how == 2) {
                delete shown;
                return;
            } else if (how == 1) {
                QTest::keyClick(shown, Qt::Key_Escape);
            } else {
                QTest::mouseClick(cancel, Qt::LeftButton);
            }
            QVERIFY(!cancel->isEnabled());
            QCOMPARE(cancel->text(), QStringLiteral("Cancelling..."));
        });
        timer.start(10);
        if (how == 3) {
            writeFile(*mBigDir / "q.flq", "C-N --> " + mBig + " --> " + dst.path() +
                                              "\r\nC-N --> " + *mBigDir / "next.txt" + " --> " +
                                              dst.path() + "\r\n");
            w.LoadQueueList(QString::fromStdString(*mBigDir / "q.flq"));
            QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
            QCOMPARE(prompts.texts(), QStringList{"Errors occurred during file copy operation"});
        } else {
            ShellOpRecord record{.pFrom = mBig, .pTo = dst.path()};
            QCOMPARE(window->run(record, 1, 2), 0);
            QVERIFY(record.fAnyOperationsAborted);
        }
        QVERIFY(sinceStop.isValid() && sinceStop.elapsed() < 1000);
        QCOMPARE(listTree(dst.path()), std::vector<std::string>{});
        QCOMPARE(window.isNull(), how >= 2);
        delete window;
    }

    // Writing shows the file being packed; Cancel leaves no file; the button stays disabled.
    void archiveWritingShowsProgressAndCancels() {
        ScriptedPrompts prompts;
        TempDir src, out;
        makeTree(src.path(), {{"1", randomBytes(8 << 20, 1)}, {"2", randomBytes(8 << 20, 2)}});
        prompts.answer = QString::fromStdString(out / "x.cab");
        frmMain w;
        w.show();
        w.dirSource->setPath(QString::fromStdString(src.path()));
        QTest::mouseClick(w.cmdAddFolder, Qt::LeftButton);
        QString packing;
        bool enabledDuringRun = false;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] {
            enabledDuringRun = enabledDuringRun || (archiveRunning() && w.cmdMakeCab->isEnabled());
            frmStatus* status = w.findChild<frmStatus*>();
            if (!packing.isEmpty() || !status || !status->isVisible() || !status->writing() ||
                status->barWrite->value() == 0) {
                return;  // until the first file's bytes are done
            }
            QVERIFY(status->lblStatus->updatesEnabled());
            packing = status->lblStatus->text();
            QTest::mouseClick(status->cmdCancel, Qt::LeftButton);
        });
        timer.start(5);
        QTest::mouseClick(w.cmdMakeCab, Qt::LeftButton);
        QVERIFY2(packing.startsWith(QString::fromStdString(src.path()) + "/"), qPrintable(packing));
        QVERIFY(!enabledDuringRun && w.cmdMakeCab->isEnabled());
        QVERIFY(prompts.shown.empty());
        QTRY_VERIFY(!w.findChild<frmStatus*>());
        QVERIFY(listTree(out.path()).empty());
    }
};

QTEST_MAIN(ProgressTest)
#include "ui_progress_test.moc"
