// What "dppsim send" sends, as its command line (main.cpp) sets it, and the
// datagrams it builds: what a DPP sends the daemon's
// endpoint 0.37.1024, always from module 39 (the daemon drops anything else).
//
//   text          PortDebugTextMsg, sender opcode 88: per-port debug text
//   log           DppLogMsg of a category, sender opcode 33
//   ipc rx|tx     DppLogMsg of category 1 (RX) or 2 (TX): an IPC header record
//
// The length field is the text's length plus 1, counting its NUL, unless
// --length names another. "{n}" in a text stands for the record's sequence
// number (1 to --count), so a load run can be followed in the log files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/dpp_log_msg.h"

namespace dppsim {

enum class SendKind { Text, Log, IpcRx, IpcTx };

struct SendPlan {
  SendKind kind = SendKind::Text;
  unsigned dpp = 1;   // one-based
  unsigned core = 0;  // the core within the DPP, 0-3
  std::uint32_t category = 0;
  std::optional<std::uint32_t> length;  // --length; else text length + 1
  wire::IpcMsgHeader header;
  std::string text;
  std::uint64_t count = 1;
  double rate = 0;  // records per second; 0: as fast as possible
};

// The XIPC core the records come from: 4(dpp-1) + core.
std::uint16_t sender_core(const SendPlan& p);
std::uint16_t sender_opcode(const SendPlan& p);
// The text of record seq: "{n}" replaced by seq.
std::string text_for(const SendPlan& p, std::uint64_t seq);
// The payload of record seq (after the sender address).
std::vector<std::uint8_t> payload_for(const SendPlan& p, std::uint64_t seq);
// "per-port debug text", "log records of category 5", ...
std::string kind_name(const SendPlan& p);

}  // namespace dppsim
