// Qt announces a combo box on Linux by its shown text and leaves the accessible name to a label
// beside it: both drive lists would be read as "/". A plain QWidget made a window is a "client"
// area, which the accessibility bus calls a filler.
#include "ui/accessible.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>

namespace mivex::ui {

namespace {

// A combo box named by its accessible name, which still tells what it shows: its list of items
// as its child, as a plain Qt combo box has it (the combo box keeps its current item selected
// there), and the shown item as its description and value.
class NamedComboBox : public QAccessibleWidget {
public:
    explicit NamedComboBox(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        const QComboBox* box = combo();
        if (t == QAccessible::Value || t == QAccessible::Description) {
            return box->currentText();
        }
        if (t == QAccessible::Name && !box->accessibleName().isEmpty()) {
            return box->accessibleName();
        }
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == list() ? 0 : -1;
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction()) {
            static_cast<QComboBox*>(widget())->showPopup();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

private:
    const QComboBox* combo() const { return static_cast<const QComboBox*>(widget()); }
    QAbstractItemView* list() const { return combo()->view(); }
};

QAccessibleInterface* interfaceFor(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("mivex::ui::DriveList")) {
        return new NamedComboBox(widget);
    }
    if (className == QLatin1String("mivex::ui::frmHelp")) {
        return new QAccessibleWidget(widget, QAccessible::Window);
    }
    return nullptr;
}

}  // namespace

void installAccessibleInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(interfaceFor);
        return true;
    }();
    (void)installed;
}

}  // namespace mivex::ui
