#include "dpplog/log_lines.h"

#include <cstring>

extern "C" void logDppTextLines(const char* text, int dpp, std::uint32_t length) {
  const std::uint32_t bound = length < kTextBufSize ? length : kTextBufSize;
  // bound 0 has no room even for the NUL; it is treated as an empty text.
  const std::size_t n = strnlen(text, bound == 0 ? 0 : bound - 1);
  const char* const end = text + n;
  if (strspn(text, "\n") >= n) {
    log_dpp_line(dpp, text, n);
    return;
  }
  // One record per line; runs of newlines yield none.
  for (const char* p = text; p < end;) {
    if (*p == '\n') {
      ++p;
      continue;
    }
    const char* nl = static_cast<const char*>(memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* stop = nl != nullptr ? nl : end;
    log_dpp_line(dpp, p, static_cast<std::size_t>(stop - p));
    p = stop;
  }
}
