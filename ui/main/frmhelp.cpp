// The help window. Links inside the help file move within the window; links to anything else
// open in the desktop's browser.
#include "ui/main/frmhelp.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace mivex::ui {

frmHelp::frmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(tr("Mivex Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    txtHelp = new QTextBrowser(this);
    txtHelp->setObjectName(QStringLiteral("txtHelp"));
    txtHelp->setOpenExternalLinks(true);
    txtHelp->setAccessibleName(tr("Mivex Help"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(txtHelp);
    resize(720, 560);
}

// A window of its own, not a dialog: Escape would not close it otherwise.
void frmHelp::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmHelp::showContents(const QString& path) {
    const QFileInfo file(path);
    if (file.isFile() && file.isReadable()) {
        const QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
        if (txtHelp->source() == url) {
            txtHelp->reload();  // open already: read it afresh, from the top
        } else {
            txtHelp->setSource(url);
        }
        txtHelp->clearHistory();
        txtHelp->verticalScrollBar()->setValue(0);
        return;
    }
    txtHelp->clearHistory();
    txtHelp->setHtml(tr("<h2>Mivex Help</h2><p>The help file could not be opened:</p>"
                        "<p><tt>%1</tt></p><p>It belongs in the program folder, "
                        "beside the program itself. Installing Mivex again puts it "
                        "back.</p>")
                         .arg(path.toHtmlEscaped()));
}

}  // namespace mivex::ui
