// A word to the desktop when a run ends while the user looks elsewhere: one notification through
// the desktop's notification service (org.freedesktop.Notifications on the session bus), whose
// action brings the window back, and the taskbar's call for attention. With no session bus or no
// service, nothing is shown and nothing fails.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace mivex::ui {

class RunNotifier : public QObject {
    Q_OBJECT
public:
    explicit RunNotifier(QWidget* window);

    // Called when a run has ended: tells the desktop `text` unless `inUse`, that is unless the
    // window (or its progress window) was the active one as the run ended.
    void runEnded(const QString& text, bool inUse);

private slots:
    void actionInvoked(uint id, const QString& action);

private:
    QPointer<QWidget> mWindow;
    uint mShownId = 0;  // the notification last shown, whose action raises the window
    bool mListening = false;
};

}  // namespace mivex::ui
