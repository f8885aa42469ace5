// Interactive start-up: the command line's list, then the main window until it closes.
#pragma once

#include <string>

namespace mivex {

// Runs the window with `argumentText` as the command line (not an unattended one); returns the
// process's exit status.
int Main(int argc, char** argv, const std::string& argumentText);

}  // namespace mivex
