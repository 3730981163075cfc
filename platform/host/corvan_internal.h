// Test hook of the host system manager.
#pragma once

namespace host {
// Unmaps the heartbeat file and restarts the heartbeat count at zero; the next
// heartbeat creates the file afresh.
void corvan_reset();
}  // namespace host
