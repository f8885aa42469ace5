// Interactive start-up: the command line's list, then the main window until it closes.
#pragma once

#include <string>

namespace mivex {

namespace ui {
class frmMain;
}

// Runs the window with `argumentText` as the command line (not an unattended one); returns the
// process's exit status.
int Main(int argc, char** argv, const std::string& argumentText);

// Loads the list named by a (non-unattended) command line into the window before it is shown, or
// says why it cannot.
void OpenFromCommandLine(ui::frmMain& window, const std::string& argumentText);

}  // namespace mivex
