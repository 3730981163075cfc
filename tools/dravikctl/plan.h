// What one dravikctl command asks for, worked out before anything is sent:
// the message to send (opcode and payload), how it is answered, and what to
// tell the operator. The command line is CLI11's (cli.h); the planners take
// its values and raise tools::UsageError for one the daemon cannot take.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "portdebug/vty_map.h"
#include "tools/cli/numbers.h"
#include "tools/dravikctl/command_words.h"
#include "wire/opcodes.h"

namespace dravikctl {

using tools::UsageError;

// Per-port debug requests: the daemon takes every opcode it does not serve
// itself as one, so the CLI side may use any such opcode.
constexpr std::uint32_t kOpcodePortDebug = 4000;
static_assert(is_port_debug_opcode(kOpcodePortDebug));

constexpr std::chrono::milliseconds kDefaultTimeout{2000};
// The most characters of a terminal path the daemon keeps.
constexpr std::size_t kMaxVtyPath = kVtyPathSize - 1;
constexpr std::uint32_t kMaxDpp = 32;  // a DPP set has 32 bits

enum class ActionKind {
  ListCommands,  // print every per-port debug command
  Request,       // send to SAP 930 and wait for the reply
  Send,          // send to SAP 930; no reply comes
  Notify,        // send to every SAP registered for the opcode
  ReadLog,       // read (or follow) the DPPs' log files (log_read.h)
};

// What to do with the reply of a Request.
enum class ReplyUse {
  Confirm,  // print `done`
  Listing,  // show debug: print the listing the reply holds, if any
  Report,   // log show: print the report text
};

struct Action {
  ActionKind kind = ActionKind::Request;
  std::uint32_t opcode = 0;
  std::vector<std::uint8_t> payload;
  ReplyUse reply = ReplyUse::Confirm;
  std::string done;  // what to print once the message went through
  std::string vty;   // the terminal of a per-port request
  std::chrono::milliseconds timeout = kDefaultTimeout;
  std::optional<std::string> platform_dir;  // --dir; else the environment
  // ReadLog: the DPPs asked for (none: every DPP with a file), the set's
  // base name ("" : the current set), and whether to follow.
  std::vector<std::uint32_t> dpps;
  std::string log_name;
  bool follow = false;
};

// Per-port debug. vty: the terminal the daemon writes to, "" when there is
// none (refused: the daemon opens it for every request).
Action plan_port_debug(const std::vector<std::string>& words, bool off, const std::string& vty);
Action plan_show_debug(const std::string& vty);

// The log manager. which: "all" or a number (categories), "all" or a list
// "1,2" (DPPs); filters: up to four words, with "on N" only; vty: the
// terminal named to the debug facility, "" for none.
Action plan_log_categories(bool on, const std::string& which,
                           const std::vector<std::uint32_t>& filters, const std::string& vty);
Action plan_log_dpps(bool on, const std::string& which, const std::string& vty);
Action plan_log_level(const std::string& level);
Action plan_log_file(const std::string& name);

// Platform notifications; DPPs one-based. entries: "N:STATUS" each.
Action plan_dpp_state(bool up, std::uint32_t dpp);
Action plan_feature_request(std::uint32_t feature, const std::vector<std::uint32_t>& dpps);
Action plan_feature_complete(std::uint32_t feature, const std::vector<std::string>& entries);

// Formats a match failure for the operator, nearest commands included.
std::string describe_match_error(const MatchError& e);

}  // namespace dravikctl
