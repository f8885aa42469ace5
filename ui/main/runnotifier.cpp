// The desktop's notification of a finished run.
#include "ui/main/runnotifier.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>
#include <QWidget>

namespace mivex::ui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

RunNotifier::RunNotifier(QWidget* window) : QObject(window), mWindow(window) {}

void RunNotifier::runEnded(const QString& text, bool inUse) {
    if (!mWindow || inUse) {
        return;
    }
    QApplication::alert(mWindow);
    // A session without a bus gets none started for it (libdbus would launch one on X11).
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime + "/bus")))) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    if (!mListening) {
        mListening = bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                                 SLOT(actionInvoked(uint, QString)));
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QStringList actions{QStringLiteral("default"), tr("Show Mivex")};
    call << QStringLiteral("Mivex") << uint(0) << QStringLiteral("mivex") << tr("Mivex: run ended")
         << text << actions << QVariantMap{} << int(-1);
    // Asked without waiting: a service that is slow or missing never holds the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* done) {
                const QDBusPendingReply<uint> reply = *done;
                if (!reply.isError()) {
                    mShownId = reply.value();
                }
                done->deleteLater();
            });
}

void RunNotifier::actionInvoked(uint id, const QString& action) {
    (void)action;  // every action of ours means "show me"
    if (id != mShownId || !mWindow) {
        return;
    }
    mWindow->showNormal();
    mWindow->raise();
    mWindow->activateWindow();
}

}  // namespace mivex::ui
