// The About box: the program's name and version, what it is for, and its legal notice.
#pragma once

#include <QDialog>

#include "version.h"

class QLabel;
class QPushButton;

namespace mivex::ui {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    // The version information the box shows.
    static constexpr int kMajor = kVersionMajor;
    static constexpr int kMinor = kVersionMinor;
    static constexpr int kRevision = kVersionRevision;
    static const char* const kComments;
    static const char* const kLegalCopyright;

public slots:
    void cmdClose_Click();

public:
    QLabel* lblInfo;
    QPushButton* cmdClose;

private:
    void Form_Load();
};

}  // namespace mivex::ui
