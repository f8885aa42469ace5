// The status window of the archive command: one framed label showing the file being examined.
// While the cabinet is written it grows a bar of how far the writing is and a Cancel button. It
// has no behaviour of its own; the command shows it, writes into it and closes it.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace mivex::ui {

class frmStatus : public QDialog {
    Q_OBJECT
public:
    // Not modal: the owner stays usable. Centred over `owner` when shown.
    explicit frmStatus(QWidget* owner);

    QGroupBox* Frame1;
    QLabel* lblStatus;
    QProgressBar* barWrite;
    QPushButton* cmdCancel;

    // The writing phase: the bar and Cancel below the frame; the frame stays as it was.
    void showWriting();
    bool writing() const;
    // The file being packed and how far the whole cabinet is, from 0 to 1.
    void showWritten(const QString& file, double fraction);

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace mivex::ui
