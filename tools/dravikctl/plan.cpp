#include "tools/dravikctl/plan.h"

#include <initializer_list>

#include "tools/dravikctl/args.h"
#include "tools/dravikctl/help.h"

namespace dravikctl {

namespace {

// Options every command takes.
constexpr std::string_view kGlobalOptions[] = {"--timeout", "--dir", "--help", "-h"};

std::optional<UsageError> check_options(const Args& a, std::initializer_list<std::string_view> own,
                                        const std::string& topic) {
  for (const auto& [name, value] : a.options) {
    bool ok = false;
    for (auto g : kGlobalOptions) ok = ok || g == name;
    for (auto o : own) ok = ok || o == name;
    if (!ok) return UsageError{"option " + name + " does not apply to \"" + topic + "\"", topic};
  }
  return std::nullopt;
}

std::string_view word(const Args& a, std::size_t i) {
  return i < a.words.size() ? std::string_view(a.words[i]) : std::string_view();
}

// The help topic named by the words: the longest run of leading words that
// names one ("log categories", "notify dpp-up", "log", ...).
std::string topic_of(const std::vector<std::string>& words) {
  std::string best;
  std::string t;
  for (std::size_t i = 0; i < words.size() && i < 2; ++i) {
    t += (i ? " " : "") + words[i];
    if (help_text(t)) best = t;
  }
  return best;
}

Plan plan_words(const Args& a, const std::optional<std::string>& own_tty) {
  const std::string_view cmd = word(a, 0);
  if (cmd.empty()) return UsageError{"no command given", ""};
  const std::string topic = topic_of(a.words);

  if (cmd == "debug") {
    if (auto e = check_options(a, {"--vty"}, "debug")) return *e;
    return plan_port_debug(a, 1, false, own_tty);
  }
  if (cmd == "no") {
    if (word(a, 1) != "debug") return UsageError{"\"no\" is followed by \"debug\"", "no"};
    if (auto e = check_options(a, {"--vty"}, "no")) return *e;
    return plan_port_debug(a, 2, true, own_tty);
  }
  if (cmd == "show") {
    if (auto e = check_options(a, {"--vty"}, "show")) return *e;
    return plan_show_debug(a, own_tty);
  }
  if (cmd == "commands") {
    if (a.words.size() > 1) return UsageError{"\"commands\" takes no words", "commands"};
    if (auto e = check_options(a, {}, "commands")) return *e;
    Action act;
    act.kind = ActionKind::ListCommands;
    return act;
  }
  if (cmd == "log") {
    std::string t = topic.empty() ? "log" : topic;
    if (auto e = check_options(a, {"--vty", "--filters"}, t)) return *e;
    return plan_log(a, own_tty);
  }
  if (cmd == "release-all") {
    if (a.words.size() > 1) return UsageError{"\"release-all\" takes no words", "release-all"};
    if (auto e = check_options(a, {}, "release-all")) return *e;
    Action act;
    act.kind = ActionKind::Send;
    act.opcode = kOpcodeReleaseAll;
    act.done =
        "release-all (opcode 922) sent; the daemon releases every subscription and "
        "does not answer";
    return act;
  }
  if (cmd == "rebind") {
    if (a.words.size() > 1) return UsageError{"\"rebind\" takes no words", "rebind"};
    if (auto e = check_options(a, {"--port0"}, "rebind")) return *e;
    const bool port0 = a.options.contains("--port0");
    Action act;
    act.kind = ActionKind::Send;
    act.opcode = kOpcodeRebindXipc;
    act.payload = {0, 0, 0, static_cast<std::uint8_t>(port0 ? 1 : 0)};
    act.done =
        std::string("rebind (opcode 6111) sent: the daemon rebinds its XIPC socket to port ") +
        (port0 ? "0" : "1024") + "; it does not answer";
    return act;
  }
  if (cmd == "notify") {
    if (auto e = check_options(a, {}, topic.empty() ? "notify" : topic)) return *e;
    return plan_notify(a);
  }
  return UsageError{"unknown command \"" + std::string(cmd) + "\"", ""};
}

}  // namespace

Plan plan_command(const std::vector<std::string>& argv, const std::optional<std::string>& own_tty) {
  Args a = split_args(argv);
  if (!a.error.empty()) return UsageError{a.error, topic_of(a.words)};

  if (a.options.contains("--help") || a.options.contains("-h") || word(a, 0) == "help") {
    std::vector<std::string> words = a.words;
    if (!words.empty() && words.front() == "help") words.erase(words.begin());
    Action act;
    act.kind = ActionKind::Help;
    act.help_topic = topic_of(words);
    return act;
  }

  std::chrono::milliseconds timeout = kDefaultTimeout;
  if (auto t = a.options.find("--timeout"); t != a.options.end()) {
    auto ms = parse_number(t->second);
    if (!ms || *ms == 0)
      return UsageError{"--timeout takes a positive number of milliseconds", topic_of(a.words)};
    timeout = std::chrono::milliseconds(*ms);
  }

  Plan p = plan_words(a, own_tty);
  if (auto* act = std::get_if<Action>(&p)) {
    act->timeout = timeout;
    if (auto d = a.options.find("--dir"); d != a.options.end()) act->platform_dir = d->second;
  }
  return p;
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
