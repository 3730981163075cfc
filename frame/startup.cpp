// Start-up of the daemon's two descriptors and its shutdown.
#include <array>
#include <cstdio>

#include "frame/frame.h"
#include "platform/output.h"
#include "platform/vesk.h"
#include "portdebug/vty_map.h"
#include "wire/be.h"
#include "xipc/xipc.h"
#include "xipc/xipc_comm.h"

extern "C" {

int create_a_SAP(void) {
  // The bind address: zero but for a 16-bit 1 at byte 4 and a 32-bit 77 at
  // byte 12, in the card's byte order.
  std::array<std::uint8_t, 24> addr{};
  wire::put_u16(addr, 4, 1);
  wire::put_u32(addr, 12, 77);
  q = vesk_bind(2, kDaemonSap, addr.data(), "RECV");
  if (q == -1) {
    report_error("Unable to run receiver");
    return -1;
  }
  printf("Bound to SAP: %d\n", kDaemonSap);
  return 0;
}

// Binds q on SAP 930 and registers it for opcode 922. 0, or -1 with q at -1:
// a handle that could not be registered is released at once.
static int bindDaemonSap(void) {
  if (create_a_SAP() == -1) return -1;
  auto word =
      static_cast<std::uint16_t>(vesk_options_get(q, kOpcodeReleaseAll) | VESK_OPT_REGISTER);
  if (vesk_options_set(q, kOpcodeReleaseAll, word) < 0) {
    report_error("vesk_register");
    vesk_unbind(q, 0);
    q = -1;
    return -1;
  }
  return 0;
}

int initialize(void) {
  initSignalHandler();
  initCmdVTYmap();
  sb_install_sig_handler();
  if (bindDaemonSap() == -1) return -1;
  if (initXIPCcomm(kDaemonXipcPort) == -1) return -1;
  return 0;
}

void cleanupAndExit(void) {
  puts("Cleaning up and exiting...");
  if (q != 0) vesk_unbind(q, 0);
  if (sd != 0) xipc_close(sd);
  sd = -1;
}
}  // extern "C"

int rebindAfterManagerRelease(void) { return bindDaemonSap(); }
