// Planning of the log manager's requests: SET_DEBUG (categories, DPP map,
// level, output file) and the show report.
#include <array>
#include <cctype>

#include "tools/dravikctl/args.h"
#include "tools/dravikctl/plan.h"
#include "wire/set_debug_request.h"

namespace dravikctl {

namespace {

constexpr std::uint32_t kCategories = 29;
constexpr std::uint32_t kMaxDpp = 32;  // a DPP set has 32 bits
constexpr std::array<std::string_view, 8> kLevelNames = {"EMERG", "ALERT",  "CRIT", "ERR",
                                                         "WARN",  "NOTICE", "INFO", "DEBUG"};

Action set_debug(const wire::SetDebugRequest& r, std::string done) {
  Action act;
  act.kind = ActionKind::Request;
  act.opcode = kOpcodeSetDebug;
  act.payload = wire::encode_set_debug(r);
  act.done = std::move(done);
  return act;
}

// The terminal named in the log manager's notification to the debug facility:
// --vty, else the caller's own, else none (the facility then adds nothing).
std::string log_vty(const Args& a, const std::optional<std::string>& own_tty) {
  if (auto v = a.options.find("--vty"); v != a.options.end()) return v->second;
  return own_tty.value_or("");
}

std::optional<bool> on_off(std::string_view w) {
  if (w == "on") return true;
  if (w == "off") return false;
  return std::nullopt;
}

Plan plan_categories(const Args& a, const std::optional<std::string>& own_tty) {
  const std::string topic = "log categories";
  if (a.words.size() < 3 || a.words.size() > 4)
    return UsageError{"usage: log categories on|off [N|all]", topic};
  auto on = on_off(a.words[2]);
  if (!on) return UsageError{"\"" + a.words[2] + "\": say on or off", topic};
  const std::string which = a.words.size() == 4 ? a.words[3] : "all";
  const auto filters = a.options.find("--filters");

  wire::SetDebugRequest r;
  r.type = wire::kSetDebugCategories;
  r.on = *on ? 1 : 0;
  std::string vty = log_vty(a, own_tty);
  r.name = vty;
  std::string done;
  if (which == "all") {
    if (filters != a.options.end())
      return UsageError{
          "--filters belongs to one category: all categories are switched on "
          "with their filters cleared",
          topic};
    r.all = 1;
    done = std::string("every category switched ") + (*on ? "on" : "off");
  } else {
    auto n = parse_number(which);
    if (!n || *n < 1 || *n > kCategories)
      return UsageError{"category \"" + which + "\": categories are numbered 1 to 29, or all",
                        topic};
    r.flag = static_cast<std::uint8_t>(*n);
    if (filters != a.options.end()) {
      if (!*on) return UsageError{"--filters goes with \"on\"", topic};
      auto words = parse_number_list(filters->second);
      if (!words || words->size() > r.filters.size())
        return UsageError{"--filters takes one to four numbers: a,b,c,d (decimal or 0x...)", topic};
      for (std::size_t i = 0; i < words->size(); ++i) r.filters[i] = (*words)[i];
    }
    done = "category " + std::to_string(*n) + " switched " + (*on ? "on" : "off");
  }
  if (!vty.empty() && (*on || r.all)) done += " (terminal " + vty + ")";
  return set_debug(r, done);
}

Plan plan_dpps(const Args& a, const std::optional<std::string>& own_tty) {
  const std::string topic = "log dpps";
  if (a.words.size() != 4) return UsageError{"usage: log dpps on|off all|N[,N...]", topic};
  auto on = on_off(a.words[2]);
  if (!on) return UsageError{"\"" + a.words[2] + "\": say on or off", topic};

  wire::SetDebugRequest r;
  r.type = wire::kSetDebugDppMap;
  r.on = *on ? 1 : 0;
  std::string vty = log_vty(a, own_tty);
  r.name = vty;
  std::string done;
  if (a.words[3] == "all") {
    r.all = 1;
    done = std::string("logging of every DPP switched ") + (*on ? "on" : "off");
  } else {
    auto dpps = parse_number_list(a.words[3]);
    if (!dpps) return UsageError{"\"" + a.words[3] + "\": name DPPs as 1,2 or all", topic};
    for (std::uint32_t n : *dpps) {
      if (n < 1 || n > kMaxDpp)
        return UsageError{"DPP " + std::to_string(n) + ": DPPs are numbered from 1", topic};
      r.dpp_mask |= 1u << (n - 1);
    }
    done = "logging of DPP " + a.words[3] + " switched " + (*on ? "on" : "off");
  }
  return set_debug(r, done);
}

Plan plan_level(const Args& a) {
  const std::string topic = "log level";
  if (a.words.size() != 3) return UsageError{"usage: log level 0-7|NAME", topic};
  std::string name = a.words[2];
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::optional<std::uint32_t> level;
  for (std::size_t i = 0; i < kLevelNames.size(); ++i)
    if (name == kLevelNames[i]) level = static_cast<std::uint32_t>(i);
  if (!level) level = parse_number(a.words[2]);
  if (!level || *level > 7)
    return UsageError{
        "level \"" + a.words[2] + "\": 0-7 or EMERG, ALERT, CRIT, ERR, WARN, NOTICE, INFO, DEBUG",
        topic};
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugLevel;
  r.level = static_cast<std::uint8_t>(*level);
  return set_debug(r, "debug level set to " + std::to_string(*level) + " (" +
                          std::string(kLevelNames[*level]) + ")");
}

Plan plan_file(const Args& a) {
  const std::string topic = "log file";
  if (a.words.size() != 3) return UsageError{"usage: log file NAME|off", topic};
  const std::string& name = a.words[2];
  if (name.empty()) return UsageError{"the base name of the log files is empty", topic};
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugOutputFile;
  std::string done;
  if (name == "off") {
    r.on = 0;
    done = "per-DPP log files closed; records go to the debug facility";
  } else {
    r.on = 1;
    r.name = name;
    done = "per-DPP log files " + name + ".N opened under /cpp/plinder_dpp_logs/";
  }
  Action act = set_debug(r, done);
  return act;
}

}  // namespace

Plan plan_log(const Args& a, const std::optional<std::string>& own_tty) {
  const std::string_view what = a.words.size() > 1 ? std::string_view(a.words[1]) : "";
  if (what != "categories" && a.options.contains("--filters"))
    return UsageError{"--filters goes with \"log categories on N\"", "log"};
  if (what != "categories" && what != "dpps" && a.options.contains("--vty"))
    return UsageError{"--vty goes with \"log categories\" and \"log dpps\"", "log"};
  if (what == "categories") return plan_categories(a, own_tty);
  if (what == "dpps") return plan_dpps(a, own_tty);
  if (what == "level") return plan_level(a);
  if (what == "file") return plan_file(a);
  if (what == "show") {
    if (a.words.size() != 2) return UsageError{"\"log show\" takes no words", "log show"};
    Action act;
    act.kind = ActionKind::Request;
    act.opcode = kOpcodeShowDebug;
    act.reply = ReplyUse::Report;
    return act;
  }
  if (what.empty()) return UsageError{"log what? categories, dpps, level, file or show", "log"};
  return UsageError{"unknown log command \"" + std::string(what) + "\"", "log"};
}

}  // namespace dravikctl
