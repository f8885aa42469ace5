// The user's language: the window's own texts and Qt's (file dialogs, standard buttons).
#pragma once

class QCoreApplication;
class QLocale;

namespace mivex::ui {

// Installs the translations for `locale` into `app`: Qt's own from the system's Qt translations,
// the program's from "translations" beside the program. A language without a translation keeps
// the English texts; nothing fails.
void installTranslations(QCoreApplication& app, const QLocale& locale);

}  // namespace mivex::ui
