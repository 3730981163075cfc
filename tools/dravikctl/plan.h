// What one dravikctl command line asks for, worked out before anything is
// sent: the message to send (opcode and payload), how it is answered, and
// what to tell the operator. Planning is pure, so every command's parsing
// and encoding can be tested without a daemon.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tools/dravikctl/command_words.h"
#include "wire/opcodes.h"

namespace dravikctl {

// The daemon's service access point, and the opcodes dravikctl sends.
constexpr unsigned kDaemonSap = 930;
// Per-port debug requests: the daemon takes every opcode it does not serve
// itself as one, so the CLI side may use any such opcode.
constexpr std::uint32_t kOpcodePortDebug = 4000;

constexpr std::chrono::milliseconds kDefaultTimeout{2000};
// The daemon keeps at most 99 characters of a terminal path.
constexpr std::size_t kMaxVtyPath = 99;

enum class ActionKind {
  Help,          // print help_topic's text
  ListCommands,  // print every per-port debug command
  Request,       // send to SAP 930 and wait for the reply
  Send,          // send to SAP 930; no reply comes
  Notify,        // send to every SAP registered for the opcode
};

// What to do with the reply of a Request.
enum class ReplyUse {
  Confirm,  // print `done`
  Listing,  // show debug: print the listing the reply holds, if any
  Report,   // log show: print the report text
};

struct Action {
  ActionKind kind = ActionKind::Help;
  std::string help_topic;
  std::uint32_t opcode = 0;
  std::vector<std::uint8_t> payload;
  ReplyUse reply = ReplyUse::Confirm;
  std::string done;  // what to print once the message went through
  std::string vty;   // the terminal of a per-port request
  std::chrono::milliseconds timeout = kDefaultTimeout;
  std::optional<std::string> platform_dir;  // --dir; else the environment
};

// A command line that cannot be carried out as typed: exit status 2.
struct UsageError {
  std::string message;  // one or more lines, without the final newline
  std::string topic;    // the help topic that explains the command
};

using Plan = std::variant<Action, UsageError>;

// Plans argv (without the program name). own_tty: the caller's terminal,
// ttyname(0), or nothing when standard input is not a terminal.
Plan plan_command(const std::vector<std::string>& argv, const std::optional<std::string>& own_tty);

// The parts for each command family; each gets the words after its keyword.
struct Args;
Plan plan_port_debug(const Args& a, std::size_t first, bool off,
                     const std::optional<std::string>& own_tty);
Plan plan_show_debug(const Args& a, const std::optional<std::string>& own_tty);
Plan plan_log(const Args& a, const std::optional<std::string>& own_tty);
Plan plan_notify(const Args& a);

// Formats a match failure for the operator, nearest commands included.
std::string describe_match_error(const MatchError& e);

}  // namespace dravikctl
