// The progress window with the real transfer engine: results come back, the user interface keeps
// turning during a long copy, and Cancel (or closing the window) stops the transfer promptly and
// cleanly.
#include <fcntl.h>
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
#include "tests/testsupport.h"
#include "ui/main/frmprogress.h"

using namespace mivex;
using namespace mivex::test;
using mivex::ui::frmProgress;

namespace {

constexpr std::size_t kBigBytes = 512u << 20;

ShellOpRecord copyRecord(const std::string& from, const std::string& to) {
    ShellOpRecord record;
    record.pFrom = from;
    record.pTo = to;
    return record;
}

template <typename T>
T* child(QWidget* window, const char* name) {
    T* widget = window->findChild<T*>(QLatin1String(name));
    if (!widget) {
        qFatal("no child named %s", name);
    }
    return widget;
}

// Runs one entry while `tick` is called every 10 ms on the user-interface thread.
int runWatched(frmProgress* window, ShellOpRecord& record, const std::function<void()>& tick) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, tick);
    timer.start(10);
    return window->run(record, 1, 2);
}

}  // namespace

class ProgressTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { mBigDir.reset(); }
    void resultsAndLabels();
    void keepsTurningDuringLargeCopy();
    void stopsPromptlyAndCleanly_data();
    void stopsPromptlyAndCleanly();

private:
    std::unique_ptr<TempDir> mBigDir;
    std::string mBig;
};

