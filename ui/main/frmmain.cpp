// The main window: layout, start-up, the browse panes' chains, the topmost band. The queue's
// gestures, processing and list files are in frmmainqueue.cpp.
#include "ui/main/frmmain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <filesystem>

#include "platform/drives.h"
#include "platform/folders.h"
#include "ui/accessible.h"
#include "ui/archive/makecab.h"
#include "ui/framestyle.h"
#include "ui/icon.h"
#include "ui/layout.h"
#include "ui/main/dialogs.h"
#include "ui/main/drivelist.h"
#include "ui/main/filelist.h"
#include "ui/main/folderlist.h"
#include "ui/main/queuelist.h"
#include "ui/main/queuemodel.h"
#include "ui/prompts.h"
#include "version.h"

namespace mivex::ui {

LogFolder frmMain::gLogPath;

namespace {

constexpr int kClientWidthTwips = kLargestClientTwips[0];
constexpr int kClientHeightTwips = kLargestClientTwips[1];

// Places `w` at a rectangle given in the window's coordinates, inside `frame` when it has one.
template <typename W>
W* placeInWindow(W* w, const char* name, QWidget* parent, QRect windowRect) {
    // The table gives every rectangle in the window's coordinates, also inside a frame.
    QPoint origin;
    for (QWidget* p = parent; p && p->objectName() != QLatin1String("central");
         p = p->parentWidget()) {
        origin += p->pos();
    }
    return place(w, name, parent, windowRect.translated(-origin));
}

}  // namespace

frmMain::frmMain(DriveSource drives, QWidget* parent)
    : QMainWindow(parent), mDrives(std::move(drives)) {
    setObjectName(QStringLiteral("frmMain"));
    buildWindow();
    buildRunMenu();
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::buildWindow() {
    installAccessibleInterfaces();
    setWindowTitle(QStringLiteral("Mivex"));
    setWindowIcon(programIcon());

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    setCentralWidget(central);
    central->setFixedSize(twips(kClientWidthTwips), twips(kClientHeightTwips));
    central->setFont(compactFont());

    // Frames first, so everything placed over them afterwards is drawn above them.
    Frame1 = placeInWindow(new QGroupBox(tr("Source")), "Frame1", central,
                           twipsRect(120, 120, 5535, 4335));
    Destination = placeInWindow(new QGroupBox(tr("Destination")), "Destination", central,
                                twipsRect(5760, 120, 3015, 4335));
    Frame3 = placeInWindow(new QGroupBox(tr("File Transfer Queue")), "Frame3", central,
                           twipsRect(120, 4560, 8655, 1935));

    drvSource =
        placeInWindow(new DriveList(mDrives), "drvSource", Frame1, twipsRect(240, 360, 2775, 315));
    dirSource = placeInWindow(new FolderList, "dirSource", Frame1, twipsRect(240, 720, 2775, 3240));
    cmdAddFolder = placeInWindow(new QPushButton(tr("Add Selected Folder")), "cmdAddFolder", Frame1,
                                 twipsRect(240, 4080, 2775, 255));
    drvDest = placeInWindow(new DriveList(mDrives), "drvDest", Destination,
                            twipsRect(5880, 360, 2775, 315));
    dirDest =
        placeInWindow(new FolderList, "dirDest", Destination, twipsRect(5880, 720, 2775, 3240));
    lstQueue = placeInWindow(new QueueList, "lstQueue", Frame3, twipsRect(240, 4800, 8415, 1110));
    mQueue = new QueueModel(this);
    mArchives = new ArchiveMaker(this);
    lstQueue->setModel(mQueue);
    cmdRemove = placeInWindow(new QPushButton(tr("Remove Selected Entry")), "cmdRemove", Frame3,
                              twipsRect(240, 6120, 1935, 255));
    cmdClear = placeInWindow(new QPushButton(tr("Clear List")), "cmdClear", central,
                             twipsRect(2280, 6120, 1935, 255));
    cmdSave = placeInWindow(new QPushButton(tr("Save File Copy List")), "cmdSave", central,
                            twipsRect(4680, 6120, 1935, 255));
    cmdLoad = placeInWindow(new QPushButton(tr("Load File Copy List")), "cmdLoad", Frame3,
                            twipsRect(6720, 6120, 1935, 255));
    cmdCopy = placeInWindow(new QPushButton(tr("Process Files!")), "cmdCopy", central,
                            twipsRect(6720, 6600, 1935, 375));
    cmdAddFile = placeInWindow(new QPushButton(tr("Add Selected File")), "cmdAddFile", Frame1,
                               twipsRect(3240, 4080, 2175, 255));
    cmdMakeNewDir = placeInWindow(new QPushButton(tr("Make New Folder Here")), "cmdMakeNewDir",
                                  Destination, twipsRect(6000, 4080, 2535, 255));
    filSource = placeInWindow(new FileList, "filSource", Frame1, twipsRect(3120, 720, 2415, 3210));
    filSource->setToolTip(tr("Files in current folder"));
    Label1 =
        placeInWindow(new QLabel(tr("Files")), "Label1", Frame1, twipsRect(3120, 480, 2175, 255));
    cmdMakeCab = placeInWindow(new QPushButton(tr("Make Archive of Source Files")), "cmdMakeCab",
                               central, twipsRect(240, 6600, 3975, 255));
    // What a screen reader announces for the controls without a caption of their own; left to
    // themselves, both drive lists would be announced by their drive alone ("/").
    const std::pair<QWidget*, const char*> spoken[] = {
        {drvSource, QT_TR_NOOP("Source drive")},
        {dirSource, QT_TR_NOOP("Source folders")},
        {filSource, QT_TR_NOOP("Files")},
        {drvDest, QT_TR_NOOP("Destination drive")},
        {dirDest, QT_TR_NOOP("Destination folders")},
        {lstQueue, QT_TR_NOOP("File Transfer Queue")}};
    for (const auto& [control, name] : spoken) {
        control->setAccessibleName(tr(name));
    }
    // The two window buttons on the queue frame's bottom row must sit above the frame.
    cmdClear->raise();
    cmdSave->raise();

    lstQueue->setFont(compactFont(8.25));
    // A run's marks before the rows are as tall as their text: the rows keep their height.
    const int markSize = lstQueue->fontMetrics().height();
    lstQueue->setIconSize(QSize(markSize, markSize));
    lstQueue->setSelectionMode(QAbstractItemView::SingleSelection);
    drawFramesAsDesigned(central);
    fitCaptions(central);

    const QWidget* order[] = {drvSource, dirSource,  cmdAddFolder,  drvDest,   dirDest,
                              lstQueue,  cmdRemove,  cmdClear,      cmdSave,   cmdLoad,
                              cmdCopy,   cmdAddFile, cmdMakeNewDir, filSource, cmdMakeCab};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    }

    QMenu* mnuFile = menuBar()->addMenu(tr("File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileLoad = mnuFile->addAction(tr("Load File Copy List"));
    mnuFileSave = mnuFile->addAction(tr("Save File Copy List"));
    mnuFileExit = mnuFile->addAction(tr("E&xit"));
    QMenu* mnuOptions = menuBar()->addMenu(tr("Options"));
    mnuOptions->setObjectName(QStringLiteral("mnuOptions"));
    mnuFileOnTop = mnuOptions->addAction(tr("Always On Top"));
    mnuFileOnTop->setCheckable(true);
    mnuDefaultOptions = mnuOptions->addAction(tr("Default Options"));
    QMenu* mnuHelp = menuBar()->addMenu(tr("Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelpContents = mnuHelp->addAction(tr("Mivex Help"));
    mnuHelpAbout = mnuHelp->addAction(tr("About"));
    const std::pair<QAction*, const char*> actionNames[] = {
        {mnuFileLoad, "mnuFileLoad"},
        {mnuFileSave, "mnuFileSave"},
        {mnuFileExit, "mnuFileExit"},
        {mnuFileOnTop, "mnuFileOnTop"},
        {mnuDefaultOptions, "mnuDefaultOptions"},
        {mnuHelpContents, "mnuHelpContents"},
        {mnuHelpAbout, "mnuHelpAbout"}};
    for (const auto& [action, name] : actionNames) {
        action->setObjectName(QString::fromLatin1(name));
    }
    // The desktop's usual keys; they show beside the captions, which stay as they are.
    mnuFileLoad->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuFileSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuFileExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    mnuHelpContents->setShortcut(QKeySequence(Qt::Key_F1));

    connect(drvSource, &DriveList::driveChanged, this, &frmMain::drvSource_Change);
    connect(drvDest, &DriveList::driveChanged, this, &frmMain::drvDest_Change);
    connect(dirSource, &FolderList::pathChanged, this, &frmMain::dirSource_Change);
    connect(dirDest, &FolderList::pathChanged, this, &frmMain::dirDest_Change);
    connect(dirSource, &FolderList::entryClicked, this, &frmMain::dirSource_Click);
    connect(dirDest, &FolderList::entryClicked, this, &frmMain::dirDest_Click);
    connect(cmdAddFile, &QPushButton::clicked, this, &frmMain::cmdAddFile_Click);
    connect(cmdAddFolder, &QPushButton::clicked, this, &frmMain::cmdAddFolder_Click);
    connect(filSource, &FileList::fileDoubleClicked, this, &frmMain::filSource_DblClick);
    connect(lstQueue, &QueueList::pathsDropped, this, &frmMain::lstQueue_OLEDragDrop);
    connect(cmdCopy, &QPushButton::clicked, this, &frmMain::cmdCopy_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmMain::cmdSave_Click);
    connect(cmdLoad, &QPushButton::clicked, this, &frmMain::cmdLoad_Click);
    connect(cmdClear, &QPushButton::clicked, this, &frmMain::cmdClear_Click);
    connect(cmdRemove, &QPushButton::clicked, this, &frmMain::cmdRemove_Click);
    connect(cmdMakeNewDir, &QPushButton::clicked, this, &frmMain::cmdMakeNewDir_Click);
    connect(mnuFileLoad, &QAction::triggered, this, &frmMain::cmdLoad_Click);
    connect(mnuFileSave, &QAction::triggered, this, &frmMain::cmdSave_Click);
    connect(mnuFileExit, &QAction::triggered, this, &QWidget::close);
    connect(mnuFileOnTop, &QAction::triggered, this, &frmMain::mnuFileOnTop_Click);
    connect(lstQueue, &QueueList::doubleClicked, this,
            [this] { ShowOptions(this, QStringLiteral("FromList")); });
    connect(lstQueue, &QueueList::optionsRequested, this,
            [this] { ShowOptions(this, QStringLiteral("FromList")); });
    connect(lstQueue, &QueueList::removeRequested, this, &frmMain::cmdRemove_Click);
    connect(mnuDefaultOptions, &QAction::triggered, this,
            [this] { ShowOptions(this, QStringLiteral("Defaults")); });
    connect(mnuHelpContents, &QAction::triggered, this, [this] { ShowHelp(this); });
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { ShowAbout(this); });
    connect(cmdMakeCab, &QPushButton::clicked, this, [this] {
        // Disabled while the archive is made: the window stays usable, a second run may not start.
        cmdMakeCab->setEnabled(false);
        mMakeCabWanted = true;
        const QPointer<frmMain> self(this);
        mArchives->cmdMakeCab_Click(this, queue().rows());
        if (self) {
            cmdMakeCab->setEnabled(mMakeCabWanted);
        }
    });

    addKeys();

    // Fixed size: the layout does not stretch. It can still be minimised.
    adjustSize();
    setFixedSize(sizeHint());
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
}

void frmMain::Form_Load() {
    gCopy = "C";
    gOverwrite = "N";
    const std::string program = programFolder();
    if (gLogPath.empty()) {
        gLogPath = chooseLogFolder(program);  // by the first window; tests and a benchmark reset it
    }
    mHelpFile = joinPath(program, "mivex online help.html");
    setWindowTitle(
        tr("Mivex Version %1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision));
    cmdCopy->setEnabled(false);
    cmdMakeCab->setEnabled(false);

    // Both panes open at the root of the drive that holds the program.
    const QString drive = toQ(driveOf(program, mDrives()));
    drvSource->setDrive(drive);
    drvDest->setDrive(drive);
    dirSource->openDrive(drive);
    dirDest->openDrive(drive);
    mDestPath = fromQ(dirDest->path());

    // Centred on the screen when first shown.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    // The dialogs are modal and die with their use; closing the window ends the program.
    if (!mayDropQueue()) {
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

// ----- browse panes

void frmMain::drvSource_Change() {
    driveChanged(drvSource, dirSource, true);
}
void frmMain::drvDest_Change() {
    driveChanged(drvDest, dirDest, false);
}

void frmMain::driveChanged(DriveList* drive, FolderList* folder, bool isSource) {
    const int err = folder->openDrive(drive->drive());
    if (err == 0) {
        if (isSource) {
            drive->refresh();
            filSource->refresh();
        }
        return;
    }
    if (!isDeviceUnavailable(err)) {
        return;  // any other failure: the pane stays where it was
    }
    showError(this, tr("The drive you selected cannot be accessed."));
    if (drive->drive() != QLatin1String("/")) {
        drive->setDrive(QStringLiteral("/"));  // runs this handler again, for the root
    }
    folder->refresh();
    drive->refresh();
    if (isSource) {
        filSource->refresh();
    }
}

void frmMain::dirSource_Change() {
    filSource->setPath(dirSource->path());
    filSource->setPattern(QStringLiteral("*.*"));
    if (!mDeferFileReads) {
        filSource->refresh();
    }
}

void frmMain::dirDest_Change() {
    mDestPath = fromQ(dirDest->path());
}

void frmMain::dirSource_Click() {
    folderClicked(drvSource, dirSource);
}
void frmMain::dirDest_Click() {
    folderClicked(drvDest, dirDest);
}

void frmMain::folderClicked(DriveList* drive, FolderList* folder) {
    // A folder that cannot be opened falls back, silently, to the drive's own folder.
    if (folder->setPath(folder->entryPath(folder->listIndex())) != 0) {
        folder->openDrive(drive->drive());
    }
}

void frmMain::cmdMakeNewDir_Click() {
    QString current = dirDest->path();
    if (!current.endsWith(QLatin1Char('/'))) {
        current += QLatin1Char('/');
    }
    QString answer = Prompts::current().input(this, tr("Enter the complete path to the new folder"),
                                              tr("New Folder"), current);
    if (answer.isEmpty()) {
        return;
    }
    // "~/x" is the home's x, as in a shell; a bare name is taken to be below the destination
    // shown, not below the working folder.
    std::filesystem::path target(expandHome(fromQ(answer)));
    if (target.is_relative()) {
        target = std::filesystem::path(fromQ(current)) / target;
    }
    std::error_code ec;
    std::filesystem::create_directories(target, ec);
    if (std::filesystem::is_directory(target, ec)) {
        dirDest->refresh();
        dirDest->setPath(toQ(target.lexically_normal().string()));
        return;
    }
    showMessage(this, tr("The path you attempted to create could not be created. You "
                         "either entered an invalid path or the path you entered "
                         "already exists."));
}

void frmMain::mnuFileOnTop_Click() {
    const bool onTop = !(windowFlags() & Qt::WindowStaysOnTopHint);
    mnuFileOnTop->setChecked(onTop);
    // Changing a window flag hides the window; show it again where it was.
    const bool wasVisible = isVisible();
    const QPoint where = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    move(where);
    if (wasVisible) {
        show();
    }
}

bool frmMain::leaveTopmost() {
    const bool wasOnTop = mnuFileOnTop->isChecked();
    if (wasOnTop) {
        mnuFileOnTop_Click();
    }
    return wasOnTop;
}

void frmMain::restoreTopmost(bool wasOnTop) {
    if (wasOnTop && !mnuFileOnTop->isChecked()) {
        mnuFileOnTop_Click();
    }
}

}  // namespace mivex::ui
