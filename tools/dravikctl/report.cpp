#include "tools/dravikctl/report.h"

#include <cstdio>
#include <cstdlib>

#include "tools/cli/categories.h"

namespace dravikctl {

using tools::category_hidden_by, tools::category_long_name, tools::category_name,
    tools::kCategories, tools::level_name, tools::parse_categories, tools::parse_level;

namespace {

constexpr std::size_t kReportMax = 4095;

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    out.push_back(text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return out;
}

std::uint32_t number_at(std::string_view s) {
  return static_cast<std::uint32_t>(std::strtoul(std::string(s).c_str(), nullptr, 0));
}

std::string filters_text(const std::array<std::uint32_t, 4>& f) {
  std::string s;
  for (std::size_t i = 0; i < f.size(); ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, f[i] > 9 ? "0x%X" : "%u", f[i]);
    s += (i ? "," : "") + std::string(buf);
  }
  return s;
}

}  // namespace

LogReport parse_report(std::string_view text) {
  LogReport r;
  r.cut = text.size() >= kReportMax;
  std::uint32_t category = 0;
  for (std::string_view l : lines_of(text)) {
    if (l.starts_with("DPP-")) {
      std::size_t colon = l.find(" logfile: ");
      std::size_t open = l.rfind(" (line#");
      if (colon == std::string_view::npos || open == std::string_view::npos || open < colon)
        continue;
      r.files[number_at(l.substr(4, colon - 4))] =
          std::string(l.substr(colon + 10, open - colon - 10));
    } else if (l.starts_with("Debug level: ")) {
      r.level = number_at(l.substr(13));
    } else if (l.starts_with("DPP instances: ")) {
      std::vector<std::uint32_t> dpps;
      for (std::string_view rest = l.substr(15); !rest.empty();) {
        std::size_t blank = rest.find(' ');
        if (blank != 0) dpps.push_back(number_at(rest.substr(0, blank)));
        if (blank == std::string_view::npos) break;
        rest.remove_prefix(blank + 1);
      }
      r.instances = dpps;
    } else if (l.ends_with(" is on")) {
      category = 0;
      for (std::uint32_t n = 1; n <= kCategories; ++n)
        if (l.substr(0, l.size() - 6) == category_long_name(n)) category = n;
      if (category) r.on[category] = {};
      r.last_listed = category;
    } else if (l.starts_with("    filter ") && category) {
      std::uint32_t w = number_at(l.substr(11));
      std::size_t is = l.find(" is ");
      if (w >= 1 && w <= 4 && is != std::string_view::npos)
        r.on[category][w - 1] = number_at(l.substr(is + 4));
    }
  }
  return r;
}

Known category_state(const LogReport& r, std::uint32_t n) {
  if (r.on.count(n)) return Known::On;
  std::uint32_t by = category_hidden_by(n);
  if (by && r.on.count(by)) return Known::Unknown;
  return r.cut ? Known::Unknown : Known::Off;
}

std::string category_table(const LogReport& r) {
  std::string out = " N  NAME               STATE    FILTERS\n";
  for (std::uint32_t n = 1; n <= kCategories; ++n) {
    std::string name = category_name(n);
    Known k = category_state(r, n);
    std::string state = k == Known::On ? "on" : k == Known::Off ? "off" : "unknown";
    std::string filters = "unknown";
    if (k == Known::On && !(r.cut && r.last_listed == n)) filters = filters_text(r.on.at(n));
    std::uint32_t by = category_hidden_by(n);
    if (k == Known::Unknown && by && r.on.count(by))
      filters += " (hidden by " + std::to_string(by) + ", which is on)";
    char line[160];
    std::snprintf(line, sizeof line, "%2u  %-17s  %-7s  %s\n", n, name.empty() ? "-" : name.c_str(),
                  state.c_str(), filters.c_str());
    out += line;
  }
  if (r.cut)
    out += "(the report was cut at 4095 characters: categories after the cut are unknown)\n";
  return out;
}

}  // namespace dravikctl
