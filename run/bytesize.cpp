// Byte counts as people read them.
#include "run/bytesize.h"

#include <charconv>
#include <iterator>

namespace mivex {

ScaledBytes scaleBytes(std::uint64_t bytes) {
    if (bytes < 1024) {
        return {static_cast<double>(bytes), nullptr};
    }
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    // 1023.95 and above would be written "1024.0".
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    return {value, kUnits[unit]};
}

std::string formatBytes(std::uint64_t bytes) {
    const ScaledBytes scaled = scaleBytes(bytes);
    if (!scaled.unit) {
        return std::to_string(bytes) + " bytes";
    }
    // to_chars, unlike printf, ignores the locale: never "1,5 MB" in a German one.
    char text[32];
    const auto written =
        std::to_chars(text, text + sizeof text, scaled.value, std::chars_format::fixed, 1);
    return std::string(text, written.ptr) + ' ' + scaled.unit;
}

}  // namespace mivex
