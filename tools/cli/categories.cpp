#include "tools/cli/categories.h"

#include <algorithm>
#include <cctype>

#include "dpplog/flag_table.h"
#include "tools/cli/nearest.h"
#include "tools/cli/numbers.h"

namespace tools {

namespace {

// The names an operator may type for category n: its short name, with "_"
// for a blank as a second form.
std::vector<std::string> names_of(std::uint32_t n) {
  std::string s = category_name(n);
  if (s.empty()) return {};
  std::vector<std::string> out{s};
  std::replace(s.begin(), s.end(), ' ', '_');
  if (s != out.front()) out.push_back(s);
  return out;
}

}  // namespace

std::string category_name(std::uint32_t n) {
  if (n < 1 || n > kCategories || !debug_flag_entries[n].short_name) return {};
  return debug_flag_entries[n].short_name;
}

std::string category_long_name(std::uint32_t n) {
  if (n < 1 || n > kCategories) return {};
  return debug_flag_entries[n].long_name;
}

std::uint32_t category_hidden_by(std::uint32_t n) {
  for (std::uint32_t o = 1; o <= kCategories; ++o)
    if (debug_flag_entries[o].overrides == static_cast<std::int32_t>(n)) return o;
  return 0;
}

std::vector<std::uint32_t> parse_categories(const std::string& which) {
  std::vector<std::uint32_t> out;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = which.find(',', start);
    std::string w = which.substr(start, comma == std::string::npos ? comma : comma - start);
    std::size_t before = out.size();
    if (auto n = parse_number(w)) {
      if (*n < 1 || *n > kCategories)
        throw UsageError("category " + w + ": categories are numbered 1 to 29, or all");
      out.push_back(static_cast<std::uint32_t>(*n));
    }
    for (std::uint32_t n = 1; n <= kCategories; ++n) {
      auto names = names_of(n);
      if (std::find(names.begin(), names.end(), w) != names.end()) out.push_back(n);
    }
    if (out.size() == before) {
      std::vector<std::string> all{"all"};
      for (std::uint32_t n = 1; n <= kCategories; ++n)
        for (const std::string& s : names_of(n))
          if (std::find(all.begin(), all.end(), s) == all.end()) all.push_back(s);
      throw UsageError(unknown_word("category", w, all) +
                       " (or a number 1-29; \"dravikctl log categories\" lists them)");
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::uint32_t parse_category(const std::string& word) {
  if (word.find(',') != std::string::npos) throw UsageError("one category, not a list: " + word);
  std::vector<std::uint32_t> cats = parse_categories(word);
  if (cats.size() == 1) return cats.front();
  std::string which;
  for (std::uint32_t n : cats) which += (which.empty() ? "" : ", ") + std::to_string(n);
  throw UsageError("\"" + word + "\" names categories " + which + ": name one by its number");
}

std::optional<std::uint32_t> parse_level(const std::string& level) {
  std::string name = level;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (std::uint32_t i = 0; i < 8; ++i)
    if (name == debug_level_names[i]) return i;
  if (auto n = parse_number(level, 7)) return static_cast<std::uint32_t>(*n);
  return std::nullopt;
}

std::string level_name(std::uint32_t level) { return debug_level_name(level); }

}  // namespace tools
