// The unattended program on Windows: --help, --version, and "LIST.flq -auto".
#include <windows.h>

#include <cstdio>
#include <string>

#include "windows/platform/wide.h"
#include "windows/platform/winfolders.h"
#include "windows/run/winrun.h"

namespace {

mivex::win::TransferProgress gProgress;

// Ctrl+C, Ctrl+Break, a closed console: the file being copied stops and its temporary goes.
BOOL WINAPI onConsoleEvent(DWORD) {
    gProgress.cancel = true;
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        text += (i > 1 ? " " : "") + mivex::win::narrow(argv[i]);
    }
    if (const auto answer = mivex::win::frontDoorText(argc == 2 ? text : std::string())) {
        std::fputs(answer->c_str(), stdout);
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }
    const auto list = mivex::win::unattendedList(text);
    if (!list) {
        std::fputs("mivex: this build has no window; run a list with \"mivex LIST.flq -auto\"\n",
                   stderr);
        return mivex::win::kRunNoList;
    }
    if (const std::string switchText = mivex::win::unsupportedSwitch(text); !switchText.empty()) {
        std::fprintf(stderr, "mivex: %s is not available in this build; nothing was run\n",
                     switchText.c_str());
        return mivex::win::kRunNoList;
    }
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    const std::wstring logFolder = mivex::win::chooseLogFolder(mivex::win::programFolder());
    return mivex::win::runUnattended(*list, logFolder, gProgress);
}
