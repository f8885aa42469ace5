// The help window: the program's HTML help file in a text browser. One window per main window;
// asking for help again brings it forward at the first page.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace mivex::ui {

class frmHelp : public QWidget {
    Q_OBJECT
public:
    explicit frmHelp(QWidget* parent = nullptr);

    // Shows `path` from its first page, or says in the window that it could not be read.
    void showContents(const QString& path);

    QTextBrowser* txtHelp;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace mivex::ui
