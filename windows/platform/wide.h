// Text at the system's edge: the core keeps paths as UTF-8 (lists, logs, messages), the system's
// calls take UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace mivex::win {

// UTF-8 to UTF-16; invalid sequences become U+FFFD (a list holds only valid UTF-8).
std::wstring widen(std::string_view utf8);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string narrow(std::wstring_view utf16);

// The system's message for a Win32 error code, in UTF-8 without the trailing line end.
std::string systemMessage(unsigned long code);

}  // namespace mivex::win
