// The Qt dialogs behind every modal question, and the switch that lets tests answer instead.
#include "ui/prompts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <vector>

namespace mivex::ui {

namespace {

constexpr QMessageBox::Icon kIcons[] = {QMessageBox::NoIcon, QMessageBox::Warning,
                                        QMessageBox::Critical};  // by Prompts::Icon

class QtPrompts : public Prompts {
public:
    void message(QWidget* parent, const QString& text, const QString& title, Icon icon) override {
        detailedMessage(parent, text, title, icon, QString());
    }
    void detailedMessage(QWidget* parent, const QString& text, const QString& title, Icon icon,
                         const QString& details) override {
        QMessageBox box(kIcons[static_cast<int>(icon)], title, text, QMessageBox::Ok, parent);
        box.setDetailedText(details);  // none when empty
        box.exec();
    }
    QString input(QWidget* parent, const QString& prompt, const QString& title,
                  const QString& defaultText) override {
        bool ok = false;
        QString answer =
            QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
        return ok ? answer : QString();
    }
    // The preferred button accepts, the Escape answer rejects, the others are actions of their
    // own: the desktop's button order places them as it places those of its own boxes.
    int question(QWidget* parent, const QString& text, const QString& title,
                 const Question& q) override {
        QMessageBox box(kIcons[static_cast<int>(q.icon)], title, text, QMessageBox::NoButton,
                        parent);
        box.setDetailedText(q.details);  // none when empty
        QList<QAbstractButton*> made;
        for (int i = 0; i < q.buttons.size(); ++i) {
            const auto role = i == q.preferred  ? QMessageBox::AcceptRole
                              : i == q.onEscape ? QMessageBox::RejectRole
                                                : QMessageBox::ActionRole;
            made << box.addButton(q.buttons[i], role);
        }
        if (q.preferred >= 0 && q.preferred < made.size()) {
            box.setDefaultButton(qobject_cast<QPushButton*>(made[q.preferred]));
        }
        if (q.onEscape >= 0 && q.onEscape < made.size()) {
            box.setEscapeButton(made[q.onEscape]);
        }
        box.exec();
        return made.indexOf(box.clickedButton());
    }
    // Qt's own dialog, not the desktop's: the same on every desktop, and no portal round trips.
    QString openFile(QWidget* parent, const QString& title, const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, title, QString(), filter, nullptr,
                                            QFileDialog::DontUseNativeDialog);
    }
    QString saveFile(QWidget* parent, const QString& title, const QString& filter) override {
        return QFileDialog::getSaveFileName(parent, title, QString(), filter, nullptr,
                                            QFileDialog::DontUseNativeDialog);
    }
};

Prompts* gInstalled = nullptr;

}  // namespace

Prompts& Prompts::current() {
    static QtPrompts qtPrompts;
    return gInstalled ? *gInstalled : qtPrompts;
}

void Prompts::install(Prompts* prompts) {
    gInstalled = prompts;
}

void showMessage(QWidget* parent, const QString& text) {
    Prompts::current().message(parent, text, QStringLiteral("Mivex"), Prompts::Icon::None);
}

void showMessage(QWidget* parent, const QString& text, const QString& details) {
    Prompts::current().detailedMessage(parent, text, QStringLiteral("Mivex"), Prompts::Icon::None,
                                       details);
}

void showError(QWidget* parent, const QString& text) {
    Prompts::current().message(parent, text, QCoreApplication::translate("mivex", "Error"),
                               Prompts::Icon::Critical);
}

}  // namespace mivex::ui
