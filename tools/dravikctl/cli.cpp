#include "tools/dravikctl/cli.h"

#include <algorithm>
#include <functional>

#include "tools/cli/app.h"
#include "tools/cli/categories.h"

namespace dravikctl {

using tools::category_hidden_by, tools::category_long_name, tools::category_name,
    tools::kCategories, tools::level_name, tools::parse_categories, tools::parse_level;

namespace {

constexpr const char* kAbout =
    "Sends a running dravik daemon what the switch's CLI, the supervisor and the platform\n"
    "would send it, through the host platform in DRAVIK_PLATFORM_DIR (default /tmp/dravik).";
constexpr const char* kExitStatus =
    "Exit status: 0 done; 1 the daemon did not answer in time, or cannot be reached (the\n"
    "message says which); 2 the command line is wrong; 3 the daemon answered but did not do\n"
    "what was asked (the message says what did not happen, and what to do).\n"
    "\"dravikctl COMMAND --help\" for each command.";
constexpr const char* kDebugWords =
    "WORDS are the command's words as \"dravikctl commands\" lists them, without \"debug\";\n"
    "each may be abbreviated while it stays unambiguous (\"nivo ip tcp port 3\"). Ports\n"
    "and DPPs are one-based; FC ids hexadecimal; \"init NAME tgt NAME\" may follow the\n"
    "iSCSI event and transaction commands. The daemon writes to the terminal (--vty PATH,\n"
    "default standard input's); it must exist.";
constexpr const char* kCategoryWords =
    "CATEGORIES: all, or numbers and names separated by commas: 5, mem,scsi. A name that\n"
    "several categories share selects all of them (ipc: 1-4, drv: 6-7); category 26 is\n"
    "\"galt obj\" or galt_obj; category 14 has no name. Without on|off: a table of every\n"
    "category, on or off, with its filters (\"unknown\" where the report cannot tell).";

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
  return sub->add_option(name, into, what)
      ->required()
      ->transform(tools::typed_number())
      ->type_name("N");
}

// What the subcommands bind their values to, and the action that the one
// given plans (in its callback, during the parse).
struct Line {
  std::optional<Action> action;
  std::optional<std::string> own_tty;
  CLI::Option* vty_opt = nullptr;
  std::string vty, on_off, which = "all", text;
  bool force = false;
  std::vector<std::string> words;
  std::vector<std::uint32_t> filters, dpps;
  std::uint32_t n = 0, feature = 0;
  bool port0 = false;

