// Byte counts as people read them, for the window's progress and the terminal's progress line.
#pragma once

#include <cstdint>
#include <string>

namespace mivex {

// "830 bytes", "1.5 MB": binary multiples, one decimal from KB up, written the same way in every
// locale. A count that would round to 1024.0 of a unit is shown in the next one, so 1,048,575
// bytes is "1.0 MB", never "1024.0 KB".
std::string formatBytes(std::uint64_t bytes);

}  // namespace mivex
