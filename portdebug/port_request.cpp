#include "portdebug/port_request.h"

#include <cstdio>
#include <cstring>
#include <span>

#include "platform/output.h"
#include "portdebug/cmd_table.h"
#include "portdebug/flag_update.h"
#include "portdebug/show.h"
#include "portdebug/vty_map.h"
#include "wire/debug_request.h"
#include "wire/vesk_frame.h"

namespace {

constexpr const char* kHandler = "processVESKreq";

// A terminal field without a NUL of its own names no path: reading it as one
// would run into the filter fields. Paths that end inside the field but are
// too long for a map row are left to storeInMap, which refuses to store them;
// the rest of the request still goes ahead.
bool term_acceptable(const wire::DebugRequest& request) { return request.term_terminated; }

void subscribe_or_release(const wire::DebugRequest& request) {
  const CmdMaskEntry& cmd = cmdMaskTable[request.commandID];  // 1..123, checked
  std::printf("%s:*** Port: %d CommandID: %d NoFlag: %d  Term: %s ***\n\n", kHandler, request.port,
              request.commandID, request.noFlag, request.term);
  if (request.noFlag != 0) {
    freeEntry(cmd.mask, cmd.module, request.term, request.port);
    // Judged after the removal: the bits that the last row of this module and
    // port does not hold go off, even if an earlier row of another terminal
    // still holds them.
    const std::uint32_t bits = notRegisteredMask(cmd.mask, cmd.module, request.port);
    if (bits != 0)
      updateDebugFlagOnSibyte(bits, cmd.module, request.port, wire::kFlagOpOff, &request);
  } else {
    // The DPP is told even when the terminal could not be stored: the
    // operator asked for the bits, and the on-update carries the whole mask.
    storeInMap(cmd.mask, cmd.module, request.term, request.port);
    updateDebugFlagOnSibyte(cmd.mask, cmd.module, request.port, wire::kFlagOpOn, &request);
  }
}

}  // namespace

// In order:
//   - clears the 5000-byte reply buffer `buf`;
//   - commandID 126 (`show_command`): lists the active commands (showDebugCmds);
//   - commandID 1 to 123: prints the request, then unsubscribes (noFlag not 0:
//     freeEntry, then an off-update for the bits notRegisteredMask leaves
//     unheld) or subscribes (storeInMap, then an on-update with the command's
//     whole mask, whatever storeInMap returned);
//   - any other commandID (0, 124, 125, negative, 127 and above) names no
//     command: nothing is read, stored, freed or sent to a DPP;
//   - a terminal field without a NUL inside its 106 bytes names no path and
//     is refused the same way. A path that ends inside the field but is 100
//     characters or longer goes ahead: storeInMap refuses to store it, and
//     the flag update and the reply still go out;
//   - replies with the 8-byte header FE 00 00 00 00 00 00 00 and all 5000
//     bytes of `buf`, drops msg, and prints the map.
int handlePortDebugRequest(int handle, vesk_msg_t* msg) {
  // The payload buffer is zero past the bytes received, so a short request
  // reads as if zero-padded; nothing past the buffer is ever read.
  const auto* payload = static_cast<const std::uint8_t*>(vesk_payload_get(msg));
  const wire::DebugRequest request =
      wire::decode_debug_request(std::span(payload, sizeof msg->payload));

  std::memset(buf, 0, sizeof buf);

  if (request.commandID != show_command && !names_debug_command(request.commandID)) {
    std::printf("%s: CommandID %d names no debug command, ignored\n", kHandler, request.commandID);
  } else if (!term_acceptable(request)) {
    std::printf("%s: terminal path too long, request ignored\n", kHandler);
  } else if (request.commandID == show_command) {
    showDebugCmds(request.term);
  } else {
    subscribe_or_release(request);
  }

  flush_output();
  if (vesk_send(handle, wire::kReplyHeaderBytes.data(), 0, buf, static_cast<int>(sizeof buf), 0,
                msg, 0) == -1)
    std::puts("Failed to send response");
  vesk_drop(handle, msg);
  printMap();
  return 0;
}
