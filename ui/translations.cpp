// The user's language: the window's own texts and Qt's (file dialogs, standard buttons).
#include "ui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "platform/texts.h"

namespace mivex::ui {

namespace {

void install(QCoreApplication& app, const QLocale& locale, const QString& name,
             const QString& folder) {
    auto* translator = new QTranslator(&app);
    if (translator->load(locale, name, QStringLiteral("_"), folder)) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

// The core's texts (a run's failures, their reasons, the run log's place) are marked in the
// "mivex" scope.
std::string translateCoreText(const char* english) {
    return QCoreApplication::translate("mivex", english).toStdString();
}

}  // namespace

void installTranslations(QCoreApplication& app, const QLocale& locale, const QString& folder) {
    installTextTranslator(translateCoreText);
    // "qt" gathers the catalogues of Qt's modules (qtbase: the file dialog, the standard buttons).
    install(app, locale, QStringLiteral("qt"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    install(app, locale, QStringLiteral("mivex"),
            folder.isEmpty()
                ? QCoreApplication::applicationDirPath() + QStringLiteral("/translations")
                : folder);
}

}  // namespace mivex::ui