void ProgressTest::initTestCase() {
    // A source in memory is quick to make; containers often give /dev/shm only a few MB.
    struct statvfs shm {};
    const bool inMemory = ::statvfs("/dev/shm", &shm) == 0 && ::access("/dev/shm", W_OK) == 0 &&
                          shm.f_bavail * shm.f_frsize > 2 * kBigBytes;
    mBigDir = std::make_unique<TempDir>(inMemory ? "/dev/shm" : "");
    mBig = *mBigDir / "big.bin";
    const std::string chunk = randomBytes(8u << 20, 7);
    const int fd = ::open(mBig.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    for (std::size_t done = 0; done < kBigBytes; done += chunk.size()) {
        QCOMPARE(::write(fd, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    }
    ::close(fd);
}

void ProgressTest::resultsAndLabels() {
    TempDir src, dst;
    makeTree(src / "tree",
             {{"a.txt", std::string(1000, 'a')}, {"sub/b.bin", randomBytes(2000, 3)}});
    frmProgress window;
    ShellOpRecord record = copyRecord(src / "tree", dst.path());
    QCOMPARE(window.run(record, 2, 5), 0);
    QVERIFY(!record.fAnyOperationsAborted);
    QCOMPARE(readFile(dst / "tree/sub/b.bin"), randomBytes(2000, 3));
    QCOMPARE(readFile(dst / "tree/a.txt"), std::string(1000, 'a'));

    // The window stays up between entries and shows the finished entry (a quick one within a
    // refresh period).
    QVERIFY(window.isVisible());
    QCOMPARE(window.windowTitle(), QStringLiteral("Processing files from your queue."));
    QTRY_COMPARE(child<QLabel>(&window, "lblBytes")->text(), QStringLiteral("2.9 KB of 2.9 KB"));
    QCOMPARE(child<QLabel>(&window, "lblEntry")->text(), QStringLiteral("Entry 2 of 5"));
    QCOMPARE(child<QLabel>(&window, "lblFiles")->text(), QStringLiteral("2 of 2 files"));
    QCOMPARE(child<QProgressBar>(&window, "barBytes")->value(), 1000);

    // A failure's code comes back from the worker; the next entry starts afresh.
    ShellOpRecord missing = copyRecord(src / "nothing-here", dst.path());
    QCOMPARE(window.run(missing, 3, 5), 2);
    QVERIFY(!missing.fAnyOperationsAborted);
    // A quick entry is shown within a refresh period.
    QTRY_COMPARE(child<QLabel>(&window, "lblEntry")->text(), QStringLiteral("Entry 3 of 5"));
}

void ProgressTest::keepsTurningDuringLargeCopy() {
    TempDir dst;
    frmProgress window;
    auto* bytes = child<QLabel>(&window, "lblBytes");
    QElapsedTimer clock;
    qint64 lastTick = 0, maxTickGap = 0, lastChange = 0, maxChangeGap = 0;
    QStringList seen;
    ShellOpRecord record = copyRecord(mBig, dst.path());
    clock.start();
    const int code = runWatched(&window, record, [&] {
        const qint64 now = clock.elapsed();
        maxTickGap = std::max(maxTickGap, now - lastTick);
        lastTick = now;
        if (seen.isEmpty() || seen.last() != bytes->text()) {
            maxChangeGap = seen.isEmpty() ? 0 : std::max(maxChangeGap, now - lastChange);
            lastChange = now;
            seen << bytes->text();
        }
    });
    const qint64 total = clock.elapsed();
    maxTickGap = std::max(maxTickGap, total - lastTick);
    qInfo(
        "copy %lld ms; largest gap between event-loop turns %lld ms, between display changes "
        "%lld ms",
        total, maxTickGap, maxChangeGap);

    QCOMPARE(code, 0);
    QVERIFY(exists(dst / "big.bin"));
    QVERIFY2(maxTickGap < 200, "the user-interface thread stalled during the copy");
    if (total < 2 * frmProgress::kRefreshMs) {
        QSKIP("the copy is over before the display could follow it on this machine");
    }
    // The display followed the copy: a count between nothing and everything was on show.
    const bool partial = std::any_of(seen.begin(), seen.end(), [](const QString& text) {
        return text.endsWith(QStringLiteral(" of 512.0 MB")) &&
               text != QStringLiteral("512.0 MB of 512.0 MB") &&
               !text.startsWith(QStringLiteral("0 bytes"));
    });
    QVERIFY2(partial, qPrintable(seen.join(QStringLiteral(" | "))));
}

enum class Stop { CancelButton, EscKey, DeleteWindow };

void ProgressTest::stopsPromptlyAndCleanly_data() {
    QTest::addColumn<Stop>("how");
    QTest::newRow("Cancel button") << Stop::CancelButton;
    QTest::newRow("Esc key") << Stop::EscKey;
    QTest::newRow("window deleted") << Stop::DeleteWindow;
}

void ProgressTest::stopsPromptlyAndCleanly() {
    QFETCH(Stop, how);
    TempDir dst;
    QPointer<frmProgress> window = new frmProgress;
    auto* cancel = child<QPushButton>(window, "cmdCancel");
    ShellOpRecord record = copyRecord(mBig, dst.path());
    QElapsedTimer sinceStop;
    const int code = runWatched(window, record, [&] {
        // Once bytes flow, a temporary file sits at the destination.
        if (!window || sinceStop.isValid() ||
            child<QProgressBar>(window, "barBytes")->value() == 0) {
            return;
        }
        sinceStop.start();
        if (how == Stop::CancelButton) {
            QTest::mouseClick(cancel, Qt::LeftButton);
        } else if (how == Stop::EscKey) {
            QTest::keyClick(window, Qt::Key_Escape);
        } else {
            delete window;
        }
    });
    QVERIFY(sinceStop.isValid());
    qInfo("stop to return: %lld ms", sinceStop.elapsed());
    QVERIFY(sinceStop.elapsed() < 1000);
    QCOMPARE(code, 0);
    QVERIFY(record.fAnyOperationsAborted);
    // Neither the file nor its hidden temporary is left behind.
    QCOMPARE(listTree(dst.path()), std::vector<std::string>{});
    if (how == Stop::DeleteWindow) {
        QVERIFY(!window);
        return;
    }
    const std::unique_ptr<frmProgress> owner(window);
    QVERIFY(!cancel->isEnabled());
    QCOMPARE(cancel->text(), QStringLiteral("Cancelling..."));

    // The rest of the run stops at once without touching anything.
    TempDir src;
    writeFile(src / "next.txt", "next");
    ShellOpRecord next = copyRecord(src / "next.txt", dst.path());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(window->run(next, 2, 2), 0);
    QVERIFY(clock.elapsed() < 50);
    QVERIFY(next.fAnyOperationsAborted);
    QCOMPARE(listTree(dst.path()), std::vector<std::string>{});
}

QTEST_MAIN(ProgressTest)
#include "ui_progress_test.moc"
