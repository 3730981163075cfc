#include "dpplog/broadcast.h"

#include <cstdio>

#include "dpplog/state.h"
#include "platform/output.h"
#include "wire/dpp_flag_msg.h"
#include "xipc/xipc.h"
#include "xipc/xipc_comm.h"

extern "C" {
XipcAddr dpp_flag_addr = {AF_XIPC, 0, 0, 0, {0, 0, 0}, 0, 0, 0};
}

extern "C" void send_flag_to_dpps(std::uint32_t flags, std::uint32_t dpps) {
  wire::DppFlagMsg msg;
  msg.num_categories = kDppLogCategories;
  msg.level = debug_level;
  msg.flags = flags;
  // Blocks of clear bits stay zero: they carry no information to the DPP.
  for (int k = 0; k < kDppLogCategories; ++k) {
    if (flags & (1u << k)) {
      for (int w = 0; w < 4; ++w) msg.filters[k][w] = cur_filters[k][w];
    }
  }
  const auto bytes = wire::encode_dpp_flag(msg);

  if (dpp_flag_addr.module == 0) {
    puts("DPPDEBUG_MGR_DBG: Initializing xipc address");
    dpp_flag_addr.module = kXipcModuleDppLog;
    dpp_flag_addr.opcode = kXipcOpcodeDppLog;
    dpp_flag_addr.length = static_cast<std::uint16_t>(wire::dpp_flag::kSize);
  }

  if (num_dpps <= 0 || dpps == 0) return;

  for (int n = 1; n <= num_dpps; ++n) {
    if ((dpps & (1u << (n - 1))) == 0) continue;
    dpp_flag_addr.core = first_core_of_dpp(static_cast<unsigned>(n));
    flush_output();
    if (xipc_sendto(fd_xipc, bytes.data(), bytes.size(), 0, &dpp_flag_addr, kXipcAddrSize) < 0) {
      report_error("send xipc message");
    } else {
      printf("DPPDEBUG_MGR_INFO: Sending flag 0x%X level %d to DPP %d\n", flags, debug_level, n);
    }
  }
}
