// Numbers and byte counts as the window shows them: in the user's locale ("1.214 Dateien",
// "400,0 MB" in German), with the units the terminal and the run log use (run/bytesize.h).
#pragma once

#include <QCoreApplication>
#include <QLocale>
#include <QString>
#include <cstdint>

#include "run/bytesize.h"

namespace mivex::ui {

inline QString localCount(std::uint64_t count) {
    return QLocale().toString(static_cast<qulonglong>(count));
}

inline QString localBytes(std::uint64_t bytes) {
    const ScaledBytes scaled = scaleBytes(bytes);
    if (!scaled.unit) {
        return QCoreApplication::translate("mivex", "%1 bytes").arg(localCount(bytes));
    }
    return QLocale().toString(scaled.value, 'f', 1) + QLatin1Char(' ') + QLatin1String(scaled.unit);
}

}  // namespace mivex::ui
