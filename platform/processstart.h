// What both programs settle first thing at start, before any file is opened: the three standard
// descriptors, and the signals that would end a run for a write that may simply fail.
#pragma once

namespace mivex {

// Opens /dev/null onto any of descriptors 0, 1 and 2 that is closed (a job runner's "2>&-"):
// otherwise the next file opened, the run log say, becomes standard error and takes the failure
// reports. Ignores SIGPIPE and SIGXFSZ, so that a report to a reader that is gone (a dropped ssh
// session, "| head -1") and a file over the size limit ("ulimit -f") are failed writes (EPIPE,
// EFBIG) that the run goes past, not the end of the run. Both stay ignored in the window program
// that the unattended one starts.
void settleProcessStart();

}  // namespace mivex
