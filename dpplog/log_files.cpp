#include "dpplog/log_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dpplog/manager.h"
#include "platform/fs.h"

namespace {

std::time_t system_now() { return std::time(nullptr); }

constexpr std::size_t kPathSize = 4096;

// Each open file's write position: the bytes written to it since it was
// opened or last wrapped. Kept here, since asking the stream costs a system
// call per record. Only what the stream took counts.
long g_position[kMaxDpps + 1];

void advance(int dpp, int written) {
  if (written > 0) g_position[dpp] += written;
}

// The time-stamp line due ahead of a record, if any. Stamps track whole
// seconds; while the clock stands behind the last stamp (it was set back),
// no stamp is written until it passes it again.
void stamp_if_due(int dpp, FILE* f) {
  const std::int32_t now = static_cast<std::int32_t>(dpplog_now());
  if (now <= last_time[dpp]) return;
  const std::time_t t = now;
  const char* text = std::ctime(&t);
  if (text == nullptr) text = "?\n";
  const std::int32_t gap = now - last_time[dpp];
  if (last_time[dpp] == 0 || gap == 1) {
    advance(dpp, fprintf(f, "#### %s", text));
  } else {
    advance(dpp, fprintf(f, "#### [%d sec] %s", gap, text));
  }
  last_time[dpp] = now;
  last_lineno[dpp] += 1;
}

void close_current_set() {
  close_dpp_files();
  free(output_filename);
  output_filename = nullptr;
}

// A base name names one file in the log directory: a single path component.
bool confined_name(std::string_view base) {
  return !base.empty() && base != "." && base != ".." && base.find('/') == std::string_view::npos;
}

// Opens a log file as fopen "w" would (created or emptied), but never through
// a symbolic link planted at its path, never waiting on a FIFO, and never
// anything but a regular file.
FILE* open_log_file(const char* path) {
  const int fd =
      fs_open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  FILE* f = nullptr;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) f = fdopen(fd, "w");
  if (f == nullptr) close(fd);
  return f;
}

void open_dpp_file(int n, std::string_view base) {
  const int blen = static_cast<int>(base.size());
  char file_path[kPathSize];
  char link_path[kPathSize];
  snprintf(file_path, sizeof file_path, "%s%.*s.%d", kDppLogDir, blen, base.data(), n);
  snprintf(link_path, sizeof link_path, "/var/log/external/%.*s.%d", blen, base.data(), n);

  output_files[n] = confined_name(base) ? open_log_file(file_path) : nullptr;
  if (output_files[n] == nullptr) {
    printf("DPPDEBUG_MGR_ERR: Unable to Create %s file\n", file_path);
    return;
  }
  // Room for the point, one digit and the NUL: DPP numbers have one digit.
  const std::size_t name_size = base.size() + 3;
  filenames[n] = static_cast<char*>(malloc(name_size));
  if (filenames[n] == nullptr) {
    printf("DPPDEBUG_MGR_ERR: Unable to allocate memory %s file\n", file_path);
    return;
  }
  snprintf(filenames[n], name_size, "%.*s.%d", blen, base.data(), n);
  last_lineno[n] = 0;
  last_time[n] = 0;
  g_position[n] = 0;

  // A link from an earlier set or an earlier run is replaced.
  fs_unlink(link_path);
  if (fs_symlink(file_path, link_path) != 0) {
    printf("DPPDEBUG_MGR_ERR: Link creation failed for %s to %s\n", file_path, link_path);
  }
  if (output_filename == nullptr) {
    output_filename = static_cast<char*>(malloc(base.size() + 1));
    if (output_filename != nullptr) {
      memcpy(output_filename, base.data(), base.size());
      output_filename[base.size()] = '\0';
    }
  }
}

// After each record: the newline, and the wrap. No truncation: later records
// overwrite the oldest from the start, and the bytes beyond the write position
// stay until overwritten.
void end_record(int dpp, FILE* f) {
  if (fputc('\n', f) != EOF) advance(dpp, 1);
  last_lineno[dpp] += 1;
  if (g_position[dpp] > kLogFileWrap) {
    rewind(f);
    g_position[dpp] = 0;
    last_lineno[dpp] = 0;
  }
}

}  // namespace

std::time_t (*dpplog_now)() = system_now;

void close_dpp_files(void) {
  for (int n = 1; n <= num_dpps; ++n) {
    // After a failed allocation some arrays were never made.
    if (output_files != nullptr && output_files[n] != nullptr) {
      fclose(output_files[n]);
      output_files[n] = nullptr;
      g_position[n] = 0;
    }
    if (filenames != nullptr && filenames[n] != nullptr) {
      free(filenames[n]);
      filenames[n] = nullptr;
    }
  }
}

extern "C" void fprintf_klaxo(int dpp, const char* format, ...) {
  if (!dpp_has_log_file(dpp)) return;
  FILE* f = output_files[dpp];
  stamp_if_due(dpp, f);
  va_list ap;
  va_start(ap, format);
  advance(dpp, vfprintf(f, format, ap));
  va_end(ap);
  end_record(dpp, f);
}

void write_dpp_record(int dpp, const char* text, std::size_t len) {
  if (!dpp_has_log_file(dpp)) return;
  FILE* f = output_files[dpp];
  stamp_if_due(dpp, f);
  advance(dpp, static_cast<int>(fwrite(text, 1, len, f)));
  end_record(dpp, f);
}

void set_output_file(const wire::SetDebugRequest& r) {
  if (r.on != 0 && output_filename != nullptr && r.name == output_filename) return;
  close_current_set();
  if (r.on == 0) return;
  for (int n = 1; n <= num_dpps; ++n) open_dpp_file(n, r.name);
}
