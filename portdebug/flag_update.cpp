#include "portdebug/flag_update.h"

#include <algorithm>
#include <cstdio>

#include "platform/output.h"
#include "portdebug/cmd_table.h"
#include "xipc/xipc.h"
#include "xipc/xipc_addr.h"
#include "xipc/xipc_comm.h"

namespace {

void copy_fenk(const wire::DebugRequest& request, wire::FlagUpdateMsg& msg, std::uint32_t type) {
  msg.sess_type = 2;
  msg.type = type;
  msg.fenk = request.fenk;
  msg.init_fcid = request.init_fcid;
  msg.targ_fcid = request.targ_fcid;
}

}  // namespace

void getParameterFromRequest(const wire::DebugRequest& request, wire::FlagUpdateMsg& msg) {
  msg.sess_type = 0;
  const std::int32_t id = request.commandID;
  if (wire::carries_names(id)) {
    if (request.init[0] != '\0' && request.tgt[0] != '\0') {
      std::printf("%s: Get parameter init %s, tgt %s\n", "getParameterFromRequest", request.init,
                  request.tgt);
      msg.sess_type = 1;
      // The whole 256-byte fields travel, whatever follows a name's NUL.
      std::copy_n(request.init, msg.init.size(), msg.init.begin());
      std::copy_n(request.tgt, msg.tgt.size(), msg.tgt.begin());
    }
  } else if (const std::uint32_t type = wire::fenk_filter_type(id); type != 0) {
    copy_fenk(request, msg, type);
    if (type == 2)
      std::printf("%s sess_type: %d type: %d QIT: [%d 0x%x 0x%x]\n", "getParameterFromRequest", 2,
                  2, static_cast<int>(msg.fenk), msg.init_fcid, msg.targ_fcid);
  }
}

int updateDebugFlagOnSibyte(std::uint32_t mask, std::uint32_t module, std::uint32_t port,
                            std::uint32_t op, const wire::DebugRequest* request) {
  wire::FlagUpdateMsg msg;
  msg.op = op;
  msg.mask = mask;
  msg.module = module;
  if (request != nullptr) getParameterFromRequest(*request, msg);
  const auto datagram = wire::encode_flag_update(msg);

  XipcAddr dst{};
  dst.family = AF_XIPC;
  dst.core = static_cast<std::uint16_t>(port);
  dst.module = kXipcModulePortDebug;
  dst.opcode = kXipcOpcodePortDebug;
  dst.length = static_cast<std::uint16_t>(datagram.size());

  flush_output();
  if (xipc_sendto(sd, datagram.data(), datagram.size(), 0, &dst, kXipcAddrSize) == -1) {
    std::printf("%s : sendto failed, retval: %d\n", "updateDebugFlagOnSibyte", -1);
    return -1;
  }
  return 0;
}
