// The secondary windows that the main window opens: the options dialog (for one queued entry, or
// for the defaults of new ones), the help window and the About box.
#pragma once

#include <QString>

namespace mivex::ui {

class frmMain;

// strValue "FromList" edits the selected queue row; anything else edits the defaults.
void ShowOptions(frmMain* main, const QString& strValue);
void ShowHelp(frmMain* main);
void ShowAbout(frmMain* main);

}  // namespace mivex::ui
