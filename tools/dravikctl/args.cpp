#include "tools/dravikctl/args.h"

#include <array>
#include <charconv>

namespace dravikctl {

namespace {

constexpr std::array<std::string_view, 4> kValueOptions = {"--vty", "--timeout", "--filters",
                                                           "--dir"};
constexpr std::array<std::string_view, 3> kFlags = {"--help", "-h", "--port0"};

}  // namespace

bool option_takes_value(std::string_view name) {
  for (auto o : kValueOptions)
    if (o == name) return true;
  return false;
}

bool is_known_option(std::string_view name) {
  if (option_takes_value(name)) return true;
  for (auto f : kFlags)
    if (f == name) return true;
  return false;
}

Args split_args(const std::vector<std::string>& argv) {
  Args a;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    // "-" alone and negative-looking words are words; options start with
    // "--" or are "-h".
    if (!(arg.starts_with("--") && arg.size() > 2) && arg != "-h") {
      a.words.push_back(arg);
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (auto eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (!is_known_option(name)) {
      a.error = "unknown option " + name;
      return a;
    }
    if (option_takes_value(name)) {
      if (!value) {
        if (i + 1 >= argv.size()) {
          a.error = "option " + name + " needs a value";
          return a;
        }
        value = argv[++i];
      }
      a.options[name] = *value;
    } else {
      if (value) {
        a.error = "option " + name + " takes no value";
        return a;
      }
      a.options[name] = "";
    }
  }
  return a;
}

std::optional<std::uint32_t> parse_number(std::string_view s) {
  int base = 10;
  if (s.starts_with("0x") || s.starts_with("0X")) {
    s.remove_prefix(2);
    base = 16;
  }
  std::uint32_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<std::vector<std::uint32_t>> parse_number_list(std::string_view s) {
  std::vector<std::uint32_t> out;
  for (;;) {
    std::size_t comma = s.find(',');
    auto v = parse_number(s.substr(0, comma));
    if (!v) return std::nullopt;
    out.push_back(*v);
    if (comma == std::string_view::npos) return out;
    s.remove_prefix(comma + 1);
  }
}

}  // namespace dravikctl
