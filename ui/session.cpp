// One window per desktop session, over the session bus.
#include "ui/session.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <limits>

#include "platform/pathtext.h"
#include "queue/queueentry.h"
#include "ui/main/frmmain.h"
#include "ui/prompts.h"
#include "ui/startup.h"

namespace mivex::ui {

namespace {

// Runs `work` from the event loop once no dialog of the window is open (a run's progress, a
// message): a list opened or a message shown from outside must not slip in under one, and the
// caller on the bus has its answer before a message waits for its OK.
void whenNoDialog(QObject* context, const std::function<void()>& work) {
    QTimer::singleShot(QApplication::activeModalWidget() ? 250 : 0, context, [context, work] {
        if (QApplication::activeModalWidget() != nullptr) {
            whenNoDialog(context, work);
        } else {
            work();
        }
    });
}

void bringToFront(frmMain& window) {
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

// The window's face on the session bus.
class WindowService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "example.mivex.mivex.Window")
public:
    explicit WindowService(frmMain& window) : QObject(&window), mWindow(window) {}

public slots:
    // A command line as another start got it: a list to open, or "" to come to the front.
    Q_SCRIPTABLE void Open(const QString& argumentText) {
        const std::string text = fromQ(argumentText);
        // Answered at once; the list is opened (with its questions and messages) afterwards.
        bringToFront(mWindow);
        if (!text.empty()) {
            whenNoDialog(&mWindow, [this, text] { OpenFromCommandLine(mWindow, text); });
        }
    }
    // Paths to queue; answers one line for each refused path.
    Q_SCRIPTABLE QStringList Enqueue(const QString& to, const QString& copy,
                                     const QString& overwrite, const QStringList& paths) {
        EnqueueLine line{fromQ(to), fromQ(copy), fromQ(overwrite), {}, {}};
        for (const QString& path : paths) {
            line.paths.push_back(fromQ(path));
        }
        bringToFront(mWindow);
        return enqueueInto(mWindow, line);
    }

private:
    frmMain& mWindow;
};

QDBusMessage callWindow(const char* method, const QList<QVariant>& arguments, int timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kBusName), QString::fromLatin1(kObjectPath),
        QString::fromLatin1(kInterface), QString::fromLatin1(method));
    call.setArguments(arguments);
    call.setAutoStartService(false);  // only a window that is open takes work
    return QDBusConnection::sessionBus().call(call, QDBus::Block, timeoutMs);
}

int reportRefusals(const QStringList& refused) {
    for (const QString& line : refused) {
        std::fprintf(stderr, "mivex: %s\n", line.toLocal8Bit().constData());
    }
    return refused.isEmpty() ? 0 : 1;
}

}  // namespace

std::optional<int> handOver(const WindowWork& work) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kBusName))) {
        return std::nullopt;
    }
    QDBusMessage reply;
    if (work.enqueue) {
        const EnqueueLine& line = *work.enqueue;
        QStringList paths;
        for (const std::string& path : line.paths) {
            paths << toQ(path);
        }
        reply = callWindow("Enqueue", {toQ(line.to), toQ(line.copy), toQ(line.overwrite), paths},
                           std::numeric_limits<int>::max());
    } else {
        reply = callWindow("Open", {toQ(work.argumentText)}, 25000);
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // Gone meanwhile, or not answering: this start opens a window of its own.
        return std::nullopt;
    }
    return work.enqueue ? reportRefusals(reply.arguments().value(0).toStringList()) : 0;
}

bool serveSession(frmMain& window) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return true;
    }
    auto* service = new WindowService(window);
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), service,
                            QDBusConnection::ExportScriptableSlots)) {
        delete service;
        return true;  // the bus refuses: the window works alone
    }
    const auto claimed = bus.interface()->registerService(
        QString::fromLatin1(kBusName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (claimed.isValid() && claimed.value() == QDBusConnectionInterface::ServiceNotRegistered) {
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
        delete service;
        return false;
    }
    return true;
}

QStringList enqueueInto(frmMain& window, const EnqueueLine& line) {
    QStringList refused;
    for (const std::string& path : line.paths) {
        struct stat st;
        const bool found = ::stat(path.c_str(), &st) == 0;
        if (!found || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))) {
            const QString why =
                found ? QApplication::translate("mivex", "%1 is neither a file nor a folder")
                      : QApplication::translate("mivex", "%1 does not exist");
            refused << why.arg(toQ(path));
            whenNoDialog(&window, [&window, text = refused.back()] { showMessage(&window, text); });
            continue;
        }
        const bool isFile = S_ISREG(st.st_mode);
        const QueueEntry entry{line.copy.empty() ? window.gCopy : line.copy,
                               line.overwrite.empty() ? window.gOverwrite : line.overwrite, path,
                               line.to.empty() ? window.destPath() : line.to};
        const Admission result = window.admit(entry, isFile ? parentOf(path) : path);
        if (result != Admission::Admitted) {
            refused << toQ(path) + QStringLiteral(": ") + frmMain::refusalText(result, entry);
            whenNoDialog(&window, [&window, result, entry] { window.tellRefusal(result, entry); });
        }
    }
    return refused;
}

int doHere(frmMain& window, const WindowWork& work) {
    if (work.enqueue) {
        return reportRefusals(enqueueInto(window, *work.enqueue));
    }
    if (!work.argumentText.empty()) {
        OpenFromCommandLine(window, work.argumentText);
    }
    return 0;
}

}  // namespace mivex::ui

#include "session.moc"
