// The output stream of the cabinet writer: buffered, seekable, over a descriptor the writer owns.
// libgcab writes its headers a few bytes per call and ignores short writes, so this stream always
// takes a write whole (GBufferedOutputStream takes only what fits in its buffer, and the rest of a
// data block would be lost).
#pragma once

#include <gio/gio.h>

namespace mivex {

// A new stream writing to `fd` (which stays open when the stream is closed or freed).
GOutputStream* newCabinetOutput(int fd);

// The first failure (an errno) of a write or seek of the stream, or 0.
int cabinetOutputError(GOutputStream* stream);

}  // namespace mivex