  std::string terminal() const { return *vty_opt ? vty : own_tty.value_or(""); }
  std::string named_terminal() const { return *vty_opt ? vty : ""; }
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
  l.plan(show->add_subcommand(
             "debug", "list the active debug commands (to standard output, or to --vty PATH)"),
         [&l] { return plan_show_debug(l.named_terminal()); });
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
  auto* categories =
      log->add_subcommand("categories", "switch DPP log categories on or off, or list them");
  categories->add_option("on|off", l.on_off)
      ->check(CLI::IsMember({"on", "off"}).description(""))
      ->type_name("");
  categories->add_option("CATEGORIES", l.which, "all, or numbers and names: 5 or mem,scsi")
      ->capture_default_str();
  categories
      ->add_option("--filters", l.filters, "with \"on\": the categories' filter words a,b,c,d")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->transform(tools::typed_number())
      ->type_name("A,B,C,D");
  categories->footer(kCategoryWords);
  l.plan(categories, [&l] {
    if (l.on_off.empty()) {
      if (!l.filters.empty() || *l.vty_opt)
        throw UsageError("the table takes neither --filters nor --vty: name on or off");
      return plan_category_table();
    }
    return plan_log_categories(l.on(), l.which, l.filters, l.terminal());
  });
  auto* dpps = log->add_subcommand("dpps", "switch the logging of DPPs on or off");
  dpps->add_option("on|off", l.on_off)
      ->required()
      ->check(CLI::IsMember({"on", "off"}).description(""))
      ->type_name("");
  dpps->add_option("DPPS", l.which, "all, or one-based DPPs: 1,2")->required();
  l.plan(dpps, [&l] { return plan_log_dpps(l.on(), l.which, l.terminal()); });
  auto* level = log->add_subcommand("level", "set the DPP debug level");
  level->add_option("0-7|NAME", l.text, "EMERG ALERT CRIT ERR WARN NOTICE INFO DEBUG")->required();
  l.without_vty(l.plan(level, [&l] { return plan_log_level(l.text); }));
  auto* file = log->add_subcommand("file", "open per-DPP log files NAME.N, or close them");
  file->add_option("NAME|off", l.text, "in /cpp/plinder_dpp_logs/")->required();
  file->add_flag("--force", l.force,
                 "open the set even when its files hold records (it empties them)");
  l.without_vty(l.plan(file, [&l] { return plan_log_file(l.text, l.force); }));
  for (bool follow : {false, true}) {
    auto* read = log->add_subcommand(
        follow ? "follow" : "read",
        follow ? "print the DPPs' log records as they are written, across wraps, until Ctrl-C"
               : "print the DPPs' ring log files, oldest line first");
    read->add_option("--dpp", l.dpps, "one-based DPPs: 1,2 (default: every DPP with a file)")
        ->delimiter(',')
        ->transform(tools::typed_number())
        ->check(tools::number_range(1, kMaxDpp))
        ->type_name("N,...");
    read->add_option("--name", l.text, "the set's base name (default: the current set)")
        ->type_name("NAME");
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
        Action act = message(ActionKind::Send, kOpcodeReleaseAll, {},
                             "release-all (opcode 922): every subscription released");
        act.check = Check::Listing;
        return act;
      }));
  auto* rebind = app.add_subcommand("rebind", "rebind the daemon's XIPC socket (opcode 6111)");
  rebind->add_flag("--port0", l.port0, "bind it to port 0 rather than 1024");
  l.without_vty(l.plan(rebind, [&l] {
    Action act = message(ActionKind::Send, kOpcodeRebindXipc,
                         {0, 0, 0, static_cast<std::uint8_t>(l.port0 ? 1 : 0)},
                         std::string("rebind (opcode 6111): the daemon's XIPC socket is bound to "
                                     "port ") +
                             (l.port0 ? "0" : "1024"));
    act.check = Check::Listing;
    return act;
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

// The whole command line, bound to l and the global options.
struct Globals {
  std::uint32_t timeout_ms = static_cast<std::uint32_t>(kDefaultTimeout.count());
  std::string dir;
  CLI::Option* dir_opt = nullptr;
};

void build(CLI::App& app, Line& l, Globals& g) {
  app.footer(kExitStatus);
  app.require_subcommand(1);
  app.fallthrough();  // the subcommands, created below, inherit it
  app.add_option("--timeout", g.timeout_ms, "how long to wait for the daemon's answer")
      ->transform(tools::typed_number())
      ->check(tools::number_range(1, UINT32_MAX))
      ->type_name("MS")
      ->description("how long to wait for the daemon's answer, 1 to 4294967295 ms")
      ->capture_default_str();
  g.dir_opt =
      app.add_option("--dir", g.dir, "the platform directory (default: DRAVIK_PLATFORM_DIR)")
          ->type_name("DIR");
  l.vty_opt = app.add_option("--vty", l.vty,
                             "the terminal the daemon writes to (default: standard input's)")
                  ->type_name("PATH");
  add_port_debug(app, l);
  add_log(app, l);
  add_relay(app, l);
  add_notify(app, l);
  // For the shell's completion script: the words that may follow.
  auto* complete = tools::add_completion(app);
  complete->callback([&l, complete] {
    Action act;
    act.kind = ActionKind::Complete;
    act.typed = complete->remaining();
    l.action = act;
  });
}

// The values the log commands' positionals take, after `words` of them.
std::vector<std::string> log_values(const std::string& name,
                                    const std::vector<std::string>& words) {
  std::vector<std::string> out;
  if (words.empty()) {
    if (name == "categories" || name == "dpps") out = {"on", "off"};
    if (name == "level")
      for (std::uint32_t n = 0; n < 8; ++n) out.push_back(level_name(n));
    if (name == "file") out = {"off"};
  } else if (words.size() == 1 && (name == "categories" || name == "dpps")) {
    out.push_back("all");
    for (std::uint32_t n = 1; name == "categories" && n <= kCategories; ++n) {
      std::string c = category_name(n);
      std::replace(c.begin(), c.end(), ' ', '_');
      if (!c.empty() && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> completions(const std::vector<std::string>& typed) {
  CLI::App app(kAbout, "dravikctl");
  Line l;
  Globals g;
  build(app, l, g);
  tools::Reached r = tools::walk(app, typed);
  if (r.value) return {};
  std::vector<std::string> out;
  if (r.at->get_name() == "debug") out = next_words(r.words);
  if (r.at->get_parent() && r.at->get_parent()->get_name() == "log")
    out = log_values(r.at->get_name(), r.words);
  for (std::string& c : tools::command_candidates(r.at)) out.push_back(std::move(c));
  return out;
}

std::optional<Action> parse_command_line(int argc, char** argv,
                                         const std::optional<std::string>& own_tty, int* status) {
  CLI::App app(kAbout, "dravikctl");
  Line l;
  l.own_tty = own_tty;
  Globals g;
  build(app, l, g);
  if (auto s = tools::parse(app, argc, argv)) {
    *status = *s;
    return std::nullopt;
  }
  l.action->timeout = std::chrono::milliseconds(g.timeout_ms);
  if (*g.dir_opt) l.action->platform_dir = g.dir;
  return l.action;
}

}  // namespace dravikctl
