// One window per desktop session: a start that finds a Mivex window in the session (over the
// session bus) hands it its work, a list to open or paths to queue, and ends; with no session
// bus each start keeps its own window. Unattended runs never get here.
#pragma once

#include <QStringList>
#include <optional>
#include <string>

#include "run/commandline.h"

namespace mivex::ui {

class frmMain;

// The bus name is the program's id, as its AppStream data gives it.
inline constexpr char kBusName[] = "example.mivex.mivex";
inline constexpr char kObjectPath[] = "/example/mivex/mivex";
inline constexpr char kInterface[] = "example.mivex.mivex.Window";

// The exit status of an --enqueue start whose paths no window took (the name's owner did not
// answer in time, or is no Mivex window): nothing was queued, as with a mistake in the command
// line or no display.
inline constexpr int kNotQueuedStatus = 2;

// What a start asks of the window: its command line (a list path, or nothing: come to the front),
// or paths to queue.
struct WindowWork {
    std::string argumentText;
    std::optional<EnqueueLine> enqueue;
};

// Hands `work` to the session's window: the exit status of this start, or nothing when there is
// no window to take it (or no session bus) and this start must open one itself.
std::optional<int> handOver(const WindowWork& work);

// Makes `window` the session's window; false when another start took that place first (then
// hand the work over). True without a session bus: there is no place to take.
bool serveSession(frmMain& window);

// Queues each path of `line` in `window` by the add buttons' rules: a file as a file entry, a
// folder as a folder entry. Refused paths are told in the window as the buttons tell them (once
// no dialog is open), and answered one line each for standard error.
QStringList enqueueInto(frmMain& window, const EnqueueLine& line);

// Does `work` in this process's own window (nothing to hand over): the list opened, or the paths
// queued with their refusals on standard error; the exit status such a start would have had.
int doHere(frmMain& window, const WindowWork& work);

}  // namespace mivex::ui
