// The user's language: the window's own texts and Qt's (file dialogs, standard buttons).
#pragma once

#include <QString>

class QCoreApplication;
class QLocale;

namespace mivex::ui {

// Installs the translations for `locale` into `app`: Qt's own from the system's Qt translations,
// the program's from `folder` ("translations" beside the program when empty). A language without a
// translation keeps the English texts; nothing fails.
void installTranslations(QCoreApplication& app, const QLocale& locale, const QString& folder = {});

}  // namespace mivex::ui
