#include "dpplog/log_files.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/clock.h"
#include "platform/fs.h"

extern "C" {
char* output_filename = nullptr;
FILE** output_files = nullptr;
char** filenames = nullptr;
std::int32_t* last_time = nullptr;
std::int32_t* last_lineno = nullptr;
}

namespace {

std::time_t system_now() { return std::time(nullptr); }

constexpr std::size_t kPathSize = 4096;

// What the writer keeps of each DPP's stream beside the exported entries.
struct StreamState {
  // The write position: the bytes handed to the stream since the file was
  // opened or last wrapped. Kept here, since asking the stream costs a system
  // call per record.
  long position;
  // The end of the last record known to be in the file (no byte of it left
  // in the buffer), and the records handed since.
  long safe_end;
  std::uint32_t since_safe;
  // When the oldest record in the buffer is due to be written out; 0 when
  // none waits.
  std::int64_t due_ms;
  // Writing failed: each record is written out at once, so that its fate is
  // known, until one gets through.
  bool failing;
  long fail_end;       // how far the file reached when writing failed
  std::uint64_t lost;  // records lost since writing began to fail
};

// One entry per DPP plus entry 0, as the exported tables.
StreamState* g_streams = nullptr;
int g_dpps = 0;
// No later than the earliest due_ms of any stream, 0 when none waits: the
// loop asks on every pass. Deadlines are set in time order and only
// flush_due_dpp_files moves this one on; a deadline cleared alone (a wrap, a
// failed write) may leave it early, and the loop then wakes once for nothing.
std::int64_t g_first_due = 0;

void advance(int dpp, int written) {
  if (written > 0) g_streams[dpp].position += written;
}

const char* name_of(int dpp) { return filenames[dpp] != nullptr ? filenames[dpp] : "?"; }

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

// A write out of the buffer failed (stdio then throws the buffer away). What
// is still buffered is dropped too, and the stream goes back to the end of
// the last record known to be in the file, so the next record starts a line
// of its own and the wrap follows what the file holds. The records after that
// point are lost, however much of them reached the file.
void write_failed(int dpp, FILE* f) {
  const int err = errno;
  StreamState& s = g_streams[dpp];
  __fpurge(f);
  clearerr(f);
  const long reached = lseek(fileno(f), 0, SEEK_CUR);
  fseek(f, s.safe_end, SEEK_SET);
  s.position = s.safe_end;
  s.due_ms = 0;
  if (s.since_safe > 0 && !s.failing) {
    s.failing = true;
    s.fail_end = reached;
    s.lost = s.since_safe;
    printf("DPPDEBUG_MGR_ERR: DPP-%d log file %s: write failed (%s); records are being lost\n", dpp,
           name_of(dpp), strerror(err));
  }
  s.since_safe = 0;
}

// Writing has failed: the record just handed is written out at once. Lost, it
// is taken back whole (its stamp with it, so the next record gets one).
// Written, it is kept; once one is written past where the file reached when
// writing failed (a full disk has room again), the loss is over and reported.
void settle_failing(int dpp, FILE* f, long start, std::int32_t stamp_before) {
  StreamState& s = g_streams[dpp];
  if (fflush(f) == 0 && !ferror(f)) {
    s.safe_end = s.position;
    s.since_safe = 0;
    if (s.position <= s.fail_end) return;
    printf("DPPDEBUG_MGR_ERR: DPP-%d log file %s: writing again; %llu records were lost\n", dpp,
           name_of(dpp), static_cast<unsigned long long>(s.lost));
    s.failing = false;
    s.lost = 0;
    return;
  }
  __fpurge(f);
  clearerr(f);
  fseek(f, start, SEEK_SET);
  s.position = start;
  last_time[dpp] = stamp_before;
  s.lost += 1;
}

// After each record: what waits in the buffer, and since when. No system
// call: a failed write shows in the stream's error flag.
void settle(int dpp, FILE* f, long start, std::int32_t stamp_before) {
  StreamState& s = g_streams[dpp];
  if (s.failing) {
    settle_failing(dpp, f, start, stamp_before);
    return;
  }
  s.since_safe += 1;
  if (ferror_unlocked(f)) {
    write_failed(dpp, f);
    return;
  }
  const long pending = static_cast<long>(__fpending(f));
  if (pending == 0) {
    s.safe_end = s.position;
    s.since_safe = 0;
    return;
  }
  // Less pending than this record brought: the buffer went out meanwhile,
  // with every record before this one.
  if (pending < s.position - start) {
    s.safe_end = start;
    s.since_safe = 1;
  }
  if (s.due_ms == 0) {
    s.due_ms = dpplog_now_ms() + kLogFlushDelayMs;
    if (g_first_due == 0) g_first_due = s.due_ms;
  }
}

void reset_stream(int dpp) { g_streams[dpp] = StreamState{}; }

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

