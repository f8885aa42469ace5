// The window tests' answer to every modal question: answers from a script, and a record of what
// was shown and asked.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "ui/prompts.h"

namespace mivex::test {

class ScriptedPrompts : public ui::Prompts {
public:
    struct Shown {
        QString text, title;
        Icon icon;
        QString details;  // what the box offers to unfold; empty when nothing
    };
    void message(QWidget*, const QString& text, const QString& title, Icon icon) override {
        shown.push_back({text, title, icon, {}});
    }
    void detailedMessage(QWidget*, const QString& text, const QString& title, Icon icon,
                         const QString& details) override {
        shown.push_back({text, title, icon, details});
    }
    QString input(QWidget*, const QString& prompt, const QString& title,
                  const QString& defaultText) override {
        asked << title + ": " + prompt + " [" + defaultText + "]";
        return next();
    }
    QString openFile(QWidget*, const QString& title, const QString& filter) override {
        asked << title + " " + filter;
        return next();
    }
    QString saveFile(QWidget*, const QString& title, const QString& filter) override {
        asked << title + " " + filter;
        return next();
    }

    // The texts shown, and the same as "title: text".
    QStringList texts() const {
        QStringList out;
        for (const Shown& s : shown) {
            out << s.text;
        }
        return out;
    }
    QStringList titled() const {
        QStringList out;
        for (const Shown& s : shown) {
            out << s.title + ": " + s.text;
        }
        return out;
    }

    std::vector<Shown> shown;
    QStringList asked;
    QStringList answers;  // taken in order by the dialogs and the input box
    QString answer;       // given once the script has run out (empty: cancelled)

private:
    QString next() { return answers.isEmpty() ? answer : answers.takeFirst(); }
};

}  // namespace mivex::test
