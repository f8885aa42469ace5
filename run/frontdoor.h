// The answers to `--help` and `--version`, which command-line users expect of every program.
#pragma once

#include <optional>
#include <string>

namespace mivex {

// The text to print on standard output when the command line is exactly one of `--help`, `-h`
// or `--version`; nothing for any other command line, which then keeps its usual meaning (a
// list path, or an unattended run).
std::optional<std::string> frontDoorText(int argc, const char* const* argv);

}  // namespace mivex
