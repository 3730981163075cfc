// Test hook: returns the whole host platform to its state before first use.
#pragma once

// Forgets the environment read and the DRAVIK_FAIL list with its call counts,
// unmaps the heartbeat file and empties the debug facility's terminal lists and
// the VESK handle tables (without closing descriptors). The next platform call
// reads the environment again.
void host_env_reset();

namespace host {
// Each part's own reset, called by host_env_reset.
void corvan_reset();  // unmaps the heartbeat file; the count starts at zero
void dbgfac_reset();  // forgets every facility's terminal list (files stay)
void fs_reset();      // the next card path creates the directories again
void vesk_reset();    // forgets every SAP and option word (closes nothing)
}  // namespace host
