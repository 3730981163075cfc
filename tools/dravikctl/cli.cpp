#include "tools/dravikctl/cli.h"

#include <functional>

#include "tools/cli/app.h"

namespace dravikctl {

namespace {

constexpr const char* kAbout =
    "Sends a running dravik daemon what the switch's CLI, the supervisor and the platform\n"
    "would send it, through the host platform in DRAVIK_PLATFORM_DIR (default /tmp/dravik).";
constexpr const char* kExitStatus =
    "Exit status: 0 done; 1 the daemon did not answer in time (or could not be reached);\n"
    "2 the command line is wrong. \"dravikctl COMMAND --help\" for each command.";
constexpr const char* kDebugWords =
    "WORDS are the command's words as \"dravikctl commands\" lists them, without \"debug\";\n"
    "each may be abbreviated while it stays unambiguous (\"nivo ip tcp port 3\"). Ports\n"
    "and DPPs are one-based; FC ids hexadecimal; \"init NAME tgt NAME\" may follow the\n"
    "iSCSI event and transaction commands. The daemon writes to the terminal (--vty PATH,\n"
    "default standard input's); it must exist.";

Action message(ActionKind kind, std::uint32_t opcode, std::vector<std::uint8_t> payload,
               std::string done) {
  Action act;
  act.kind = kind;
  act.opcode = opcode;
  act.payload = std::move(payload);
  act.done = std::move(done);
  return act;
}

// A positional number as operators type them.
template <typename T>
CLI::Option* number(CLI::App* sub, const char* name, T& into, const char* what) {
  return sub->add_option(name, into, what)->required()->transform(tools::typed_number());
}

// What the subcommands bind their values to, and the action that the one
// given plans (in its callback, during the parse).
struct Line {
  std::optional<Action> action;
  std::optional<std::string> own_tty;
  CLI::Option* vty_opt = nullptr;
  std::string vty, on_off, which = "all", text;
  std::vector<std::string> words;
  std::vector<std::uint32_t> filters, dpps;
  std::uint32_t n = 0, feature = 0;
  bool port0 = false;

