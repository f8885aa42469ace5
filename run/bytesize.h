// Byte counts as people read them, for the window's progress and the terminal's progress line.
#pragma once

#include <cstdint>
#include <string>

namespace mivex {

// The unit a count is written in: binary multiples from KB up, `unit` null below 1024 bytes. A
// count that would round to 1024.0 of a unit is given in the next one, so 1,048,575 bytes is 1.0
// MB, never 1024.0 KB.
struct ScaledBytes {
    double value;
    const char* unit;  // "KB", "MB", ...; nullptr: `value` is whole bytes
};
ScaledBytes scaleBytes(std::uint64_t bytes);

// "830 bytes", "1.5 MB": one decimal from KB up, written the same way in every locale (the
// terminal and the logs; the window writes the same units in the user's locale).
std::string formatBytes(std::uint64_t bytes);

}  // namespace mivex
