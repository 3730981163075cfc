#include "dpplog/log_lines.h"

#include <cstring>

extern "C" void logDppTextLines(const char* text, int dpp, std::uint32_t length) {
  const std::uint32_t bound = length < kTextBufSize ? length : kTextBufSize;
  char copy[kTextBufSize];
  // bound 0 has no room even for the NUL; it is treated as an empty text.
  const std::size_t max_chars = bound == 0 ? 0 : bound - 1;
  const std::size_t n = strnlen(text, max_chars);
  memcpy(copy, text, n);
  copy[n] = '\0';

  if (strspn(copy, "\n") == n) {
    log_dpp_record(dpp, "%s", copy);
    return;
  }
  // Cut the copy in place at each newline; runs of newlines yield no piece.
  char* p = copy;
  while (*p != '\0') {
    if (*p == '\n') {
      ++p;
      continue;
    }
    char* end = strchr(p, '\n');
    if (end != nullptr) *end = '\0';
    log_dpp_record(dpp, "%s", p);
    if (end == nullptr) break;
    p = end + 1;
  }
}
