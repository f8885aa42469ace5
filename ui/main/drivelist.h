// The drive list of a browse pane: a drop-down of the mounted filesystems a person would browse.
#pragma once

#include <QComboBox>
#include <QStringList>

namespace mivex::ui {

class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget* parent = nullptr);

    // The selected drive's mount point ("/" or "/media/usb").
    QString drive() const;
    // Selects the drive that holds `path`. Choosing another drive than the selected one emits
    // driveChanged() at once, before this returns; choosing the same one emits nothing.
    void setDrive(const QString& path);
    // Reads the set of drives again, keeping the selection where that drive still exists.
    void refresh();

    // For tests: a fixed set of drives instead of the machine's mounts (empty restores them).
    static void setDrivesForTesting(const QStringList& drives);

signals:
    void driveChanged();  // by the user or by setDrive()
};

}  // namespace mivex::ui
