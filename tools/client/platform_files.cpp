#include "tools/client/platform_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <thread>

namespace client {

namespace {

// Skips blanks, then parses a decimal number (with an optional sign) from
// text at pos; advances pos past it.
template <typename T>
bool take_number(std::string_view text, std::size_t& pos, T& out) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  const char* first = text.data() + pos;
  const char* last = text.data() + text.size();
  auto [end, ec] = std::from_chars(first, last, out);
  if (ec != std::errc() || end == first) return false;
  pos = static_cast<std::size_t>(end - text.data());
  return true;
}

}  // namespace

std::optional<Heartbeats> parse_heartbeats(std::string_view text) {
  Heartbeats h;
  std::size_t pos = 0;
  if (!take_number(text, pos, h.count)) return std::nullopt;
  if (pos >= text.size() || text[pos] != ' ') return std::nullopt;
  if (!take_number(text, pos, h.pm)) return std::nullopt;
  return h;
}

std::optional<Heartbeats> read_heartbeats(const PlatformDir& p) {
  auto text = read_file(heartbeats_path(p));
  if (!text) return std::nullopt;
  return parse_heartbeats(*text);
}

std::optional<CardRecord> parse_card(std::string_view text) {
  CardRecord c;
  std::size_t pos = 0;
  if (!take_number(text, pos, c.id) || !take_number(text, pos, c.dpps)) return std::nullopt;
  if (pos >= text.size() || text[pos] != '\n' || c.dpps == 0) return std::nullopt;
  return c;
}

std::optional<CardRecord> read_card(const PlatformDir& p) {
  auto text = read_file(card_path(p));
  if (!text) return std::nullopt;
  return parse_card(*text);
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  auto text = read_file(path);
  if (!text) return lines;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t nl = text->find('\n', start);
    if (nl == std::string::npos) nl = text->size();
    lines.push_back(text->substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> corvan_log_lines(const PlatformDir& p) {
  return read_lines(corvan_log_path(p));
}

std::vector<std::string> dbgfac_log_lines(const PlatformDir& p, std::string_view facility) {
  return read_lines(dbgfac_log_path(p, facility));
}

std::vector<std::string> dbgfac_vtys(const PlatformDir& p, std::string_view facility) {
  return read_lines(dbgfac_vtys_path(p, facility));
}

bool wait_for(const std::function<bool()>& pred, std::chrono::milliseconds timeout,
              std::chrono::milliseconds every) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(every);
  }
}

}  // namespace client
