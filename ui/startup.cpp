// Interactive start-up: the command line's list, then the main window until it closes.
#include "ui/startup.h"

#include <QApplication>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "platform/pathtext.h"
#include "platform/posixio.h"
#include "run/commandline.h"
#include "run/display.h"
#include "ui/main/frmmain.h"
#include "ui/prompts.h"
#include "ui/session.h"
#include "ui/translations.h"
#include "version.h"

namespace mivex {

namespace {

// Where relative paths of the command line start; "/" when it cannot be told (removed meanwhile).
std::string workingFolder() {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    return error ? std::string("/") : here.string();
}

}  // namespace

void OpenFromCommandLine(ui::frmMain& window, const std::string& argumentText) {
    // The whole text is the path: quotation marks and blanks are part of it.
    const QString path = QString::fromStdString(argumentText);
    if (!isExistingFile(argumentText)) {
        ui::showMessage(nullptr, QCoreApplication::translate("mivex", "This file does not exist"));
    } else if (!path.endsWith(QLatin1String("flq"), Qt::CaseInsensitive)) {
        ui::showMessage(nullptr,
                        QCoreApplication::translate("mivex", "This file is not the correct type"));
    } else if (window.mayDropQueue()) {  // a list handed to an open window asks as Load does
        window.LoadQueueList(path);
    }
}

int Main(int argc, char** argv, const std::string& argumentText) {
    // A window that takes the work may run in another folder: a relative list path is made
    // absolute, naming the same file.
    ui::WindowWork work{argumentText, std::nullopt};
    if (!argumentText.empty() && argumentText.front() != '/') {
        work.argumentText = joinPath(workingFolder(), argumentText);
    }
    if (isEnqueueLine(argc, argv)) {
        work.enqueue = parseEnqueue(argc, argv, workingFolder());
        if (!work.enqueue->error.empty()) {
            std::fprintf(stderr, "mivex: %s (see mivex --help)\n", work.enqueue->error.c_str());
            return 2;
        }
    }
    // Qt would abort with a message about reinstalling; say what is missing and what to do.
    if (!displayAvailable()) {
        std::fputs(kNoDisplayMessage, stderr);
        return kNoWindowStatus;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mivex"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    // Wayland desktops match the window to its desktop entry, and so to its icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("mivex"));
    ui::installTranslations(app, QLocale());

    // A window of this session takes the work; this start then ends.
    if (const std::optional<int> status = ui::handOver(work)) {
        return *status;
    }
    ui::frmMain window;  // made hidden; its start-up has run
    if (!ui::serveSession(window)) {
        // Another start became the session's window meanwhile.
        if (const std::optional<int> status = ui::handOver(work)) {
            return *status;
        }
    }
    const int status = ui::doHere(window, work);
    window.show();
    // A run of the window that a crash cut off is offered once the window is up.
    QTimer::singleShot(0, &window, [&window] { window.offerResume(); });
    const int closed = QApplication::exec();
    return closed != 0 ? closed : status;
}

}  // namespace mivex
