// The answers to `--help` and `--version`.
#include "run/frontdoor.h"

#include <string_view>

#include "version.h"

namespace mivex {

namespace {

constexpr std::string_view kUsage =
    R"(Usage: mivex                  open the window with an empty queue
       mivex LIST.flq         open the window with the queue list LIST.flq
       mivex LIST.flq -auto [--verify] [--resume] [--bwlimit=RATE]
                              run the list unattended: no window, no display needed
       mivex --enqueue [--to FOLDER] [--move] [--overwrite] PATH...
                              add each file or folder PATH to the window's queue
       mivex --help | --version

One window serves a desktop session: a list opened (or --enqueue) while a Mivex
window is open goes to that window. --enqueue queues each PATH as the add buttons
do, into FOLDER or else the destination pane's folder, with the window's default
codes unless --move or --overwrite says otherwise; a refused PATH gets one line on
standard error and exit status 1. Status 2: nothing was queued (a mistake in the
command line, or no Mivex window answered within 10 seconds).

A queue list holds one operation per line:
  C-N --> /home/ann/report.doc --> /backup
C copies and M moves; N keeps both (the incoming item arrives as "name - Copy.ext"),
O overwrites, U updates: overwrites only a file whose size or modification time
(as finely as the destination keeps it) differs from the incoming one's; a move
removes a source file only once the destination holds its bytes.

An unattended run prints nothing when every entry succeeds. Each entry that fails is
named on standard error with the reason. Exit status: 0 every entry succeeded, 1 an
entry failed or the run was stopped, 2 the list is missing, unreadable, not a queue
list or too long (nothing was run).

--verify reads each copy back from the destination's disk and compares it with its
source before giving it its name; a copy that differs fails its entry (code 23), and
the file it would replace, or the source of a move, is kept.
--resume takes up the last run of LIST where a crash, a kill or a power cut cut it
off: entries it finished are not run again, files complete at the destination are
left, a keep-both folder it began is carried on. Without it a run starts afresh.
--bwlimit=RATE holds the whole run to RATE bytes per second, over all its files
together: 500K, 20M, 1G (powers of 1024), 0 for no limit. A RATE that is no rate,
or under 1K, is refused with exit status 2 and nothing is run.

Every run appends one line per entry to the day's run log MMDDYYYY-log.txt in
$XDG_STATE_HOME/mivex (by default ~/.local/state/mivex); a copy of Mivex that runs
from a folder of its own that the user may write (a build folder) logs there instead.
More in mivex(1).
)";

}  // namespace

std::optional<std::string> frontDoorText(int argc, const char* const* argv) {
    if (argc != 2) {
        return std::nullopt;
    }
    const std::string_view argument = argv[1];
    if (argument == "--help" || argument == "-h") {
        return std::string(kUsage);
    }
    if (argument == "--version") {
        return std::string("Mivex ") + kVersion + "\n";
    }
    return std::nullopt;
}

}  // namespace mivex
