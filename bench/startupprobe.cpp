// The window's start-up time, measured from outside the program: loaded with LD_PRELOAD, this
// prints the milliseconds from process start to the first shown top-level window and quits the
// program at the event loop's next turn. bench/startup.sh times with it; packaging/check-deb.sh
// checks with it that the installed window opens.
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

// From /proc/self/stat's start time (clock ticks since boot) to now on the same clock.
double millisecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double startMs = std::stod(field) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6 - startMs;
}

class FirstWindow : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (!mSeen && event->type() == QEvent::Show && widget && widget->isWindow()) {
            // The show event is sent before the window is painted; the loop's next turn paints.
            mSeen = true;
            QTimer::singleShot(0, [] {
                std::printf("startup-ms %.1f\n", millisecondsSinceProcessStart());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool mSeen = false;
};

void watchForTheFirstWindow() {
    QCoreApplication::instance()->installEventFilter(new FirstWindow(QCoreApplication::instance()));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(watchForTheFirstWindow)
