// "Make Archive of Source Files" run once, offscreen or on a display, for bench/cab.sh and
// scripts/screenshots.sh:
//   mivex_cabbench CABINET SOURCE...          packs the sources into CABINET; 0 when it was made
//   mivex_cabbench --shot PNG CABINET SOURCE  saves the status window while the cabinet is
//                                             written as PNG, then cancels
// The save dialog is answered with CABINET; the closing message is printed.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/archive/frmstatus.h"
#include "ui/archive/makecab.h"
#include "ui/prompts.h"

namespace {

class Answered : public mivex::ui::Prompts {
public:
    void message(QWidget*, const QString& text, const QString&, Icon) override {
        std::printf("message: %s\n", qPrintable(text));
        mLast = text;
    }
    QString input(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&) override { return mCabinet; }
    QString mCabinet, mLast;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString shot = args.value(0) == "--shot" ? args.value(1) : QString();
    if (!shot.isEmpty()) {
        args = args.mid(2);
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: mivex_cabbench [--shot PNG] CABINET SOURCE...\n");
        return 2;
    }
    Answered prompts;
    prompts.mCabinet = args[0];
    mivex::ui::Prompts::install(&prompts);
    std::vector<std::string> rows;
    for (const QString& source : args.mid(1)) {
        rows.push_back("C-N --> " + source.toStdString() + " --> /backup");
    }
    bool saved = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* status = qobject_cast<mivex::ui::frmStatus*>(w);
            if (!shot.isEmpty() && !saved && status && status->isVisible() && status->writing() &&
                status->barWrite->value() > 0) {
                saved = status->grab().save(shot);
                status->cmdCancel->click();
            }
        }
    });
    tick.start(0);
    QWidget owner;
    owner.show();
    mivex::ui::ArchiveMaker().cmdMakeCab_Click(&owner, rows);
    mivex::ui::Prompts::install(nullptr);
    return (shot.isEmpty() ? prompts.mLast.endsWith("was created successfully.") : saved) ? 0 : 1;
}
