// Planning of the per-port debug commands: debug, no debug, show debug.
#include <cstring>

#include "portdebug/cmd_table.h"
#include "tools/dravikctl/args.h"
#include "tools/dravikctl/plan.h"
#include "wire/debug_request.h"

namespace dravikctl {

namespace {

// The terminal of a per-port request: --vty, else the caller's own. The
// daemon opens it for every subscription, so there must be one.
std::variant<std::string, UsageError> terminal_of(const Args& a,
                                                  const std::optional<std::string>& own_tty,
                                                  const std::string& topic) {
  std::string vty;
  if (auto v = a.options.find("--vty"); v != a.options.end())
    vty = v->second;
  else if (own_tty)
    vty = *own_tty;
  if (vty.empty())
    return UsageError{
        "no terminal: standard input is not a terminal, so name the terminal "
        "(or a file) that the daemon should write to with --vty PATH",
        topic};
  if (vty.size() > kMaxVtyPath)
    return UsageError{"terminal path too long: the daemon keeps at most 99 characters", topic};
  return vty;
}

void copy_text(char* dst, std::size_t size, const std::string& s) {
  std::size_t n = s.size() < size - 1 ? s.size() : size - 1;
  std::memcpy(dst, s.data(), n);
  dst[n] = '\0';
}

}  // namespace

Plan plan_port_debug(const Args& a, std::size_t first, bool off,
                     const std::optional<std::string>& own_tty) {
  const std::string topic = off ? "no" : "debug";
  std::vector<std::string> words(a.words.begin() + static_cast<std::ptrdiff_t>(first),
                                 a.words.end());
  auto matched = match_command(words);
  if (auto* e = std::get_if<MatchError>(&matched))
    return UsageError{describe_match_error(*e), topic};
  const MatchedCommand& m = std::get<MatchedCommand>(matched);

  auto vty = terminal_of(a, own_tty, topic);
  if (auto* e = std::get_if<UsageError>(&vty)) return *e;

  wire::DebugRequest r;
  r.commandID = m.id;
  r.port = m.port;
  r.noFlag = off ? 1 : 0;
  copy_text(r.term, sizeof r.term, std::get<std::string>(vty));
  copy_text(r.init, sizeof r.init, m.init);
  copy_text(r.tgt, sizeof r.tgt, m.tgt);
  r.fenk = m.fenk;
  r.init_fcid = m.init_fcid;
  r.targ_fcid = m.targ_fcid;

  Action act;
  act.kind = ActionKind::Request;
  act.opcode = kOpcodePortDebug;
  act.payload = wire::encode_debug_request(r);
  act.vty = std::get<std::string>(vty);
  act.done = (off ? "no " : "") + canonical_text(m) + ": " + (off ? "released" : "subscribed") +
             " for terminal " + act.vty + " (command " + std::to_string(m.id) + ", module " +
             std::to_string(cmdMaskTable[m.id].module) + ", sent to core " +
             std::to_string(m.port) + ")";
  return act;
}

Plan plan_show_debug(const Args& a, const std::optional<std::string>& own_tty) {
  if (a.words.size() != 2 || a.words[1] != "debug")
    return UsageError{"the listing is asked for with \"show debug\"", "show"};
  auto vty = terminal_of(a, own_tty, "show");
  if (auto* e = std::get_if<UsageError>(&vty)) return *e;

  wire::DebugRequest r;
  r.commandID = show_command;
  copy_text(r.term, sizeof r.term, std::get<std::string>(vty));

  Action act;
  act.kind = ActionKind::Request;
  act.opcode = kOpcodePortDebug;
  act.payload = wire::encode_debug_request(r);
  act.reply = ReplyUse::Listing;
  act.vty = std::get<std::string>(vty);
  return act;
}

}  // namespace dravikctl
