// The question before a run: see prerundialog.h.
#include "ui/main/prerundialog.h"

#include <QCoreApplication>
#include <QStringList>

#include "queue/prerun.h"
#include "ui/localnumbers.h"
#include "ui/prompts.h"

namespace mivex::ui {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// At most this many lines of each kind in the box itself; all of them under its details.
constexpr int kShownLines = 8;

void listInto(QString& text, QString& details, const QString& heading, const QStringList& lines) {
    if (lines.isEmpty()) {
        return;
    }
    text += QStringLiteral("\n\n") + heading;
    details += (details.isEmpty() ? QString() : QStringLiteral("\n\n")) + heading;
    for (int i = 0; i < lines.size(); ++i) {
        details += QStringLiteral("\n") + lines[i];
        if (i < kShownLines) {
            text += QStringLiteral("\n") + lines[i];
        }
    }
    if (lines.size() > kShownLines) {
        text += QStringLiteral("\n") +
                QCoreApplication::translate("mivex", "... and %n more (see Show Details)", nullptr,
                                            int(lines.size() - kShownLines));
    }
}

}  // namespace

bool confirmRun(QWidget* parent, const std::vector<std::string>& rows, CountedSources* counted) {
    const PreRunReport report = checkBeforeRun(rows, counted);
    if (report.clean()) {
        return true;
    }
    QStringList missing, room;
    for (const MissingSource& m : report.missing) {
        missing
            << QCoreApplication::translate("mivex", "line %1: %2").arg(m.row + 1).arg(q(m.source));
    }
    for (const ShortFilesystem& s : report.shortOfRoom) {
        room << QCoreApplication::translate("mivex",
                                            "%1: the entries would write %2 there, %3 is free")
                    .arg(q(s.dest), localBytes(s.needed), localBytes(s.available));
    }
    QString text = QCoreApplication::translate(
        "mivex",
        "Nothing has been written yet, but some entries will fail as the queue "
        "stands.");
    QString details;
    listInto(text, details, QCoreApplication::translate("mivex", "Sources that do not exist:"),
             missing);
    listInto(text, details,
             QCoreApplication::translate("mivex", "Destinations without enough free space:"), room);
    text += QStringLiteral("\n\n") +
            QCoreApplication::translate("mivex",
                                        "Continue to run the queue anyway, or Cancel to change it "
                                        "first.");
    const int answer = Prompts::current().question(
        parent, text, QStringLiteral("Mivex"),
        {.buttons = {QCoreApplication::translate("mivex", "Continue"),
                     QCoreApplication::translate("mivex", "Cancel")},
         .preferred = 0,
         .onEscape = 1,
         .details = missing.size() + room.size() > kShownLines ? details : QString(),
         .icon = Prompts::Icon::Warning});
    return answer == 0;
}

}  // namespace mivex::ui
