// The main window's keyboard and the queue's safety nets: the menu bar by F10, shortcuts for the
// buttons, "Go to Folder...", Undo, moving a row, and the question before an unsaved queue is lost.
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <filesystem>

#include "platform/folders.h"
#include "ui/main/dialogs.h"
#include "ui/main/drivelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/frmmain.h"
#include "ui/prompts.h"

namespace mivex::ui {

void frmMain::addKeys() {
    // F10 takes the menu bar, as on other desktops: the first menu opens, the arrows go on.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(menuBar()->actions().value(0)); });

    // The buttons' work in the File menu, with their keys beside them; Exit stays last.
    auto* mnuFile = menuBar()->findChild<QMenu*>(QStringLiteral("mnuFile"));
    const auto item = [&](const QString& text, QKeySequence key, auto slot) {
        auto* action = new QAction(text, mnuFile);
        action->setShortcut(key);
        mnuFile->insertAction(mnuFileExit, action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    mnuFile->insertSeparator(mnuFileExit);
    item(tr("Add Selected Folder"), QKeySequence(Qt::CTRL | Qt::Key_D), [this] {
        if (cmdAddFolder->isEnabled()) {
            cmdAddFolder_Click();
        }
    });
    item(tr("Add Selected File"), QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        if (cmdAddFile->isEnabled()) {
            cmdAddFile_Click();
        }
    });
    item(tr("Process Files!"), QKeySequence(Qt::CTRL | Qt::Key_R), [this] {
        if (cmdCopy->isEnabled()) {
            cmdCopy_Click();
        }
    });
    mnuFile->insertSeparator(mnuFileExit);
    item(tr("Undo"), QKeySequence::Undo, [this] {
        if (mQueue->undo()) {
            setQueueButtons(!queue().empty());
        }
    });
    item(tr("Go to Folder..."), QKeySequence(Qt::CTRL | Qt::Key_L), [this] { goToFolder(); });
    mnuFile->insertSeparator(mnuFileExit);
    mnuDefaultOptions->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));

    // Alt+Up and Alt+Down move the selected row; the selection goes with it.
    for (const int step : {-1, 1}) {
        auto* move = new QAction(lstQueue);
        move->setShortcut(QKeySequence(Qt::ALT | (step < 0 ? Qt::Key_Up : Qt::Key_Down)));
        move->setShortcutContext(Qt::WidgetShortcut);
        lstQueue->addAction(move);
        connect(move, &QAction::triggered, this,
                [this, step] { mQueue->moveRow(lstQueue->selectedRow(), step); });
    }
}

void frmMain::goToFolder() {
    // The pane the keyboard is in: the destination's, or else the source's.
    const bool dest = Destination->isAncestorOf(QApplication::focusWidget());
    DriveList* drive = dest ? drvDest : drvSource;
    FolderList* folder = dest ? dirDest : dirSource;
    const QString answer =
        Prompts::current().input(this,
                                 dest ? tr("Open this folder in the destination pane:")
                                      : tr("Open this folder in the source pane:"),
                                 tr("Go to Folder"), folder->path());
    if (answer.isEmpty()) {
        return;
    }
    std::filesystem::path target(expandHome(fromQ(answer)));
    if (target.is_relative()) {
        target = std::filesystem::path(fromQ(folder->path())) / target;
    }
    std::string path = target.lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        drive->setDrive(toQ(path));  // another drive opens at its root first
        if (folder->setPath(toQ(path)) == 0) {
            return;
        }
    }
    showMessage(this, tr("The folder %1 cannot be opened.").arg(toQ(path)));
}

bool frmMain::mayDropQueue() {
    if (!mQueue->unsaved()) {
        return true;
    }
    const int answer = Prompts::current().question(
        this, tr("The queue holds entries that have not been saved. Save them first?"),
        QStringLiteral("Mivex"),
        {.buttons = {tr("Save"), tr("Discard"), tr("Cancel")},
         .preferred = 0,
         .onEscape = 2,
         .details = {},
         .icon = Prompts::Icon::Warning});
    return answer == 1 || (answer == 0 && saveQueue());
}

}  // namespace mivex::ui
