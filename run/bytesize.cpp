// Byte counts as people read them.
#include "run/bytesize.h"

#include <charconv>
#include <iterator>

namespace mivex {

std::string formatBytes(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    // 1023.95 and above would be written "1024.0".
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    // to_chars, unlike printf, ignores the locale: never "1,5 MB" in a German one.
    char text[32];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return std::string(text, written.ptr) + ' ' + kUnits[unit];
}

}  // namespace mivex
