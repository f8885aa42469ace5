// The windows of long runs with the real engine and the real cabinet writer: the progress window
// (results and labels; Cancel, Esc or closing stop a large copy promptly and cleanly while the
// interface keeps turning) and the archive's status window (Cancel while the cabinet is written).
#include <sys/statvfs.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
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

namespace {

constexpr std::size_t kBigBytes = 512u << 20;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

ShellOpRecord copyRecord(const std::string& from, const std::string& to) {
    ShellOpRecord record;
    record.pFrom = from;
    record.pTo = to;
    return record;
}

// Calls `tick` every `ms` on the user-interface thread while `run` runs.
template <typename Run>
auto watched(int ms, const std::function<void()>& tick, Run run) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, tick);
    timer.start(ms);
    return run();
}

}  // namespace

class ProgressTest : public QObject {
    Q_OBJECT

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
        const std::string chunk = randomBytes(8u << 20, 7);
        std::string big;
        while (big.size() < kBigBytes) {
            big += chunk;
        }
        writeFile(mBig, big);
    }

    void resultsAndLabels() {
        TempDir src, dst;
        makeTree(src / "tree",
                 {{"a.txt", std::string(1000, 'a')}, {"sub/b.bin", randomBytes(2000, 3)}});
        frmProgress window;
        ShellOpRecord record = copyRecord(src / "tree", dst.path());
        QCOMPARE(window.run(record, 2, 5), 0);
        // The finished entry is shown within a refresh.
        QCOMPARE(window.windowTitle(), QStringLiteral("Processing files from your queue."));
        QTRY_COMPARE(window.findChild<QLabel*>("lblBytes")->text(),
                     QStringLiteral("2.9 KB of 2.9 KB"));
        QCOMPARE(window.findChild<QLabel*>("lblEntry")->text(), QStringLiteral("Entry 2 of 5"));
        QCOMPARE(window.findChild<QLabel*>("lblFiles")->text(), QStringLiteral("2 of 2 files"));
        QCOMPARE(window.findChild<QProgressBar*>("barBytes")->value(), 1000);
        // A failure's code comes back from the worker; the next entry starts afresh.
        ShellOpRecord missing = copyRecord(src / "nothing-here", dst.path());
        QCOMPARE(window.run(missing, 3, 5), 2);
        QTRY_COMPARE(window.findChild<QLabel*>("lblEntry")->text(), QStringLiteral("Entry 3 of 5"));
    }

    void stopsPromptlyAndCleanly_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("Cancel button") << 0;
        QTest::newRow("Esc key") << 1;
        QTest::newRow("window deleted") << 2;
    }
    void stopsPromptlyAndCleanly() {
        QFETCH(int, how);
        TempDir dst;
        QPointer<frmProgress> window = new frmProgress;
        auto* cancel = window->findChild<QPushButton*>("cmdCancel");
        ShellOpRecord record = copyRecord(mBig, dst.path());
        QElapsedTimer sinceStop;
        const auto tick = [&] {
            // Once bytes flow, a temporary file sits at the destination.
            if (!window || sinceStop.isValid() ||
                window->findChild<QProgressBar*>("barBytes")->value() == 0) {
                return;
            }
            sinceStop.start();
            if (how == 0) {
                QTest::mouseClick(cancel, Qt::LeftButton);
            } else if (how == 1) {
                QTest::keyClick(window, Qt::Key_Escape);
            } else {
                delete window;
            }
        };
        QCOMPARE(watched(10, tick, [&] { return window->run(record, 1, 2); }), 0);
        QVERIFY(sinceStop.isValid() && sinceStop.elapsed() < 1000);
        QVERIFY(record.fAnyOperationsAborted);
        // Neither the file nor its hidden temporary is left behind.
        QCOMPARE(listTree(dst.path()), std::vector<std::string>{});
        if (how == 2) {
            QVERIFY(!window);
            return;
        }
        QVERIFY(!cancel->isEnabled());
        QCOMPARE(cancel->text(), QStringLiteral("Cancelling..."));
        delete window;
    }

    // Cancel ends the whole run from the main window: the next entry is not started, and the run
    // is not reported as a success.
    void cancelEndsTheRun() {
        ScriptedPrompts prompts;
        TempDir src, dst;
        writeFile(src / "next.txt", "next");
        writeFile(src / "q.flq", "C-N --> " + mBig + " --> " + dst.path() + "\r\nC-N --> " +
                                     src / "next.txt" + " --> " + dst.path() + "\r\n");
        frmMain w;
        w.LoadQueueList(q(src / "q.flq"));
        const auto tick = [&] {
            auto* bar = w.findChild<QProgressBar*>("barBytes");
            if (bar && bar->value() > 0 && bar->window()->isVisible()) {
                QTest::keyClick(bar->window(), Qt::Key_Escape);
            }
        };
        watched(10, tick, [&] { QTest::mouseClick(w.cmdCopy, Qt::LeftButton); });
        QCOMPARE(prompts.texts(), QStringList{"Errors occurred during file copy operation"});
        QCOMPARE(listTree(dst.path()), std::vector<std::string>{});
    }

    // Writing shows the file being packed and how far the cabinet is; Cancel stops it and leaves
    // no file; the button stays disabled for the whole run.
    void archiveWritingShowsProgressAndCancels() {
        ScriptedPrompts prompts;
        TempDir src, out;
        makeTree(src.path(), {{"1", randomBytes(8 << 20, 1)}, {"2", randomBytes(8 << 20, 2)}});
        prompts.answer = q(out / "x.cab");
        frmMain w;
        w.show();
        w.dirSource->setPath(q(src.path()));
        QTest::mouseClick(w.cmdAddFolder, Qt::LeftButton);
        QString packing;
        bool enabledDuringRun = false;
        const auto tick = [&] {
            enabledDuringRun = enabledDuringRun || (archiveRunning() && w.cmdMakeCab->isEnabled());
            frmStatus* status = w.findChild<frmStatus*>();
            if (!packing.isEmpty() || !status || !status->isVisible() || !status->writing() ||
                status->barWrite->value() == 0) {
                return;  // until the first file's bytes are done
            }
            QVERIFY(status->lblStatus->updatesEnabled());
            packing = status->lblStatus->text();
            QTest::mouseClick(status->cmdCancel, Qt::LeftButton);
        };
        watched(5, tick, [&] { QTest::mouseClick(w.cmdMakeCab, Qt::LeftButton); });
        QVERIFY2(packing.startsWith(q(src.path()) + "/"), qPrintable(packing));
        QVERIFY(!enabledDuringRun && w.cmdMakeCab->isEnabled());
        QVERIFY(prompts.shown.empty());
        QTRY_VERIFY(!w.findChild<frmStatus*>());
        QVERIFY(listTree(out.path()).empty());
    }
};

QTEST_MAIN(ProgressTest)
#include "ui_progress_test.moc"
