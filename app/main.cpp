// Start-up: the command line decides between an unattended run and the window.
#include <sys/resource.h>

#include <clocale>
#include <cstdio>

#include "app/commandline.h"
#include "platform/folders.h"
#ifdef MIVEX_WITH_GUI
#include "app/startup.h"
#endif

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");  // log time stamps follow the user's locale
    // A deep tree holds two folder descriptors a level while it is copied.
    struct rlimit files;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    const std::string text = mivex::argumentText(argc, argv);
    const mivex::CommandLine line = mivex::parseArgumentText(text);
    if (line.unattended) {
        // No window and no display: this runs from cron and ssh.
        return mivex::RunUnattended(line.listPath, mivex::programFolder());
    }
#ifdef MIVEX_WITH_GUI
    return mivex::Main(argc, argv, text);
#else
    std::fprintf(stderr,
                 "mivex: this build has no window; run a list with \"mivex LIST.flq -auto\"\n");
    return mivex::kRunNoList;
#endif
}
