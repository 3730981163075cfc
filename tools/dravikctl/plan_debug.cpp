// Planning of the per-port debug commands: debug, no debug, show debug.
#include <cstring>

#include "portdebug/cmd_table.h"
#include "tools/dravikctl/plan.h"
#include "wire/debug_request.h"

namespace dravikctl {

namespace {

// The daemon opens the terminal for every per-port request, so there must
// be one.
void check_terminal(const std::string& vty) {
  if (vty.empty())
    throw UsageError(
        "no terminal: standard input is not a terminal, so name the terminal "
        "(or a file) that the daemon should write to with --vty PATH");
  if (vty.size() > kMaxVtyPath)
    throw UsageError("terminal path too long: the daemon keeps at most 99 characters");
}

void copy_text(char* dst, std::size_t size, const std::string& s) {
  std::size_t n = s.size() < size - 1 ? s.size() : size - 1;
  std::memcpy(dst, s.data(), n);
  dst[n] = '\0';
}

}  // namespace

Action plan_port_debug(const std::vector<std::string>& words, bool off, const std::string& vty) {
  auto matched = match_command(words);
  if (auto* e = std::get_if<MatchError>(&matched)) throw UsageError(describe_match_error(*e));
  const MatchedCommand& m = std::get<MatchedCommand>(matched);
  check_terminal(vty);

  wire::DebugRequest r;
  r.commandID = m.id;
  r.port = m.port;
  r.noFlag = off ? 1 : 0;
  copy_text(r.term, sizeof r.term, vty);
  copy_text(r.init, sizeof r.init, m.init);
  copy_text(r.tgt, sizeof r.tgt, m.tgt);
  r.fenk = m.fenk;
  r.init_fcid = m.init_fcid;
  r.targ_fcid = m.targ_fcid;

  Action act;
  act.opcode = kOpcodePortDebug;
  act.payload = wire::encode_debug_request(r);
  act.vty = vty;
  act.check = off ? Check::Unsubscribe : Check::Subscribe;
  act.core = m.port;
  act.words = canonical_text(m);
  act.done = (off ? "no " : "") + canonical_text(m) + ": " + (off ? "released" : "subscribed") +
             " for terminal " + vty + " (command " + std::to_string(m.id) + ", module " +
             std::to_string(cmdMaskTable[m.id].module) + ", sent to core " +
             std::to_string(m.port) + ")";
  return act;
}

Action plan_show_debug(const std::string& vty) {
  if (vty.size() > kMaxVtyPath)
    throw UsageError("terminal path too long: the daemon keeps at most 99 characters");
  wire::DebugRequest r;
  r.commandID = show_command;
  copy_text(r.term, sizeof r.term, vty);

  Action act;
  act.opcode = kOpcodePortDebug;
  act.payload = wire::encode_debug_request(r);
  act.reply = ReplyUse::Listing;
  act.vty = vty;
  return act;
}

std::string describe_match_error(const MatchError& e) {
  std::string s = e.message;
  if (!e.expected.empty()) {
    s += "\n  the words that fit here: ";
    std::size_t shown = 0;
    for (const auto& w : e.expected) {
      if (shown == 16) {
        s += " ... (" + std::to_string(e.expected.size() - shown) + " more)";
        break;
      }
      s += (shown ? ", " : "") + w;
      ++shown;
    }
  }
  if (!e.nearest.empty()) {
    s += e.kind == MatchFailure::Ambiguous ? "\n  it fits:" : "\n  nearest commands:";
    for (std::int32_t id : e.nearest)
      s += "\n    " + display_text(id) + "   (command " + std::to_string(id) + ")";
  }
  s += "\n  \"dravikctl commands\" lists every command";
  return s;
}

}  // namespace dravikctl
