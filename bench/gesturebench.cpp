// Times the queue gestures at their limits, offscreen: a drop of 10,000 files from a folder of
// 10,000 files, and one admission to a queue of 32,766 entries; also loading and saving a list of
// 32,767 lines through the window, and the check before a run of 32,767 entries.
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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
    std::filesystem::remove_all(work);
    return 0;
}