  std::string terminal() const { return *vty_opt ? vty : own_tty.value_or(""); }
  bool on() const { return on_off == "on"; }
  CLI::App* plan(CLI::App* sub, std::function<Action()> make) {
    sub->callback([this, make] { action = make(); });
    return sub;
  }
  CLI::App* without_vty(CLI::App* sub) { return sub->excludes(vty_opt); }
};

void add_port_debug(CLI::App& app, Line& l) {
  auto* debug = app.add_subcommand("debug", "subscribe a terminal to a per-port debug command");
  auto* no = app.add_subcommand("no", "no debug WORDS...: release a subscription");
  no->require_subcommand(1);
  auto* no_debug = no->add_subcommand("debug", "release a terminal's per-port debug command");
  for (auto* sub : {debug, no_debug}) {
    sub->add_option("WORDS", l.words, "the command's words");
    sub->footer(kDebugWords);
    l.plan(sub,
           [&l, off = sub == no_debug] { return plan_port_debug(l.words, off, l.terminal()); });
  }
  auto* show = app.add_subcommand("show", "show debug: list the active debug commands");
  show->require_subcommand(1);
  l.plan(show->add_subcommand("debug", "list the active debug commands to the terminal"),
         [&l] { return plan_show_debug(l.terminal()); });
  l.without_vty(
      l.plan(app.add_subcommand("commands", "list every per-port debug command, with id"), [] {
        Action act;
        act.kind = ActionKind::ListCommands;
        return act;
      }));
}

void add_log(CLI::App& app, Line& l) {
  auto* log = app.add_subcommand("log", "the DPP log manager's settings and report");
  log->require_subcommand(1);
  auto* categories = log->add_subcommand("categories", "switch DPP log categories on or off");
  categories->add_option("on|off", l.on_off)->required()->check(CLI::IsMember({"on", "off"}));
  categories->add_option("N|all", l.which, "a category, 1-29, or all of them")
      ->capture_default_str();
  categories
      ->add_option("--filters", l.filters, "with \"on N\": the category's filter words a,b,c,d")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->transform(tools::typed_number());
  l.plan(categories,
         [&l] { return plan_log_categories(l.on(), l.which, l.filters, l.terminal()); });
  auto* dpps = log->add_subcommand("dpps", "switch the logging of DPPs on or off");
  dpps->add_option("on|off", l.on_off)->required()->check(CLI::IsMember({"on", "off"}));
  dpps->add_option("DPPS", l.which, "all, or one-based DPPs: 1,2")->required();
  l.plan(dpps, [&l] { return plan_log_dpps(l.on(), l.which, l.terminal()); });
  auto* level = log->add_subcommand("level", "set the DPP debug level");
  level->add_option("0-7|NAME", l.text, "EMERG ALERT CRIT ERR WARN NOTICE INFO DEBUG")->required();
  l.without_vty(l.plan(level, [&l] { return plan_log_level(l.text); }));
  auto* file = log->add_subcommand("file", "open per-DPP log files NAME.N, or close them");
  file->add_option("NAME|off", l.text, "in /cpp/plinder_dpp_logs/")->required();
  l.without_vty(l.plan(file, [&l] { return plan_log_file(l.text); }));
  for (bool follow : {false, true}) {
    auto* read = log->add_subcommand(
        follow ? "follow" : "read",
        follow ? "print the DPPs' log records as they are written, across wraps, until Ctrl-C"
               : "print the DPPs' ring log files, oldest line first");
    read->add_option("--dpp", l.dpps, "one-based DPPs: 1,2 (default: every DPP with a file)")
        ->delimiter(',')
        ->transform(tools::typed_number())
        ->check(CLI::Range(1u, kMaxDpp));
    read->add_option("--name", l.text, "the set's base name (default: the current set)");
    l.without_vty(l.plan(read, [&l, follow] {
      Action act;
      act.kind = ActionKind::ReadLog;
      act.dpps = l.dpps;
      act.log_name = l.text;
      act.follow = follow;
      return act;
    }));
  }
  l.without_vty(l.plan(log->add_subcommand("show", "print the log manager's report"), [] {
    Action act;
    act.opcode = kOpcodeShowDebug;
    act.reply = ReplyUse::Report;
    return act;
  }));
}

void add_relay(CLI::App& app, Line& l) {
  l.without_vty(
      l.plan(app.add_subcommand("release-all", "release every subscription (opcode 922)"), [] {
        return message(ActionKind::Send, kOpcodeReleaseAll, {},
                       "release-all (opcode 922) sent; the daemon releases every "
                       "subscription and does not answer");
      }));
  auto* rebind = app.add_subcommand("rebind", "rebind the daemon's XIPC socket (opcode 6111)");
  rebind->add_flag("--port0", l.port0, "bind it to port 0 rather than 1024");
  l.without_vty(l.plan(rebind, [&l] {
    return message(ActionKind::Send, kOpcodeRebindXipc,
                   {0, 0, 0, static_cast<std::uint8_t>(l.port0 ? 1 : 0)},
                   std::string("rebind (opcode 6111) sent: the daemon rebinds its XIPC socket to "
                               "port ") +
                       (l.port0 ? "0" : "1024") + "; it does not answer");
  }));
}

void add_notify(CLI::App& app, Line& l) {
  auto* notify = l.without_vty(app.add_subcommand(
      "notify", "a platform notification to every SAP registered for its opcode"));
  notify->require_subcommand(1);
  notify->footer(
      "DPPs are one-based; the notification carries the index N-1. Exit status 1\n"
      "when no SAP is registered for the opcode.");
  for (bool up : {true, false}) {
    auto* s = notify->add_subcommand(up ? "dpp-up" : "dpp-down",
                                     up ? "DPP_UP (7521) for DPP N" : "DPP_DOWN (7522) for DPP N");
    number(s, "N", l.n, "the DPP, 1-32");
    l.plan(s, [&l, up] { return plan_dpp_state(up, l.n); });
  }
  auto* request = notify->add_subcommand(
      "feature-request", "DPP_DNLD_NEW_FEATURE_RQST (7571): a feature downloads to DPPs N...");
  number(request, "FEATURE", l.feature, "0x91810000 takes the DPPs out of DPP logging");
  number(request, "N", l.dpps, "the DPPs")->required(false);
  l.plan(request, [&l] { return plan_feature_request(l.feature, l.dpps); });
  auto* complete = notify->add_subcommand(
      "feature-complete", "DPP_DNLD_NEW_FEATURE_COMPLETE (7572): the download ended");
  number(complete, "FEATURE", l.feature, "the feature");
  complete->add_option("ENTRIES", l.words, "N:STATUS per DPP; status 2: the DPP is up");
  l.plan(complete, [&l] { return plan_feature_complete(l.feature, l.words); });
  l.plan(notify->add_subcommand("feature-failed", "DPP_DNLD_NEW_FEATURE_FAILED (7573)"), [] {
    return message(ActionKind::Notify, kOpcodeFeatureFailed, {}, "DPP_DNLD_NEW_FEATURE_FAILED");
  });
  auto* timezone = notify->add_subcommand("timezone", "the clock's time zone (3102)");
  timezone->add_option("TZ", l.text, "the daemon's TZ from now on")->required();
  l.plan(timezone, [&l] {
    std::vector<std::uint8_t> payload(l.text.begin(), l.text.end());
    payload.push_back(0);  // the daemon reads a NUL-terminated text
    return message(ActionKind::Notify, kOpcodeTimezone, payload, "time zone " + l.text);
  });
}

}  // namespace

std::optional<Action> parse_command_line(int argc, char** argv,
                                         const std::optional<std::string>& own_tty, int* status) {
  CLI::App app(kAbout, "dravikctl");
  app.footer(kExitStatus);
  app.require_subcommand(1);
  app.fallthrough();  // the subcommands, created below, inherit it
  Line l;
  l.own_tty = own_tty;
  auto timeout_ms = static_cast<std::uint32_t>(kDefaultTimeout.count());
  std::string dir;
  app.add_option("--timeout", timeout_ms, "how long to wait for the daemon's answer, in ms")
      ->transform(tools::typed_number())
      ->check(CLI::Range(1u, UINT32_MAX))
      ->capture_default_str();
  CLI::Option* dir_opt =
      app.add_option("--dir", dir, "the platform directory (default: DRAVIK_PLATFORM_DIR)");
  l.vty_opt = app.add_option("--vty", l.vty,
                             "the terminal the daemon writes to (default: standard input's)");
  add_port_debug(app, l);
  add_log(app, l);
  add_relay(app, l);
  add_notify(app, l);

  if (auto s = tools::parse(app, argc, argv)) {
    *status = *s;
    return std::nullopt;
  }
  l.action->timeout = std::chrono::milliseconds(timeout_ms);
  if (*dir_opt) l.action->platform_dir = dir;
  return l.action;
}

}  // namespace dravikctl
