// Planning of the log manager's SET_DEBUG requests: categories, DPP map,
// level and output file; and of its report, as text or as a table.
#include "tools/cli/categories.h"
#include "tools/cli/nearest.h"
#include "tools/dravikctl/plan.h"
#include "wire/set_debug_request.h"

namespace dravikctl {

using tools::category_hidden_by, tools::category_long_name, tools::category_name,
    tools::kCategories, tools::level_name, tools::parse_categories, tools::parse_level;

namespace {

Action set_debug(const wire::SetDebugRequest& r, std::string done, Check check) {
  Action act;
  act.opcode = kOpcodeSetDebug;
  act.payload = wire::encode_set_debug(r);
  act.done = std::move(done);
  act.check = check;
  act.on = r.on != 0;
  return act;
}

std::string named(std::uint32_t n) {
  std::string name = category_name(n);
  return std::to_string(n) + (name.empty() ? "" : " (" + name + ")");
}

}  // namespace

Action plan_log_categories(bool on, const std::string& which,
                           const std::vector<std::uint32_t>& filters, const std::string& vty) {
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugCategories;
  r.on = on ? 1 : 0;
  r.name = vty;
  if (which == "all") {
    if (!filters.empty())
      throw UsageError(
          "--filters belongs to named categories: all categories are switched on "
          "with their filters cleared");
    r.all = 1;
    std::string done = std::string("every category switched ") + (on ? "on" : "off");
    if (!vty.empty()) done += " (terminal " + vty + ")";
    return set_debug(r, done, Check::Categories);
  }
  const std::vector<std::uint32_t> cats = parse_categories(which);
  if (!filters.empty() && !on) throw UsageError("--filters goes with \"on\"");
  if (filters.size() > r.filters.size())
    throw UsageError("--filters takes one to four numbers: a,b,c,d (decimal or 0x...)");
  for (std::size_t i = 0; i < filters.size(); ++i) r.filters[i] = filters[i];
  std::string done = cats.size() == 1 ? "category " : "categories ";
  Action act;
  for (std::size_t i = 0; i < cats.size(); ++i) {
    r.flag = static_cast<std::uint8_t>(cats[i]);
    done += (i ? ", " : "") + named(cats[i]);
    if (i == 0)
      act = set_debug(r, "", Check::Categories);
    else
      act.more.push_back(wire::encode_set_debug(r));
  }
  act.done = done + " switched " + (on ? "on" : "off");
  if (!vty.empty() && on) act.done += " (terminal " + vty + ")";
  act.numbers = cats;
  return act;
}

Action plan_category_table() {
  Action act;
  act.opcode = kOpcodeShowDebug;
  act.reply = ReplyUse::Table;
  return act;
}

Action plan_log_dpps(bool on, const std::string& which, const std::string& vty) {
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugDppMap;
  r.on = on ? 1 : 0;
  r.name = vty;
  std::string done;
  std::vector<std::uint32_t> named;
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
    named = *dpps;
    done = "logging of DPP " + which + " switched " + (on ? "on" : "off");
  }
  Action act = set_debug(r, done, Check::Dpps);
  act.numbers = named;
  return act;
}

Action plan_log_level(const std::string& level) {
  auto n = parse_level(level);
  if (!n) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < 8; ++i) names.push_back(level_name(i));
    throw UsageError(tools::unknown_word("level", level, names) + " (or 0-7)");
  }
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugLevel;
  r.level = static_cast<std::uint8_t>(*n);
  Action act = set_debug(
      r, "debug level set to " + std::to_string(*n) + " (" + level_name(*n) + ")", Check::Level);
  act.level = *n;
  return act;
}

Action plan_log_file(const std::string& name, bool force) {
  if (name.empty()) throw UsageError("the base name of the log files is empty");
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugOutputFile;
  if (name == "off") {
    r.on = 0;
    return set_debug(r, "per-DPP log files closed; records go to the debug facility",
                     Check::FileClose);
  }
  r.on = 1;
  r.name = name;
  Action act = set_debug(r, "per-DPP log files " + name + ".N opened under /cpp/plinder_dpp_logs/",
                         Check::FileOpen);
  act.name = name;
  act.force = force;
  return act;
}

}  // namespace dravikctl
