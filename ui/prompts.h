// Every modal question the program asks goes through here: message boxes, the input box and the
// file dialogs. The program uses the Qt dialogs; tests install their own Prompts to answer in
// advance and to read what was shown.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace mivex::ui {

class Prompts {
public:
    enum class Icon { None, Warning, Critical };
    virtual ~Prompts() = default;

    virtual void message(QWidget* parent, const QString& text, const QString& title, Icon icon) = 0;
    // The same with `details` the user can unfold below the text (QMessageBox::setDetailedText).
    // Prompts that cannot show details show the text alone.
    virtual void detailedMessage(QWidget* parent, const QString& text, const QString& title,
                                 Icon icon, const QString& details) {
        (void)details;
        message(parent, text, title, icon);
    }
    // The answer, or an empty text when the user cancelled.
    virtual QString input(QWidget* parent, const QString& prompt, const QString& title,
                          const QString& defaultText) = 0;
    // The chosen file's full path, or an empty text when the user cancelled. `filter` is in Qt's
    // form, "FLQ File (*.flq)".
    virtual QString openFile(QWidget* parent, const QString& title, const QString& filter) = 0;
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& filter) = 0;

    // A question answered by one of `buttons` (captions): the index of the one pressed. Enter
    // presses `preferred`; Escape and the title bar's close answer `onEscape`, and do nothing when
    // it is -1. `details` unfold below the text (none when empty). Prompts that cannot ask take
    // the preferred button.
    struct Question {
        QStringList buttons;
        int preferred = 0;
        int onEscape = -1;
        QString details;
        Icon icon = Icon::None;
    };
    virtual int question(QWidget* parent, const QString& text, const QString& title,
                         const Question& question) {
        (void)parent, (void)text, (void)title;
        return question.preferred;
    }

    // The prompts in use: the Qt dialogs unless a test installed others (nullptr restores them).
    static Prompts& current();
    static void install(Prompts* prompts);
};

// A plain message: OK only, no icon, titled "Mivex".
void showMessage(QWidget* parent, const QString& text);
// The same with details to unfold.
void showMessage(QWidget* parent, const QString& text, const QString& details);
// The stop-icon message titled "Error".
void showError(QWidget* parent, const QString& text);

}  // namespace mivex::ui
