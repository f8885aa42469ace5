// The drive list of a browse pane: a drop-down of the mounted filesystems a person would browse.
#pragma once

#include <QComboBox>
#include <functional>
#include <string>
#include <vector>

namespace mivex::ui {

// Where the drives come from: the machine's mounts (listDrives), or a fixed set.
using DriveSource = std::function<std::vector<std::string>()>;

class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(DriveSource drives, QWidget* parent = nullptr);

    // The selected drive's mount point ("/" or "/media/usb").
    QString drive() const;
    // Selects the drive that holds `path`. Choosing another drive than the selected one emits
    // driveChanged() at once, before this returns; choosing the same one emits nothing.
    void setDrive(const QString& path);
    // Reads the set of drives again, keeping the selection where that drive still exists.
    void refresh();

signals:
    void driveChanged();  // by the user or by setDrive()

private:
    void showCurrent();
    DriveSource mDrives;
};

}  // namespace mivex::ui