  reset_stream(n);
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

// One record: its stamp when due, its text (written by `text`), its newline,
// then the wrap. No truncation: later records overwrite the oldest from the
// start, and the bytes beyond the write position stay until overwritten. The
// buffer goes out before the rewind, so that a failed write is seen (the
// rewind would clear the error) and the wrap follows what the file holds.
template <typename WriteText>
void write_record(int dpp, WriteText text) {
  FILE* f = output_files[dpp];
  const long start = g_streams[dpp].position;
  const std::int32_t stamp_before = last_time[dpp];
  stamp_if_due(dpp, f);
  advance(dpp, text(f));
  if (fputc('\n', f) != EOF) advance(dpp, 1);
  last_lineno[dpp] += 1;
  settle(dpp, f, start, stamp_before);
  StreamState& s = g_streams[dpp];
  if (s.position > kLogFileWrap) {
    if (fflush(f) != 0 || ferror(f)) write_failed(dpp, f);
    if (s.position > kLogFileWrap) {
      rewind(f);
      s.position = s.safe_end = 0;
      s.since_safe = 0;
      s.due_ms = 0;
      last_lineno[dpp] = 0;
    }
  }
}

}  // namespace

std::time_t (*dpplog_now)() = system_now;
std::int64_t (*dpplog_now_ms)() = monotonic_ms;

int alloc_dpp_files_tables(int dpps) {
  const std::size_t entries = static_cast<std::size_t>(dpps) + 1;
  g_dpps = dpps;
  output_files = static_cast<FILE**>(calloc(entries, sizeof(FILE*)));
  filenames = static_cast<char**>(calloc(entries, sizeof(char*)));
  last_time = static_cast<std::int32_t*>(calloc(entries, sizeof(std::int32_t)));
  last_lineno = static_cast<std::int32_t*>(calloc(entries, sizeof(std::int32_t)));
  g_streams = static_cast<StreamState*>(calloc(entries, sizeof(StreamState)));
  const bool all = output_files != nullptr && filenames != nullptr && last_time != nullptr &&
                   last_lineno != nullptr && g_streams != nullptr;
  if (!all) g_dpps = 0;  // no entry is used unless every table is there
  return all ? 0 : -1;
}

void release_dpp_files_tables(void) {
  close_dpp_files();
  free(output_files);
  free(filenames);
  free(last_lineno);
  free(last_time);
  free(g_streams);
  output_files = nullptr;
  filenames = nullptr;
  last_lineno = nullptr;
  last_time = nullptr;
  g_streams = nullptr;
  g_dpps = 0;
}

bool dpp_has_log_file(int dpp) { return dpp >= 1 && dpp <= g_dpps && output_files[dpp] != nullptr; }

void close_dpp_files(void) {
  for (int n = 1; n <= g_dpps; ++n) {
    if (output_files[n] != nullptr) {
      fclose(output_files[n]);
      output_files[n] = nullptr;
      reset_stream(n);
    }
    if (filenames[n] != nullptr) {
      free(filenames[n]);
      filenames[n] = nullptr;
    }
  }
}

extern "C" void fprintf_klaxo(int dpp, const char* format, ...) {
  if (!dpp_has_log_file(dpp)) return;
  va_list ap;
  va_start(ap, format);
  write_record(dpp, [&](FILE* f) { return vfprintf(f, format, ap); });
  va_end(ap);
}

void write_dpp_record(int dpp, const char* text, std::size_t len) {
  if (!dpp_has_log_file(dpp)) return;
  write_record(dpp, [&](FILE* f) { return static_cast<int>(fwrite(text, 1, len, f)); });
}

std::int64_t dpp_files_flush_due_ms(void) { return g_first_due != 0 ? g_first_due : -1; }

void flush_due_dpp_files(void) {
  if (g_first_due == 0) return;
  const std::int64_t now = dpplog_now_ms();
  g_first_due = 0;
  for (int n = 1; n <= g_dpps; ++n) {
    StreamState& s = g_streams[n];
    if (s.due_ms == 0) continue;
    if (s.due_ms > now) {
      if (g_first_due == 0 || s.due_ms < g_first_due) g_first_due = s.due_ms;
      continue;
    }
    s.due_ms = 0;
    FILE* f = output_files[n];
    if (f == nullptr) continue;
    if (fflush(f) != 0 || ferror(f)) {
      write_failed(n, f);
    } else {
      s.safe_end = s.position;
      s.since_safe = 0;
    }
  }
}

void set_output_file(const wire::SetDebugRequest& r) {
  if (r.on != 0 && output_filename != nullptr && r.name == output_filename) return;
  close_current_set();
  if (r.on == 0) return;
  for (int n = 1; n <= g_dpps; ++n) open_dpp_file(n, r.name);
}
