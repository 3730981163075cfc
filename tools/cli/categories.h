// The DPP log categories as operators name them: by number (1-29) or by the
// short name of the daemon's own category table (dpplog/flag_table.h).
//
// A short name that several categories share selects all of them: "ipc" is
// 1-4, "drv" 6-7. Category 26's name holds a blank: "galt obj" (quoted) or
// "galt_obj". Category 14 has no short name and is named by its number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tools {

constexpr std::uint32_t kCategories = 29;

// Category n's short name, "" for none (14).
std::string category_name(std::uint32_t n);
// Category n's long name, as the log manager's report shows it.
std::string category_long_name(std::uint32_t n);
// The category whose "on" hides n in the report (it overrides n), or 0.
std::uint32_t category_hidden_by(std::uint32_t n);

// "5", "mem,scsi", "ipc,0x1d": the categories named, ascending, each once.
// Throws UsageError naming the first word that is neither, with the nearest.
std::vector<std::uint32_t> parse_categories(const std::string& which);
// One category by number or name; a name that several share is refused
// with their numbers.
std::uint32_t parse_category(const std::string& word);

// A debug level by number (0-7) or name (any case): nothing when neither.
std::optional<std::uint32_t> parse_level(const std::string& level);
std::string level_name(std::uint32_t level);

}  // namespace tools
