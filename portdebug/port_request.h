// A per-port debug request: every VESK opcode that is not the release of all
// subscriptions, the XIPC rebind or one of the log manager's.
#pragma once

#include "platform/vesk.h"

// Handles the per-port debug request in msg, received on `handle` (the
// daemon's q), and finishes with it. In order:
//   - clears the 5000-byte reply buffer `buf`;
//   - commandID 126 (`show_command`): lists the active commands (showDebugCmds);
//   - commandID 1 to 123: prints the request, then unsubscribes (noFlag not 0:
//     freeEntry, then an off-update for the bits notRegisteredMask leaves
//     unheld) or subscribes (storeInMap, then an on-update with the command's
//     whole mask, whatever storeInMap returned);
//   - any other commandID (0, 124, 125, negative, 127 and above) names no
//     command: "processVESKreq: CommandID %d names no debug command, ignored"
//     is printed and nothing else happens — no row is read, stored or freed,
//     nothing is sent to a DPP;
//   - a terminal field without a NUL inside its 106 bytes names no path and
//     is refused the same way ("processVESKreq: terminal path too long,
//     request ignored"). A path that ends inside the field but is 100
//     characters or longer goes ahead: storeInMap refuses to store it
//     ("storeInMap: terminal path too long, not stored"), and the flag update
//     and the reply still go out;
//   - replies with the 8-byte header FE 00 00 00 00 00 00 00 and all 5000
//     bytes of `buf` ("Failed to send response" when that fails), drops msg,
//     and prints the map.
// Always returns 0.
int handlePortDebugRequest(int handle, vesk_msg_t* msg);
