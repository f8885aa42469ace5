// The window tests' answer to every modal question while it lives: one answer to every dialog and
// input box, and a record of what was shown.
#pragma once

#include <QStringList>
#include <algorithm>
#include <functional>
#include <vector>

#include "ui/prompts.h"

namespace mivex::test {

class ScriptedPrompts : public ui::Prompts {
public:
    struct Shown {
        QString text, details;  // details: empty when there is nothing to unfold
    };
    ScriptedPrompts() { ui::Prompts::install(this); }
    ~ScriptedPrompts() override { ui::Prompts::install(nullptr); }
    void message(QWidget*, const QString& text, const QString&, Icon) override {
        shown.push_back({text, {}});
    }
    void detailedMessage(QWidget*, const QString& text, const QString&, Icon,
                         const QString& details) override {
        shown.push_back({text, details});
    }
    // The first of `choices` that the question offers is pressed, else what Escape answers; by
    // default the answers that leave the gestures as they were before these questions were asked.
    int question(QWidget*, const QString& text, const QString&, const Question& q) override {
        offered = q.buttons;
        if (beforeChoice) {
            beforeChoice();  // a look at the windows behind the box
        }
        shown.push_back({text, q.details});
        const auto pressed = std::find_if(choices.begin(), choices.end(),
                                          [&](const QString& c) { return q.buttons.contains(c); });
        return pressed == choices.end() ? q.onEscape : int(q.buttons.indexOf(*pressed));
    }
    QString input(QWidget*, const QString&, const QString&, const QString&) override {
        return answer;
    }
    QString openFile(QWidget* parent, const QString& title, const QString& filter) override {
        return saveFile(parent, title, filter);
    }
    QString saveFile(QWidget*, const QString&, const QString&) override {
        if (beforeChoice) {
            beforeChoice();
        }
        return answer;
    }
    QStringList texts() const {
        QStringList out;
        for (const Shown& s : shown) {
            out << s.text;
        }
        return out;
    }
    std::vector<Shown> shown;
    QString answer;                      // empty: cancelled
    QStringList offered;                 // the buttons the last question offered
    std::function<void()> beforeChoice;  // called as a question, or a file dialog, is shown
    QStringList choices{"Discard", "Continue"};
};

}  // namespace mivex::test
