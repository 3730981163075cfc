// Test hook: returns the whole host platform to its state before first use.
#pragma once

// Forgets the environment read and the DRAVIK_FAIL list with its call counts,
// closes the heartbeat file, the debug facility's log files and the SAP locks,
// and empties the debug facility's terminal lists and the VESK handle tables
// (without closing their sockets). The next platform call
// reads the environment again.
void host_env_reset();

namespace host {
// Each part's own reset, called by host_env_reset.
void corvan_reset();  // closes the heartbeat file; the count starts at zero
void dbgfac_reset();  // closes the log files, forgets the terminal lists (files stay)
void fs_reset();      // the next card path creates the directories again
void vesk_reset();    // forgets every SAP and option word, lets go of the SAP locks
}  // namespace host
