// Interactive start-up: the command line's list, then the main window until it closes.
#include "ui/startup.h"

#include <QApplication>
#include <QLocale>
#include <cstdio>

#include "platform/posixio.h"
#include "run/commandline.h"
#include "run/display.h"
#include "ui/main/frmmain.h"
#include "ui/prompts.h"
#include "ui/translations.h"
#include "version.h"

namespace mivex {

void OpenFromCommandLine(ui::frmMain& window, const std::string& argumentText) {
    // The whole text is the path: quotation marks and blanks are part of it.
    const QString path = QString::fromStdString(argumentText);
    if (!isExistingFile(argumentText)) {
        ui::showMessage(nullptr, QCoreApplication::translate("mivex", "This file does not exist"));
    } else if (!path.endsWith(QLatin1String("flq"), Qt::CaseInsensitive)) {
        ui::showMessage(nullptr,
                        QCoreApplication::translate("mivex", "This file is not the correct type"));
    } else {
        window.LoadQueueList(path);
    }
}

int Main(int argc, char** argv, const std::string& argumentText) {
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

    ui::frmMain window;  // made hidden; its start-up has run
    if (!argumentText.empty()) {
        OpenFromCommandLine(window, argumentText);
    }
    window.show();
    return QApplication::exec();
}

}  // namespace mivex
