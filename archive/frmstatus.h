// The status window of the archive command: one framed label showing the file being examined. It
// has no behaviour of its own; the command shows it, writes paths into it and closes it.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;

namespace mivex::ui {

class frmStatus : public QDialog {
    Q_OBJECT
public:
    // Not modal: the owner stays usable. Centred over `owner` when shown.
    explicit frmStatus(QWidget* owner);

    QGroupBox* Frame1;
    QLabel* lblStatus;

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace mivex::ui
