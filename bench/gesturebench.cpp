// Times the queue gestures at their limits, offscreen: a drop of 10,000 files from a folder of
// 10,000 files, and one admission to a queue of 32,766 entries; also loading and saving a list of
// 32,767 lines through the window, and the check before a run of 32,767 entries. Given a tree,
// also one folder entry of it: the window's Process Files! against the unattended run, and the
// check before the run against the copy (that alone when the count of files to drop is 0).
// Arguments: WORK [FILES [MIVEX [TREE [ROUNDS]]]].
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/sourcecount.h"
#include "listfile/listfile.h"
#include "queue/prerun.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmmain.h"
#include "ui/prompts.h"

namespace {

class Silent : public mivex::ui::Prompts {
public:
    void message(QWidget*, const QString& text, const QString&, Icon) override {
        std::printf("message: %s\n", qPrintable(text));
    }
    QString input(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&) override { return mSave; }
    QString mSave;
};

// CPU time in ms, user and system, of this process (every thread) or of its waited-for children.
double cpuMs(int who) {
    rusage use{};
    ::getrusage(who, &use);
    return (use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1e3 +
           (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One folder entry of `tree` copied into a fresh folder: the window's Process Files! (the check
// before the run, the run's count and the copy) against `mivex LIST -auto`, alternating which
// goes first, each round printed with its wall and CPU time; then the check alone. No rounds: the
// window's run once and nothing else, to be profiled (perf stat, strace -c -f); the copy stays in
// WORK/tree-out.
void timeTreeEntry(mivex::ui::frmMain& window, const std::string& work, const std::string& tree,
                   const std::string& mivex, int rounds) {
    const std::string out = work + "/tree-out", list = work + "/tree.flq";
    std::ofstream(list, std::ios::binary) << "C-O --> " + tree + " --> " + out + "\r\n";
    window.LoadQueueList(QString::fromStdString(list));
    QElapsedTimer clock;
    if (rounds == 0) {
        window.cmdCopy_Click();
        return;
    }
    std::vector<double> windowMs, unattendedMs;
    const auto runWindow = [&] {
        const double cpu = cpuMs(RUSAGE_SELF);
        clock.restart();
        window.cmdCopy_Click();
        windowMs.push_back(clock.nsecsElapsed() / 1e6);
        return cpuMs(RUSAGE_SELF) - cpu;
    };
    const auto runUnattended = [&] {
        const double cpu = cpuMs(RUSAGE_CHILDREN);
        clock.restart();
        // Its messages to a file, as bench/run.sh has them: on a terminal it would count the
        // tree first for its progress line.
        const int status =
            std::system((mivex + " '" + list + "' -auto 2>'" + work + "/said.txt'").c_str());
        unattendedMs.push_back(clock.nsecsElapsed() / 1e6);
        if (status != 0) {
            std::ifstream said(work + "/said.txt");
            std::printf("the unattended run failed:\n%s",
                        std::string(std::istreambuf_iterator<char>(said), {}).c_str());
        }
        return status == 0 ? cpuMs(RUSAGE_CHILDREN) - cpu : -1;
    };
    for (int round = 0; round < rounds; ++round) {
        double cpu[2];
        for (int i = 0; i < 2; ++i) {
            std::filesystem::remove_all(out);
            const bool windowNow = (round + i) % 2 == 0;
            cpu[windowNow ? 0 : 1] = windowNow ? runWindow() : runUnattended();
        }
        std::printf(
            "one folder entry, round %d (%s first): window %.1f ms (CPU %.0f ms), "
            "unattended %.1f ms (CPU %.0f ms%s)\n",
            round + 1, round % 2 == 0 ? "window" : "unattended", windowMs.back(), cpu[0],
            unattendedMs.back(), cpu[1], cpu[1] < 0 ? ", FAILED" : "");
    }
    const double copy = median(unattendedMs);
    std::printf("one folder entry: window %.1f ms, unattended %.1f ms (medians), ratio %.3f\n",
                median(windowMs), copy, median(windowMs) / copy);
    std::filesystem::remove_all(out);
    // The check alone, with its walk forced as a destination short of room would force it.
    clock.restart();
    const bool clean = mivex::checkBeforeRun(window.queue().rows()).clean();
    const double checkMs = clock.nsecsElapsed() / 1e6;
    mivex::CountedSources counted;
    struct stat st {};
    ::lstat(tree.c_str(), &st);
    clock.restart();
    const mivex::SourceTotals totals = counted.count(AT_FDCWD, tree, tree, st, {4096});
    const double walkMs = clock.nsecsElapsed() / 1e6;
    std::printf(
        "the check before the run: %.1f ms%s (%.1f %% of the copy); its walk where the "
        "room is short: %.1f ms for %llu files (%.1f %%)\n",
        checkMs, clean ? "" : " (found problems)", 100 * checkMs / copy, walkMs,
        static_cast<unsigned long long>(totals.files), 100 * walkMs / copy);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Silent prompts;
    mivex::ui::Prompts::install(&prompts);
    const std::string work = argc > 1 ? argv[1] : "/var/tmp/mivex-gesturebench";
    const int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "/src");
    std::filesystem::create_directories(work + "/dst");
    QList<QByteArray> paths;
    for (int i = 0; i < files; ++i) {
        const std::string path = work + "/src/file" + std::to_string(i) + ".txt";
        std::ofstream(path) << i;
        paths << QByteArray(path.c_str());
    }

    mivex::ui::frmMain window;
    window.show();  // every time below includes painting the window again
    QApplication::processEvents();
    window.dirDest->setPath(QString::fromStdString(work + "/dst"));
    if (files == 0 && argc > 4) {  // the tree alone
        const int rounds = argc > 5 ? std::atoi(argv[5]) : 3;
        timeTreeEntry(window, work, argv[4], argv[3], rounds);
        if (rounds != 0) {  // else the copy stays, removed outside what is profiled
            std::filesystem::remove_all(work);
        }
        return 0;
    }
    QElapsedTimer clock;
    clock.start();
    window.lstQueue_OLEDragDrop(paths, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
    QApplication::processEvents();
    const double dropMs = clock.nsecsElapsed() / 1e6;
    bool inOrder = window.queue().size() == static_cast<std::size_t>(files);
    for (int i = 0; inOrder && i < files; ++i) {
        inOrder = window.queue().at(i).find(paths[i].toStdString()) != std::string::npos;
    }
    std::printf("drop of %d files: %.1f ms, queue holds %zu entries%s\n", files, dropMs,
                window.queue().size(), inOrder ? " in drop order" : " (NOT in drop order)");

    // A queue one short of full, then one admission.
    std::string body;
    for (int i = 0; i < 32766; ++i) {
        body += "C-N --> /s" + std::to_string(i) + " --> /d\r\n";
    }
    const std::string list = work + "/full.flq";
    std::ofstream(list, std::ios::binary) << body;
    clock.restart();
    window.LoadQueueList(QString::fromStdString(list));
    QApplication::processEvents();
    std::printf("loading a list of 32,766 lines: %.1f ms\n", clock.nsecsElapsed() / 1e6);
    window.dirSource->setPath(QString::fromStdString(work + "/src"));
    clock.restart();
    window.AddToQueue(QStringLiteral("Folder"));
    QApplication::processEvents();
    std::printf("one admission to a queue of 32,766: %.3f ms (queue now %zu)\n",
                clock.nsecsElapsed() / 1e6, window.queue().size());
    prompts.mSave = QString::fromStdString(work + "/saved.flq");
    clock.restart();
    window.cmdSave_Click();
    std::printf("saving the list of 32,767 lines: %.1f ms\n", clock.nsecsElapsed() / 1e6);
    clock.restart();
    window.LoadQueueList(prompts.mSave);
    QApplication::processEvents();
    std::printf("loading a list of 32,767 lines: %.1f ms (queue now %zu)\n",
                clock.nsecsElapsed() / 1e6, window.queue().size());

    // Processing 32,767 small entries: the window against an unattended run of the same list
    // (argv[3], the mivex program), each onto a fresh destination.
    if (argc > 3) {
        body.clear();
        for (int i = 0; i < 32767; ++i) {
            body += "C-O --> " + work + "/src/file" + std::to_string(i % files) + ".txt --> " +
                    work + "/out\r\n";
        }
        const std::string run = work + "/run.flq";
        std::ofstream(run, std::ios::binary) << body;
        mivex::ui::frmMain::gLogPath = mivex::LogFolder::open(work);
        window.LoadQueueList(QString::fromStdString(run));
        // What "Process Files!" adds before the run starts: the check for missing sources and
        // room at the destination (one lstat a row, one statvfs a filesystem here).
        clock.restart();
        const bool clean = mivex::checkBeforeRun(window.queue().rows()).clean();
        std::printf("the check before running 32,767 entries: %.1f ms%s\n",
                    clock.nsecsElapsed() / 1e6, clean ? "" : " (found problems)");
        clock.restart();
        const bool ok = window.CopyOperation();
        const double windowMs = clock.nsecsElapsed() / 1e6;
        std::filesystem::remove_all(work + "/out");
        const std::string command = std::string(argv[3]) + " '" + run + "' -auto";
        clock.restart();
        const int status = std::system(command.c_str());
        const double unattendedMs = clock.nsecsElapsed() / 1e6;
        std::printf(
            "processing 32,767 entries: window %.1f ms%s, unattended %.1f ms%s, ratio %.2f\n",
            windowMs, ok ? "" : " (FAILED)", unattendedMs, status == 0 ? "" : " (FAILED)",
            windowMs / unattendedMs);
    }
    if (argc > 4) {
        timeTreeEntry(window, work, argv[4], argv[3], argc > 5 ? std::atoi(argv[5]) : 3);
    }
    std::filesystem::remove_all(work);
    return 0;
}
