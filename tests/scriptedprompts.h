// The window tests' answer to every modal question while it lives: answers from a script, and a
// record of what was shown and asked.
#pragma once

#include <QStringList>
#include <vector>

#include "ui/prompts.h"

namespace mivex::test {

class ScriptedPrompts : public ui::Prompts {
public:
    struct Shown {
        QString text, title, details;  // details: empty when there is nothing to unfold
    };
    ScriptedPrompts() { ui::Prompts::install(this); }
    ~ScriptedPrompts() override { ui::Prompts::install(nullptr); }
    void message(QWidget*, const QString& text, const QString& title, Icon) override {
        shown.push_back({text, title, {}});
    }
    void detailedMessage(QWidget*, const QString& text, const QString& title, Icon,
                         const QString& details) override {
        shown.push_back({text, title, details});
    }
    QString input(QWidget*, const QString& prompt, const QString& title,
                  const QString& defaultText) override {
        return next(title + ": " + prompt + " [" + defaultText + "]");
    }
    QString openFile(QWidget*, const QString& title, const QString& filter) override {
        return next(title + " " + filter);
    }
    QString saveFile(QWidget*, const QString& title, const QString& filter) override {
        return next(title + " " + filter);
    }
    // Each as "title: text" when `titled`.
    QStringList texts(bool titled = false) const {
        QStringList out;
        for (const Shown& s : shown) {
            out << (titled ? s.title + ": " + s.text : s.text);
        }
        return out;
    }
    std::vector<Shown> shown;
    QStringList asked;
    QStringList answers;  // taken in order by the dialogs and the input box
    QString answer;       // given once the script has run out (empty: cancelled)
    QString next(const QString& question) {
        asked << question;
        return answers.isEmpty() ? answer : answers.takeFirst();
    }
};

}  // namespace mivex::test
