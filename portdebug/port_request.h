// A per-port debug request: every VESK opcode that is not the release of all
// subscriptions, the XIPC rebind or one of the log manager's.
#pragma once

#include "platform/vesk.h"

// Handles the per-port debug request in msg, received on `handle` (the
// daemon's q), and finishes with it: a listing request (`show_command`) lists
// the active commands; a command id 1-123 subscribes the request's terminal
// to the command on its port, or releases it, and switches the DPP core's
// bits to match; any other id, or a terminal field that holds no path, is
// refused with a line and changes nothing. Every request is answered with the
// 5000-byte reply buffer and dropped. Always returns 0.
int handlePortDebugRequest(int handle, vesk_msg_t* msg);
