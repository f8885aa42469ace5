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
    enum class Icon { None, Critical };
    virtual ~Prompts() = default;

    virtual void message(QWidget* parent, const QString& text, const QString& title, Icon icon) = 0;
    // The same with `details` the user can unfold below the text (QMessageBox::setDetailedText).
    // Prompts that cannot show details show the text alone.
    virtual void detailedMessage(QWidget* parent, const QString& text, const QString& title,
                                 Icon icon, const QString& details) {
        (void)details;
        message(parent, text, title, icon);
    }
    // A yes-or-no question, No the default (Esc): true for Yes. Prompts that cannot ask say No.
    virtual bool ask(QWidget* parent, const QString& text, const QString& title) {
        (void)parent, (void)text, (void)title;
        return false;
    }
    // A message with details and buttons of its own beside OK: the index in `buttons` of the one
    // pressed, or -1 for OK or a closed box. Prompts that cannot offer buttons show the message.
    virtual int detailedChoice(QWidget* parent, const QString& text, const QString& title,
                               const QString& details, const QStringList& buttons) {
        (void)buttons;
        detailedMessage(parent, text, title, Icon::None, details);
        return -1;
    }
    // The answer, or an empty text when the user cancelled.
    virtual QString input(QWidget* parent, const QString& prompt, const QString& title,
                          const QString& defaultText) = 0;
    // The chosen file's full path, or an empty text when the user cancelled. `filter` is in Qt's
    // form, "FLQ File (*.flq)".
    virtual QString openFile(QWidget* parent, const QString& title, const QString& filter) = 0;
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& filter) = 0;

    // A question answered by one of `buttons` (captions, the first the default): the index of the
    // one pressed, or -1 when the box was closed otherwise (Escape, the title bar). Prompts that
    // cannot ask take the default.
    virtual int choose(QWidget* parent, const QString& text, const QString& title,
                       const QStringList& buttons, const QString& details) {
        (void)parent, (void)text, (void)title, (void)details;
        return buttons.isEmpty() ? -1 : 0;
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
