// Start-up: the command line decides between an unattended run and the window.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "platform/folders.h"
#include "platform/processstart.h"
#include "run/commandline.h"
#include "run/display.h"
#include "run/frontdoor.h"
#ifdef MIVEX_WITH_GUI
#include "ui/startup.h"
#endif

int main(int argc, char** argv) {
    mivex::settleProcessStart();  // before anything is opened or written
    std::setlocale(LC_ALL, "");   // log time stamps follow the user's locale
    // Before anything else: these need neither a list nor a display.
    if (const auto text = mivex::frontDoorText(argc, argv)) {
        std::fputs(text->c_str(), stdout);
        // A help text cut short (a full disk, a closed pipe) must not look like success.
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }
    // A deep tree holds two folder descriptors a level while it is copied.
    struct rlimit files;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    const std::string text = mivex::argumentText(argc, argv);
    const mivex::CommandLine line = mivex::parseArgumentText(text);
    // Paths handed to the window are never a list to run, whatever " -auto" they hold.
    if (line.unattended && !mivex::isEnqueueLine(argc, argv)) {
        if (!line.error.empty()) {
            std::fprintf(stderr, "mivex: %s; nothing was run\n", line.error.c_str());
            return mivex::kRunNoList;
        }
        // No window and no display: this runs from cron and ssh.
        return mivex::RunUnattended(line.listPath, mivex::programFolder(), line.switches);
    }
#ifdef MIVEX_WITH_GUI
    return mivex::Main(argc, argv, text);
#else
    // The window is a program of its own beside this one, so that unattended runs never load
    // the GUI libraries: that alone took most of a short run's time.
    const std::string window = mivex::joinPath(mivex::programFolder(), "mivex-gui");
    ::execv(window.c_str(), argv);
    std::fprintf(stderr,
                 "mivex: cannot start the window (%s: %s); run a list with \"mivex LIST.flq "
                 "-auto\"\n",
                 window.c_str(), std::strerror(errno));
    return mivex::kNoWindowStatus;
#endif
}
