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

class QtPrompts : public Prompts {
public:
    void message(QWidget* parent, const QString& text, const QString& title, Icon icon) override {
        detailedMessage(parent, text, title, icon, QString());
    }
    void detailedMessage(QWidget* parent, const QString& text, const QString& title, Icon icon,
                         const QString& details) override {
        QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon, title,
                        text, QMessageBox::Ok, parent);
        box.setDetailedText(details);  // none when empty
        box.exec();
    }
    bool ask(QWidget* parent, const QString& text, const QString& title) override {
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    }
    int detailedChoice(QWidget* parent, const QString& text, const QString& title,
                       const QString& details, const QStringList& buttons) override {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
        box.setDetailedText(details);
        std::vector<QAbstractButton*> added;
        for (const QString& caption : buttons) {
            added.push_back(box.addButton(caption, QMessageBox::ActionRole));
        }
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        const auto it = std::find(added.begin(), added.end(), box.clickedButton());
        return it == added.end() ? -1 : static_cast<int>(it - added.begin());
    }
    QString input(QWidget* parent, const QString& prompt, const QString& title,
                  const QString& defaultText) override {
        bool ok = false;
        QString answer =
            QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
        return ok ? answer : QString();
    }
    int choose(QWidget* parent, const QString& text, const QString& title,
               const QStringList& buttons, const QString& details) override {
        QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
        box.setDetailedText(details);
        QList<QAbstractButton*> made;
        for (const QString& caption : buttons) {
            made << box.addButton(
                caption, made.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        }
        if (!made.isEmpty()) {
            box.setDefaultButton(qobject_cast<QPushButton*>(made.first()));
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
