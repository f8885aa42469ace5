// being written
#include "ui/main/dialogs.h"
namespace mivex::ui {
void ShowOptions(frmMain*, const QString&) {}
void ShowHelp(frmMain*) {}
void ShowAbout(frmMain*) {}
}  // namespace mivex::ui
