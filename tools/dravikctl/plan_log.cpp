// Planning of the log manager's SET_DEBUG requests: categories, DPP map,
// level and output file.
#include <array>
#include <cctype>

#include "tools/dravikctl/plan.h"
#include "wire/set_debug_request.h"

namespace dravikctl {

namespace {

constexpr std::uint32_t kCategories = 29;
constexpr std::array<std::string_view, 8> kLevelNames = {"EMERG", "ALERT",  "CRIT", "ERR",
                                                         "WARN",  "NOTICE", "INFO", "DEBUG"};

Action set_debug(const wire::SetDebugRequest& r, std::string done) {
  Action act;
  act.opcode = kOpcodeSetDebug;
  act.payload = wire::encode_set_debug(r);
  act.done = std::move(done);
  return act;
}

}  // namespace

Action plan_log_categories(bool on, const std::string& which,
                           const std::vector<std::uint32_t>& filters, const std::string& vty) {
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugCategories;
  r.on = on ? 1 : 0;
  r.name = vty;
  std::string done;
  if (which == "all") {
    if (!filters.empty())
      throw UsageError(
          "--filters belongs to one category: all categories are switched on "
          "with their filters cleared");
    r.all = 1;
    done = std::string("every category switched ") + (on ? "on" : "off");
  } else {
    auto n = tools::parse_number(which);
    if (!n || *n < 1 || *n > kCategories)
      throw UsageError("category \"" + which + "\": categories are numbered 1 to 29, or all");
    r.flag = static_cast<std::uint8_t>(*n);
    if (!filters.empty() && !on) throw UsageError("--filters goes with \"on\"");
    if (filters.size() > r.filters.size())
      throw UsageError("--filters takes one to four numbers: a,b,c,d (decimal or 0x...)");
    for (std::size_t i = 0; i < filters.size(); ++i) r.filters[i] = filters[i];
    done = "category " + std::to_string(*n) + " switched " + (on ? "on" : "off");
  }
  if (!vty.empty() && (on || r.all)) done += " (terminal " + vty + ")";
  return set_debug(r, done);
}

Action plan_log_dpps(bool on, const std::string& which, const std::string& vty) {
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugDppMap;
  r.on = on ? 1 : 0;
  r.name = vty;
  std::string done;
  if (which == "all") {
    r.all = 1;
    done = std::string("logging of every DPP switched ") + (on ? "on" : "off");
  } else {
    auto dpps = tools::parse_number_list(which);
    if (!dpps) throw UsageError("\"" + which + "\": name DPPs as 1,2 or all");
    for (std::uint32_t n : *dpps) {
      if (n < 1 || n > kMaxDpp)
        throw UsageError("DPP " + std::to_string(n) + ": DPPs are numbered from 1");
      r.dpp_mask |= 1u << (n - 1);
    }
    done = "logging of DPP " + which + " switched " + (on ? "on" : "off");
  }
  return set_debug(r, done);
}

Action plan_log_level(const std::string& level) {
  std::string name = level;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::optional<std::uint64_t> n;
  for (std::size_t i = 0; i < kLevelNames.size(); ++i)
    if (name == kLevelNames[i]) n = i;
  if (!n) n = tools::parse_number(level, 7);
  if (!n)
    throw UsageError("level \"" + level +
                     "\": 0-7 or EMERG, ALERT, CRIT, ERR, WARN, NOTICE, INFO, DEBUG");
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugLevel;
  r.level = static_cast<std::uint8_t>(*n);
  return set_debug(
      r, "debug level set to " + std::to_string(*n) + " (" + std::string(kLevelNames[*n]) + ")");
}

Action plan_log_file(const std::string& name) {
  if (name.empty()) throw UsageError("the base name of the log files is empty");
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugOutputFile;
  if (name == "off") {
    r.on = 0;
    return set_debug(r, "per-DPP log files closed; records go to the debug facility");
  }
  r.on = 1;
  r.name = name;
  return set_debug(r, "per-DPP log files " + name + ".N opened under /cpp/plinder_dpp_logs/");
}

}  // namespace dravikctl
