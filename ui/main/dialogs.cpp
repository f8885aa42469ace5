// How the main window opens its secondary windows. The modal ones take a topmost main window out
// of the topmost band for their time, so that they are never hidden behind it.
#include "ui/main/dialogs.h"

#include "ui/main/frmabout.h"
#include "ui/main/frmhelp.h"
#include "ui/main/frmmain.h"
#include "ui/options/frmoptions.h"

namespace mivex::ui {

void ShowOptions(frmMain* main, const QString& strValue) {
    const bool wasOnTop = main->leaveTopmost();
    {
        frmOptions dialog(main,
                          main->optionsContext());  // afresh for each use: nothing carries over
        if (dialog.SetupForm(strValue)) {
            dialog.exec();
        }
    }
    main->restoreTopmost(wasOnTop);
}

void ShowHelp(frmMain* main) {
    auto* help = main->findChild<frmHelp*>(QString(), Qt::FindDirectChildrenOnly);
    if (!help) {
        help = new frmHelp(main);
    }
    help->showContents(QString::fromStdString(main->helpFile()));
    help->show();
    help->raise();
    help->activateWindow();
}

void ShowAbout(frmMain* main) {
    const bool wasOnTop = main->leaveTopmost();
    {
        frmAbout box(main);
        box.exec();
    }
    main->restoreTopmost(wasOnTop);
}

}  // namespace mivex::ui
