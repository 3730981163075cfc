#include "tools/dppsim/send_plan.h"

#include "tools/dppsim/dpp_state.h"
#include "xipc/xipc_addr.h"

namespace dppsim {

std::uint16_t sender_core(const SendPlan& p) {
  return static_cast<std::uint16_t>(first_core_of_dpp(p.dpp) + p.core);
}

std::uint16_t sender_opcode(const SendPlan& p) {
  return p.kind == SendKind::Text ? kXipcOpcodePortDebug : kXipcOpcodeDppLog;
}

std::string text_for(const SendPlan& p, std::uint64_t seq) {
  std::string s = p.text;
  const std::string n = std::to_string(seq);
  for (std::size_t at = s.find("{n}"); at != std::string::npos; at = s.find("{n}", at + n.size()))
    s.replace(at, 3, n);
  return s;
}

std::vector<std::uint8_t> payload_for(const SendPlan& p, std::uint64_t seq) {
  const std::string text = text_for(p, seq);
  const std::uint32_t length = p.length.value_or(static_cast<std::uint32_t>(text.size() + 1));
  if (p.kind == SendKind::Text) return wire::encode_port_debug_text(length, text);
  return wire::encode_dpp_log(length, p.category, p.header, text);
}

std::string kind_name(const SendPlan& p) {
  switch (p.kind) {
    case SendKind::Text:
      return "per-port debug text record(s)";
    case SendKind::Log:
      return "log record(s) of category " + std::to_string(p.category);
    case SendKind::IpcRx:
      return "RX IPC header record(s)";
    case SendKind::IpcTx:
      return "TX IPC header record(s)";
  }
  return "";
}

}  // namespace dppsim
