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
  Complete,      // print the words that may follow (shell completion)
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
  Table,    // log categories: a table of every category from the report
};

// What dravikctl looks at, once the daemon has answered, to learn whether it
// did what was asked (verify.h).
enum class Check {
  None,
  Subscribe,    // the terminal opens as the daemon opens it; the port's core has an endpoint
  Unsubscribe,  // the port's core has an endpoint
  Listing,      // release-all, rebind: a listing request answered after it
  Categories,   // the report shows the categories on or off
  Dpps,         // the report's DPP instances
  Level,        // the report's debug level
  FileOpen,     // the files and links of the set; the report's log files
  FileClose,    // the report names no log file
  DppNotify,    // the DPPs named exist on the card
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

  // Further payloads of the same opcode, each sent and answered in turn
  // after `payload` (one SET_DEBUG per category).
  std::vector<std::vector<std::uint8_t>> more;
  Check check = Check::None;
  bool on = false;
  std::uint16_t core = 0;              // per-port: the core the bits went to
  std::string words;                   // per-port: the command as typed back
  std::vector<std::uint32_t> numbers;  // categories, or one-based DPPs; empty: all
  std::uint32_t level = 0;
  std::string name;                // the log files' base name
  bool force = false;              // log file: empty files that hold records
  std::vector<std::string> typed;  // complete: the words typed so far
};

// Per-port debug. vty: the terminal the daemon writes to, "" when there is
// none (refused: the daemon opens it for every request).
Action plan_port_debug(const std::vector<std::string>& words, bool off, const std::string& vty);
// show debug; vty "" lists to standard output (through a file the tool
// hands the daemon as the terminal).
Action plan_show_debug(const std::string& vty);

// The log manager. which: "all" or a number (categories), "all" or a list
// "1,2" (DPPs); filters: up to four words, with "on N" only; vty: the
// terminal named to the debug facility, "" for none.
// which: "all", or numbers and names (categories.h) separated by commas.
Action plan_log_categories(bool on, const std::string& which,
                           const std::vector<std::uint32_t>& filters, const std::string& vty);
Action plan_category_table();
Action plan_log_dpps(bool on, const std::string& which, const std::string& vty);
Action plan_log_level(const std::string& level);
Action plan_log_file(const std::string& name, bool force);

// Platform notifications; DPPs one-based. entries: "N:STATUS" each.
Action plan_dpp_state(bool up, std::uint32_t dpp);
Action plan_feature_request(std::uint32_t feature, const std::vector<std::uint32_t>& dpps);
Action plan_feature_complete(std::uint32_t feature, const std::vector<std::string>& entries);

// Formats a match failure for the operator, nearest commands included.
std::string describe_match_error(const MatchError& e);

}  // namespace dravikctl
