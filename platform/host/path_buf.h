// A fixed-size path builder for the host platform.
//
// Paths are composed without the heap and without stdio, so the same code
// serves the heartbeat path (which may run in a signal handler) and every
// other operation. A path that does not fit is marked not ok and stays a
// NUL-terminated prefix; callers check ok() before using it.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace host {

struct PathBuf {
  char s[PATH_MAX] = {};
  std::size_t n = 0;
  bool fits = true;

  bool ok() const { return fits; }
  const char* c_str() const { return s; }
  std::string_view view() const { return {s, n}; }

  PathBuf& add(std::string_view t) {
    if (t.size() >= sizeof s - n) {
      fits = false;
      return *this;
    }
    for (char c : t) s[n++] = c;
    s[n] = '\0';
    return *this;
  }

  // Appends v in decimal.
  PathBuf& add_u(std::uint64_t v) {
    char digits[20];
    std::size_t k = 0;
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    char out[20];
    for (std::size_t i = 0; i < k; ++i) out[i] = digits[k - 1 - i];
    return add({out, k});
  }
};

}  // namespace host
