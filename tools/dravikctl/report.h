// The log manager's report (the reply to opcode 5001) read back into what it
// says, and what it cannot say: it lists only the categories that are on and
// not hidden by the category that overrides them, leaves out filter words of
// 0, names log files only for DPPs in both the plinder set and the DPP map,
// and is cut at 4,095 characters.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravikctl {

struct LogReport {
  bool cut = false;  // the report filled its buffer: what follows is unknown
  std::optional<std::uint32_t> level;
  std::optional<std::vector<std::uint32_t>> instances;       // DPP instances, one-based
  std::map<std::uint32_t, std::string> files;                // DPP -> "NAME.n"
  std::map<std::uint32_t, std::array<std::uint32_t, 4>> on;  // listed categories, filters
  std::uint32_t last_listed = 0;  // the category listed last (its filters may be cut)
};

LogReport parse_report(std::string_view text);

// What the report says of category n.
enum class Known { On, Off, Unknown };
Known category_state(const LogReport& r, std::uint32_t n);

// "log categories": one line per category, number, name, on/off, filters,
// with "unknown" wherever the report cannot tell.
std::string category_table(const LogReport& r);

}  // namespace dravikctl
