// The handler of the daemon's VESK handle.
#pragma once

// Receives one message on `handle` (the daemon's q) and handles it completely:
// the system manager's own messages, 922 (release every subscription), 6111
// (rebind the XIPC socket), the log manager's opcodes, and per-port debug
// requests. Returns -1 when receiving failed (the main loop then ends), 0
// after every handled message, or the system manager's own result when that is
// neither 0 nor -1 (the message is then not dropped here).
int processVESKreq(int handle);
