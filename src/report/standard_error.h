#pragma once

#include <string_view>

namespace lumivane::report {

// Standard error written beside the caller, so that a host that reads it
// only once the module has ended (its pipe full) never holds the window: the
// lines wait in a bounded queue that one writer thread empties; what a full
// queue cannot take is dropped, and the journal says so once (it keeps every
// message itself).
void QueueForStandardError(std::string_view line);

// At the module's end: waits a moment for the queue to be written, so that a
// host that reads still gets the last lines; never longer.
void DrainStandardError();

}  // namespace lumivane::report
