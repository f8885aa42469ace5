// The drive drop-down. Its items are refilled with signals blocked so that only a real change of
// the selected drive reaches the pane's change handler.
#include "ui/main/drivelist.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QStyle>

#include "platform/drives.h"

namespace mivex::ui {

DriveList::DriveList(DriveSource drives, QWidget* parent)
    : QComboBox(parent), mDrives(std::move(drives)) {
    setEditable(false);
    refresh();
    connect(this, &QComboBox::currentIndexChanged, this, [this](int) {
        showCurrent();
        emit driveChanged();
    });
}

// Screen readers learn the shown drive from the list's selected item and the description (see
// accessible.cpp); Qt selects the item in the list only as the list drops down.
void DriveList::showCurrent() {
    view()->setCurrentIndex(model()->index(currentIndex(), 0));
    QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
}

QString DriveList::drive() const {
    return currentData().toString();
}

void DriveList::setDrive(const QString& path) {
    std::vector<std::string> drives;
    for (int i = 0; i < count(); ++i) {
        drives.push_back(itemData(i).toString().toStdString());
    }
    const int index = findData(QString::fromStdString(driveOf(path.toStdString(), drives)));
    if (index >= 0 && index != currentIndex()) {
        setCurrentIndex(index);  // emits driveChanged() through currentIndexChanged
    }
}

void DriveList::refresh() {
    const std::string previous = drive().toStdString();
    const std::vector<std::string> drives = mDrives();
    // A drive that went away is replaced by the drive that now holds its mount point, which is
    // where the pane's folder already lives; so the pane needs no notice either way.
    const QString keep =
        QString::fromStdString(previous.empty() ? drives.front() : driveOf(previous, drives));

    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    const bool wasBlocked = blockSignals(true);
    clear();
    for (const std::string& drive : drives) {
        const QString text = QString::fromStdString(drive);
        addItem(icon, text, text);
    }
    setCurrentIndex(std::max(0, findData(keep)));
    blockSignals(wasBlocked);
    showCurrent();
}

}  // namespace mivex::ui
