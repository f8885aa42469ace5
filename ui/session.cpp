// One window per desktop session, over the session bus.
#include "ui/session.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

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

// How long a start waits for the window's answer to Enqueue, and how long the window looks at the
// paths before it answers that it could not (a stalled network path, a stopped FUSE daemon): less,
// so that the start hears why. A window that answers nothing at all (stopped, hung, or another
// program owning the name) costs a start this wait, and nothing is queued.
constexpr int kEnqueueWaitMs = 10000;
constexpr int kLookWaitMs = 6000;
constexpr char kNotLookedAt[] = "example.mivex.mivex.Error.PathsNotLookedAt";

// The paths of an Enqueue call as they were looked at off the window thread, each once: the path,
// a file's folder and the destination. The window's admission looks at them again, then quickly.
struct Looked {
    std::vector<bool> found;
    std::vector<struct stat> st;
};

Looked lookAt(const EnqueueLine& line) {
    Looked looked;
    for (const std::string& path : line.paths) {
        struct stat st {};
        looked.found.push_back(::stat(path.c_str(), &st) == 0);
        looked.st.push_back(st);
        if (looked.found.back() && S_ISREG(st.st_mode)) {
            struct stat folder;
            ::stat(parentOf(path).c_str(), &folder);
        }
    }
    if (struct stat to; !line.to.empty()) {
        ::stat(line.to.c_str(), &to);
    }
    return looked;
}

// Admits the paths of `line`, as looked at, into `window`: the refusals, one line each.
QStringList admitLooked(frmMain& window, const EnqueueLine& line, const Looked& looked) {
    QStringList refused;
    for (std::size_t i = 0; i < line.paths.size(); ++i) {
        const std::string& path = line.paths[i];
        const struct stat& st = looked.st[i];
        if (!looked.found[i] || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))) {
            const QString why =
                looked.found[i]
                    ? QApplication::translate("mivex", "%1 is neither a file nor a folder")
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

// One Enqueue call from its arrival to its answer.
struct PendingEnqueue {
    EnqueueLine line;
    QDBusMessage call;
    QDBusConnection bus;
    Looked looked;          // written by the looking thread before it ends
    bool answered = false;  // the window thread's
};

// The window's face on the session bus.
class WindowService : public QObject, protected QDBusContext {
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
    // Paths to queue; answers one line for each refused path. The paths are looked at on a thread
    // of their own, so that one on a stalled network path never holds the window; the answer
    // follows once they are queued, or says after kLookWaitMs that they were not.
    Q_SCRIPTABLE QStringList Enqueue(const QString& to, const QString& copy,
                                     const QString& overwrite, const QStringList& paths) {
        auto pending = std::make_shared<PendingEnqueue>(PendingEnqueue{
            {fromQ(to), fromQ(copy), fromQ(overwrite), {}, {}}, message(), connection(), {}});
        for (const QString& path : paths) {
            pending->line.paths.push_back(fromQ(path));
        }
        bringToFront(mWindow);
        setDelayedReply(true);
        QThread* looking = QThread::create([pending] { pending->looked = lookAt(pending->line); });
        connect(looking, &QThread::finished, this, [this, pending] {
            if (!pending->answered) {  // else the start has heard that nothing was queued
                answer(*pending, pending->call.createReply(
                                     admitLooked(mWindow, pending->line, pending->looked)));
            }
        });
        connect(looking, &QThread::finished, looking, &QObject::deleteLater);
        QTimer::singleShot(kLookWaitMs, this, [this, pending] {
            answer(*pending,
                   pending->call.createErrorReply(
                       QString::fromLatin1(kNotLookedAt),
                       QStringLiteral("the window could not look at the paths within %1 seconds "
                                      "(a stalled network or FUSE path?)")
                           .arg(kLookWaitMs / 1000)));
        });
        looking->start();
        return {};
    }

private:
    // The first answer goes; a later one is dropped.
    static void answer(PendingEnqueue& pending, const QDBusMessage& reply) {
        if (!pending.answered) {
            pending.answered = true;
            pending.bus.send(reply);
        }
    }

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

// What a start says when the name's owner did not take its paths; nullopt when the window went
// away meanwhile (this start then opens one of its own).
std::optional<QString> notTaken(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return reply.signature() == QLatin1String("as")
                   ? std::nullopt
                   : std::optional(QStringLiteral("the owner of the D-Bus name %1 is not a Mivex "
                                                  "window (it answered \"%2\")")
                                       .arg(QLatin1String(kBusName), reply.signature()));
    }
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return std::nullopt;
    }
    if (error == QLatin1String(kNotLookedAt)) {
        return reply.errorMessage();
    }
    if (error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        error == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
        return QStringLiteral(
                   "the Mivex window of this session (D-Bus name %1) did not answer "
                   "within %2 seconds")
            .arg(QLatin1String(kBusName))
            .arg(kEnqueueWaitMs / 1000);
    }
    return QStringLiteral("the owner of the D-Bus name %1 is not a Mivex window (%2: %3)")
        .arg(QLatin1String(kBusName), error, reply.errorMessage());
}

std::optional<int> handOverPaths(const EnqueueLine& line) {
    QStringList paths;
    for (const std::string& path : line.paths) {
        paths << toQ(path);
    }
    const QDBusMessage reply = callWindow(
        "Enqueue", {toQ(line.to), toQ(line.copy), toQ(line.overwrite), paths}, kEnqueueWaitMs);
    if (const std::optional<QString> why = notTaken(reply)) {
        std::fprintf(stderr, "mivex: %s; the paths were not queued\n",
                     why->toLocal8Bit().constData());
        return kNotQueuedStatus;
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return std::nullopt;  // gone meanwhile: this start opens a window of its own
    }
    return reportRefusals(reply.arguments().value(0).toStringList());
}

}  // namespace

std::optional<int> handOver(const WindowWork& work) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kBusName))) {
        return std::nullopt;
    }
    if (work.enqueue) {
        return handOverPaths(*work.enqueue);
    }
    if (callWindow("Open", {toQ(work.argumentText)}, 25000).type() != QDBusMessage::ReplyMessage) {
        // Gone meanwhile, or not answering: this start opens a window of its own.
        return std::nullopt;
    }
    return 0;
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
    return admitLooked(window, line, lookAt(line));
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
