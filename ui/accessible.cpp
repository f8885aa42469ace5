// Qt announces a combo box on Linux by its shown text and leaves the accessible name to a label
// beside it: both drive lists would be read as "/". A plain QWidget made a window is a "client"
// area, which the accessibility bus calls a filler.
#include "ui/accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>

namespace mivex::ui {

namespace {

class NamedComboBox : public QAccessibleWidget {
public:
    explicit NamedComboBox(QWidget* w) : QAccessibleWidget(w, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        const auto* combo = static_cast<const QComboBox*>(widget());
        if (t == QAccessible::Value) {
            return combo->currentText();
        }
        if (t == QAccessible::Name && !combo->accessibleName().isEmpty()) {
            return combo->accessibleName();
        }
        return QAccessibleWidget::text(t);
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
