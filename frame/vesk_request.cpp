#include "frame/vesk_request.h"

#include <cstdio>

#include "dpplog/control.h"
#include "frame/frame.h"
#include "platform/corvan.h"
#include "platform/vesk.h"
#include "portdebug/port_request.h"
#include "portdebug/vty_map.h"
#include "wire/be.h"
#include "wire/opcodes.h"
#include "xipc/xipc_comm.h"

int processVESKreq(int handle) {
  // The message record lives in this frame for the length of one message.
  vesk_msg_t msg;

  if (vesk_recv(handle, &msg, 0) < 0) {
    printf("error = %d\n", vesk_errno_get(handle));
    return -1;
  }

  if (process_spawned_by_corvan == 1) {
    int r = corvan_dispatch(&msg);
    if (r == 0) {
      vesk_drop(handle, &msg);
      return 0;
    }
    if (r != -1) return r;
  }

  const std::uint32_t opcode = vesk_opc_get(&msg);
  printf("VESK Opcode:%d\n", static_cast<int>(opcode));

  if (opcode == kOpcodeReleaseAll) {
    stopDebugMsgFlow();
    vesk_drop(handle, &msg);
    return 0;
  }
  if (opcode == kOpcodeRebindXipc) {
    wire::Bytes payload(static_cast<const std::uint8_t*>(vesk_payload_get(&msg)),
                        VESK_MAX_PAYLOAD + 1);
    initXIPCcomm(wire::get_u32(payload, 0) == 0 ? kDaemonXipcPort : 0);
    vesk_drop(handle, &msg);
    return 0;
  }
  if (is_log_manager_opcode(opcode)) {
    process_vesk_message(&msg);
    vesk_drop(handle, &msg);
    return 0;
  }
  return handlePortDebugRequest(handle, &msg);
}
