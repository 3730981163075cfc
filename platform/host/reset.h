// Test hook: returns the whole host platform to its state before first use.
#pragma once

// Forgets the environment read and the DRAVIK_FAIL list with its call counts,
// unmaps the heartbeat file and empties the debug facility's terminal lists and
// the VESK handle tables (without closing descriptors). The next platform call
// reads the environment again.
void host_env_reset();
