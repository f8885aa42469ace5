#include "ui/usersettings.h"

#include <QSettings>

namespace mivex::ui::settings {

namespace {

// The user's file; QSettings writes it back when the object goes.
struct Store : QSettings {
    Store() : QSettings(QStringLiteral("Mivex"), QStringLiteral("mivex")) {}
};

constexpr const char* kVerify = "runs/verify";
constexpr const char* kSpeedLimit = "runs/speedLimit";

}  // namespace

bool verify() {
    return Store().value(QLatin1String(kVerify), false).toBool();
}

void setVerify(bool on) {
    Store().setValue(QLatin1String(kVerify), on);
}

std::uint64_t speedLimit() {
    bool ok = false;
    const qulonglong rate = Store().value(QLatin1String(kSpeedLimit), 0).toULongLong(&ok);
    return ok ? rate : 0;  // a hand-edited value that is no number lifts the limit
}

void setSpeedLimit(std::uint64_t bytesPerSecond) {
    Store().setValue(QLatin1String(kSpeedLimit), qulonglong(bytesPerSecond));
}

}  // namespace mivex::ui::settings
