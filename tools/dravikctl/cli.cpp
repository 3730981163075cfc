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

}  // namespace

std::optional<Action> parse_command_line(int argc, char** argv,
                                         const std::optional<std::string>& own_tty, int* status) {
  CLI::App app(kAbout, "dravikctl");
  app.footer(kExitStatus);
  app.require_subcommand(1);
  app.fallthrough();  // the subcommands, created below, inherit it
  auto timeout_ms = static_cast<std::uint32_t>(kDefaultTimeout.count());
  std::string dir, vty;
  app.add_option("--timeout", timeout_ms, "how long to wait for the daemon's answer, in ms")
      ->transform(tools::typed_number())
      ->check(CLI::Range(1u, UINT32_MAX))
      ->capture_default_str();
  CLI::Option* dir_opt =
      app.add_option("--dir", dir, "the platform directory (default: DRAVIK_PLATFORM_DIR)");
  CLI::Option* vty_opt =
      app.add_option("--vty", vty, "the terminal the daemon writes to (default: standard input's)");
  auto terminal = [&] { return *vty_opt ? vty : own_tty.value_or(""); };

  std::optional<Action> action;
  auto plan = [&](CLI::App* sub, std::function<Action()> make) {
    sub->callback([&action, make] { action = make(); });
    return sub;
  };
  auto without_vty = [&](CLI::App* sub) { return sub->excludes(vty_opt); };

  // Per-port debug.
  std::vector<std::string> words;
  auto* debug = app.add_subcommand("debug", "subscribe a terminal to a per-port debug command");
  debug->add_option("WORDS", words, "the command's words");
  debug->footer(kDebugWords);
  plan(debug, [&] { return plan_port_debug(words, false, terminal()); });
  auto* no = app.add_subcommand("no", "no debug WORDS...: release a subscription");
  no->require_subcommand(1);
  auto* no_debug = no->add_subcommand("debug", "release a terminal's per-port debug command");
  no_debug->add_option("WORDS", words, "the command's words");
  debug->footer(kDebugWords);
  plan(no_debug, [&] { return plan_port_debug(words, true, terminal()); });
  auto* show = app.add_subcommand("show", "show debug: list the active debug commands");
  show->require_subcommand(1);
  plan(show->add_subcommand("debug", "list the active debug commands to the terminal"),
       [&] { return plan_show_debug(terminal()); });
  without_vty(
      plan(app.add_subcommand("commands", "list every per-port debug command, with id"), [] {
        Action act;
        act.kind = ActionKind::ListCommands;
        return act;
      }));

  // The log manager.
  auto* log = app.add_subcommand("log", "the DPP log manager's settings and report");
  log->require_subcommand(1);
  std::string on_off, which = "all";
  std::vector<std::uint32_t> filters;
  const auto on = [&] { return on_off == "on"; };
  auto* categories = log->add_subcommand("categories", "switch DPP log categories on or off");
  categories->add_option("on|off", on_off)->required()->check(CLI::IsMember({"on", "off"}));
  categories->add_option("N|all", which, "a category, 1-29, or all of them")->capture_default_str();
  categories->add_option("--filters", filters, "with \"on N\": the category's filter words a,b,c,d")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->transform(tools::typed_number());
  plan(categories, [&] { return plan_log_categories(on(), which, filters, terminal()); });
  auto* dpps = log->add_subcommand("dpps", "switch the logging of DPPs on or off");
  dpps->add_option("on|off", on_off)->required()->check(CLI::IsMember({"on", "off"}));
  dpps->add_option("DPPS", which, "all, or one-based DPPs: 1,2")->required();
  plan(dpps, [&] { return plan_log_dpps(on(), which, terminal()); });
  std::string text;
  auto* level = log->add_subcommand("level", "set the DPP debug level");
  level->add_option("0-7|NAME", text, "EMERG ALERT CRIT ERR WARN NOTICE INFO DEBUG")->required();
  without_vty(plan(level, [&] { return plan_log_level(text); }));
  auto* file = log->add_subcommand("file", "open per-DPP log files NAME.N, or close them");
  file->add_option("NAME|off", text, "in /cpp/plinder_dpp_logs/")->required();
  without_vty(plan(file, [&] { return plan_log_file(text); }));
  without_vty(plan(log->add_subcommand("show", "print the log manager's report"), [] {
    Action act;
    act.opcode = kOpcodeShowDebug;
    act.reply = ReplyUse::Report;
    return act;
  }));

  // The relay.
  without_vty(
      plan(app.add_subcommand("release-all", "release every subscription (opcode 922)"), [] {
        return message(ActionKind::Send, kOpcodeReleaseAll, {},
                       "release-all (opcode 922) sent; the daemon releases every "
                       "subscription and does not answer");
      }));
  bool port0 = false;
  auto* rebind = app.add_subcommand("rebind", "rebind the daemon's XIPC socket (opcode 6111)");
  rebind->add_flag("--port0", port0, "bind it to port 0 rather than 1024");
  without_vty(plan(rebind, [&] {
    return message(ActionKind::Send, kOpcodeRebindXipc,
                   {0, 0, 0, static_cast<std::uint8_t>(port0 ? 1 : 0)},
                   std::string("rebind (opcode 6111) sent: the daemon rebinds its XIPC socket to "
                               "port ") +
                       (port0 ? "0" : "1024") + "; it does not answer");
  }));

  // Platform notifications.
  auto* notify = without_vty(app.add_subcommand(
      "notify", "a platform notification to every SAP registered for its opcode"));
  notify->require_subcommand(1);
  notify->footer(
      "DPPs are one-based; the notification carries the index N-1. Exit status 1\n"
      "when no SAP is registered for the opcode.");
  std::uint32_t n = 0, feature = 0;
  std::vector<std::uint32_t> dpp_list;
  std::vector<std::string> entries;
  for (bool up : {true, false}) {
    auto* s = notify->add_subcommand(up ? "dpp-up" : "dpp-down",
                                     up ? "DPP_UP (7521) for DPP N" : "DPP_DOWN (7522) for DPP N");
    number(s, "N", n, "the DPP, 1-32");
    plan(s, [&, up] { return plan_dpp_state(up, n); });
  }
  auto* request = notify->add_subcommand(
      "feature-request", "DPP_DNLD_NEW_FEATURE_RQST (7571): a feature downloads to DPPs N...");
  number(request, "FEATURE", feature, "0x91810000 takes the DPPs out of DPP logging");
  number(request, "N", dpp_list, "the DPPs")->required(false);
  plan(request, [&] { return plan_feature_request(feature, dpp_list); });
  auto* complete = notify->add_subcommand(
      "feature-complete", "DPP_DNLD_NEW_FEATURE_COMPLETE (7572): the download ended");
  number(complete, "FEATURE", feature, "the feature");
  complete->add_option("ENTRIES", entries, "N:STATUS per DPP; status 2: the DPP is up");
  plan(complete, [&] { return plan_feature_complete(feature, entries); });
  plan(notify->add_subcommand("feature-failed", "DPP_DNLD_NEW_FEATURE_FAILED (7573)"), [] {
    return message(ActionKind::Notify, kOpcodeFeatureFailed, {}, "DPP_DNLD_NEW_FEATURE_FAILED");
  });
  auto* timezone = notify->add_subcommand("timezone", "the clock's time zone (3102)");
  timezone->add_option("TZ", text, "the daemon's TZ from now on")->required();
  plan(timezone, [&] {
    std::vector<std::uint8_t> payload(text.begin(), text.end());
    payload.push_back(0);  // the daemon reads a NUL-terminated text
    return message(ActionKind::Notify, kOpcodeTimezone, payload, "time zone " + text);
  });

  if (auto s = tools::parse(app, argc, argv)) {
    *status = *s;
    return std::nullopt;
  }
  action->timeout = std::chrono::milliseconds(timeout_ms);
  if (*dir_opt) action->platform_dir = dir;
  return action;
}

}  // namespace dravikctl
