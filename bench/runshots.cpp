// Pictures of a run for docs/screenshots (scripts/screenshots.sh):
//   mivex_runshots FOLDER LIST  loads LIST into the main window, presses "Process Files!" and
// saves the progress window running (progress-running.png) and paused (progress-paused.png),
// then skips the entry in hand, and saves the closing box with its details unfolded
// (run-finished-details.png); then the main window with what each row came to
// (main-window-after-run.png), and the options dialog of the defaults (options-defaults.png) and
// of the first row (options-entry.png), all into FOLDER.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "ui/main/frmmain.h"
#include "ui/main/frmprogress.h"
#include "ui/options/frmoptions.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: mivex_runshots FOLDER LIST\n");
        return 2;
    }
    const QString folder = args[0] + "/";
    mivex::ui::frmMain w;
    w.show();
    w.LoadQueueList(args[1]);
    int step = 0;
    int saved = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        auto* progress = w.findChild<mivex::ui::frmProgress*>();
        if (progress && progress->isVisible() && step < 4) {
            auto* pause = progress->findChild<QPushButton*>("cmdPause");
            if (step == 0 && !progress->findChild<QLabel*>("lblRemaining")->text().isEmpty()) {
                saved += progress->grab().save(folder + "progress-running.png");
                pause->click();
                step = 1;
            } else if (step >= 1 && step < 3) {
                ++step;  // a refresh or two for the paused display
            } else if (step == 3) {
                saved += progress->grab().save(folder + "progress-paused.png");
                pause->click();
                progress->findChild<QPushButton*>("cmdSkip")->click();
                step = 4;
            }
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && step == 0 && !progress) {
            box->defaultButton()->click();  // Continue: a source is gone, as the question says
            return;
        }
        if (!box || step < 4) {
            return;
        }
        if (step == 4) {
            for (QAbstractButton* button : box->buttons()) {
                if (box->buttonRole(button) == QMessageBox::ActionRole &&
                    button->text().startsWith("Show Details")) {
                    button->click();
                }
            }
            step = 5;
        } else if (step == 5) {
            saved += box->grab().save(folder + "run-finished-details.png");
            box->defaultButton()->click();  // OK
            step = 6;
        }
    });
    tick.start(150);
    QTimer::singleShot(0, &w, [&] {
        w.cmdCopy->click();
        tick.stop();
        const auto shot = [&](QWidget* window, const char* name) {
            window->show();
            QApplication::processEvents();
            saved += window->grab().save(folder + name);
        };
        shot(&w, "main-window-after-run.png");
        mivex::ui::frmOptions defaults(&w, w.optionsContext());
        defaults.SetupForm(QStringLiteral("Defaults"));
        shot(&defaults, "options-defaults.png");
        w.lstQueue->setCurrentRow(2);
        mivex::ui::frmOptions entry(&w, w.optionsContext());
        entry.SetupForm(QStringLiteral("FromList"));
        shot(&entry, "options-entry.png");
        app.quit();
    });
    app.exec();
    return saved == 6 ? 0 : 1;
}
