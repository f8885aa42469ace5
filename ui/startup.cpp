// Interactive start-up: the command line's list, then the main window until it closes.
#include "ui/startup.h"

#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/posixio.h"
#include "run/commandline.h"
#include "run/display.h"
#include "ui/main/frmmain.h"
#include "ui/prompts.h"
#include "version.h"

namespace mivex {

namespace {

// From /proc/self/stat's start time (clock ticks since boot) to now on the same clock.
double millisecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double startMs = std::stod(field) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6 - startMs;
}

}  // namespace

void OpenFromCommandLine(ui::frmMain& window, const std::string& argumentText) {
    // The whole text is the path: quotation marks and blanks are part of it.
    const QString path = QString::fromStdString(argumentText);
    if (!isExistingFile(argumentText)) {
        ui::showMessage(nullptr, QStringLiteral("This file does not exist"));
    } else if (!path.endsWith(QLatin1String("flq"), Qt::CaseInsensitive)) {
        ui::showMessage(nullptr, QStringLiteral("This file is not the correct type"));
    } else {
        window.LoadQueueList(path);
    }
}

int Main(int argc, char** argv, const std::string& argumentText) {
    // Qt would abort with a message about reinstalling; say what is missing and what to do.
    if (!displayAvailable()) {
        std::fputs(kNoDisplayMessage, stderr);
        return kRunNoList;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mivex"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    // Wayland desktops match the window to its desktop entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("mivex"));

    ui::frmMain window;  // made hidden; its start-up has run
    if (!argumentText.empty()) {
        OpenFromCommandLine(window, argumentText);
    }
    window.show();
    // The start-up benchmark's switch (bench/startup.sh; packaging/check-deb.sh checks with it
    // that the installed window opens): print the time from process start to the first shown
    // window, then leave. show() has sent the window its show event; this runs at the event
    // loop's first turn.
    if (qEnvironmentVariableIsSet("MIVEX_BENCH_STARTUP")) {
        QTimer::singleShot(0, [] {
            std::printf("startup-ms %.1f\n", millisecondsSinceProcessStart());
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }
    return QApplication::exec();
}

}  // namespace mivex
