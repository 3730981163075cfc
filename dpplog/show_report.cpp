#include "dpplog/show_report.h"

#include <cstdarg>
#include <cstdio>

#include "dpplog/flag_table.h"
#include "dpplog/log_files.h"
#include "dpplog/state.h"

extern "C" {
char show_buf[kShowBufSize];
}

namespace {

// Appends one piece with the space left; once the buffer is full, pieces are
// cut and later ones add nothing.
__attribute__((format(printf, 2, 3))) void append(std::size_t& used, const char* format, ...) {
  const std::size_t room = kShowBufSize - used;
  va_list ap;
  va_start(ap, format);
  const int n = vsnprintf(show_buf + used, room, format, ap);
  va_end(ap);
  if (n <= 0) return;
  used += static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room - 1;
}

// The size of an open log file, leaving the stream at its write position;
// -1 when the stream cannot seek.
long file_size(FILE* f) {
  const long pos = ftell(f);
  if (fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = ftell(f);
  fseek(f, pos, SEEK_SET);
  return size;
}

void append_log_files(std::size_t& used) {
  const std::uint32_t m = plinder_dpps & dppmap;
  printf("\n Display map:%d", static_cast<int>(m));
  for (int n = 1; n <= num_dpps; ++n) {
    if ((m & (1u << (n - 1))) == 0 || filenames[n] == nullptr) continue;
    const long size = output_files[n] != nullptr ? file_size(output_files[n]) : -1;
    append(used, "DPP-%d logfile: %s (line#: %d, size: %d)\n", n, filenames[n], last_lineno[n],
           static_cast<int>(size));
  }
}

void append_categories(std::size_t& used) {
  for (int n = 1; n <= kDppLogCategories; ++n) {
    if ((cur_flag & (1u << (n - 1))) == 0) continue;
    const int o = debug_flag_entries[n].overridden_by;
    if (o != 0 && (cur_flag & (1u << (o - 1))) != 0) continue;
    append(used, "%s is on\n", debug_flag_entries[n].long_name);
    for (int w = 1; w <= 4; ++w) {
      const std::uint32_t word = cur_filters[n - 1][w - 1];
      if (word != 0) {
        append(used, "    filter %d is 0x%08X (%d)\n", w, word, static_cast<std::int32_t>(word));
      }
    }
  }
}

}  // namespace

std::size_t build_show_report() {
  std::size_t used = 0;
  show_buf[0] = '\0';
  printf("\n Display output files map:%d flag:%d plinder_dpps:%d", static_cast<int>(dppmap),
         static_cast<int>(cur_flag), static_cast<int>(plinder_dpps));
  if (output_filename != nullptr) append_log_files(used);
  append(used, "\nDebug level: %d (%s)\n\n", debug_level, debug_level_name(debug_level));
  append(used, "DPP instances: ");
  const std::uint32_t instances = plinder_dpps & dppmap;
  for (int n = 1; n <= 32; ++n) {
    if (instances & (1u << (n - 1))) append(used, "%d ", n);
  }
  append(used, "\n\n");
  if (cur_flag != 0) append_categories(used);
  return used;
}
