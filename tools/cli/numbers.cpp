#include "tools/cli/numbers.h"

#include <charconv>

namespace tools {

std::optional<std::uint64_t> parse_number(std::string_view s, std::uint64_t max, int base) {
  if (base != 10 && (s.starts_with("0x") || s.starts_with("0X"))) {
    s.remove_prefix(2);
    base = 16;
  }
  base = base == 0 ? 10 : base;
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > max) return std::nullopt;
  return v;
}

std::optional<std::vector<std::uint32_t>> parse_number_list(std::string_view s) {
  std::vector<std::uint32_t> out;
  for (;;) {
    std::size_t comma = s.find(',');
    auto v = parse_number(s.substr(0, comma));
    if (!v) return std::nullopt;
    out.push_back(static_cast<std::uint32_t>(*v));
    if (comma == std::string_view::npos) return out;
    s.remove_prefix(comma + 1);
  }
}

}  // namespace tools
