#include "tools/dravikctl/log_read.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/cli/numbers.h"
#include "tools/client/ring.h"
#include "tools/client/unix_socket.h"
#include "tools/client/vesk_client.h"

namespace dravikctl {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kLogDir = "/cpp/plinder_dpp_logs/";
constexpr const char* kLinkDir = "/var/log/external";
constexpr int kMaxFileDpp = 4;  // file names carry one digit; a card has at most 4 DPPs
// The report flushes the files and prints on the daemon's output: asked at
// most this often while following, and only once lines have waited this
// long (the daemon writes a record out within 200 ms by itself).
constexpr auto kAskEvery = std::chrono::seconds(1);
constexpr auto kStuckFor = std::chrono::milliseconds(300);

volatile sig_atomic_t g_stop = 0;
void on_stop(int) { g_stop = 1; }

struct DppFile {
  int dpp = 0;
  std::string name, path;  // "dbg.1", its host path
  client::Fd fd;
  client::RingFollow follow;
  int watch = -1;
  bool need_hint = false;
  std::optional<Clock::time_point> stuck_since;
};

// The log manager's report, when a daemon answers.
std::optional<std::vector<client::LogFileEntry>> ask_report(const client::PlatformDir& p,
                                                            const Action& a) {
  auto reply = client::request(p, kDaemonSap, kOpcodeShowDebug, {}, a.timeout);
  if (!reply) return std::nullopt;
  std::string text(reply->payload.begin(), reply->payload.end());
  return client::parse_log_files(text.c_str());
}

std::optional<client::RingHint> hint_for(
    const std::optional<std::vector<client::LogFileEntry>>& report, const DppFile& f) {
  if (report)
    for (const auto& e : *report)
      if (e.name == f.name && e.lines >= 0)
        return client::RingHint{static_cast<std::size_t>(e.lines), false};
  return std::nullopt;
}

// "dbg.3" -> "dbg"; empty when the name does not end in ".<digit>".
std::string base_of(const std::string& name) {
  if (name.size() < 3 || name[name.size() - 2] != '.' || name.back() < '1' || name.back() > '9')
    return "";
  return name.substr(0, name.size() - 2);
}

// The set whose link was made last: links are made when a set is opened.
std::string newest_linked_set(const client::PlatformDir& p) {
  const std::string dir = client::fs_path(p, kLinkDir);
  std::string best;
  struct timespec best_time {};
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return best;
  while (dirent* e = ::readdir(d)) {
    struct stat st {};
    const std::string base = base_of(e->d_name);
    if (base.empty() || ::lstat((dir + "/" + e->d_name).c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      continue;
    if (best.empty() || st.st_mtim.tv_sec > best_time.tv_sec ||
        (st.st_mtim.tv_sec == best_time.tv_sec && st.st_mtim.tv_nsec > best_time.tv_nsec)) {
      best = base;
      best_time = st.st_mtim;
    }
  }
  ::closedir(d);
  return best;
}

// The files to read, opened; nothing (after saying why) when there are none.
std::optional<std::vector<DppFile>> find_files(
    const client::PlatformDir& p, const Action& a,
    const std::optional<std::vector<client::LogFileEntry>>& report) {
  std::string base = a.log_name;
  if (base.empty() && report && !report->empty()) base = base_of(report->front().name);
  if (base.empty()) base = newest_linked_set(p);
  if (base.empty()) {
    std::fprintf(stderr,
                 "dravikctl: no DPP log files found: the daemon's report names none and no link "
                 "under %s names a set (--name BASE picks one)\n",
                 client::fs_path(p, kLinkDir).c_str());
    return std::nullopt;
  }
  std::vector<DppFile> files;
  for (int n = 1; n <= kMaxFileDpp; ++n) {
    const bool asked = std::find(a.dpps.begin(), a.dpps.end(), std::uint32_t(n)) != a.dpps.end();
    if (!a.dpps.empty() && !asked) continue;
    DppFile f;
    f.dpp = n;
    f.name = base + "." + std::to_string(n);
    f.path = client::fs_path(p, kLogDir + f.name);
    f.fd = client::Fd(::open(f.path.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.fd.fd >= 0)
      files.push_back(std::move(f));
    else if (asked)
      std::fprintf(stderr, "dravikctl: DPP-%d: %s: %s\n", n, f.path.c_str(), std::strerror(errno));
  }
  for (std::uint32_t n : a.dpps)
    if (n > kMaxFileDpp) std::fprintf(stderr, "dravikctl: DPP-%u has no log file\n", n);
  if (files.empty()) {
    if (a.dpps.empty())
      std::fprintf(stderr, "dravikctl: no file of the set \"%s\" in %s\n", base.c_str(),
                   client::fs_path(p, kLogDir).c_str());
    return std::nullopt;
  }
  return files;
}

std::optional<std::string> contents(const DppFile& f) {
  struct stat st {};
  if (::fstat(f.fd.fd, &st) != 0) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::pread(f.fd.fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;  // emptied meanwhile
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void print(const std::string& prefix, std::string_view line) {
  std::fwrite(prefix.data(), 1, prefix.size(), stdout);
  std::fwrite(line.data(), 1, line.size(), stdout);
}

std::string prefix_of(const DppFile& f, std::size_t n_files) {
  return n_files > 1 ? "DPP-" + std::to_string(f.dpp) + ": " : "";
}

// The files' bytes now, each with the report's count of its lines: exact
// when the count did not move while the files were read (the write point
// then follows that many lines), else only a bound. Asks the report a second
// time when the first one came.
struct Snapshot {
  std::optional<std::string> bytes;
  std::optional<client::RingHint> hint;
};
std::vector<Snapshot> snapshot(const client::PlatformDir& p, const Action& a,
                               const std::vector<DppFile>& files,
                               const std::optional<std::vector<client::LogFileEntry>>& before) {
  std::vector<Snapshot> out;
  for (const DppFile& f : files) out.push_back({contents(f), hint_for(before, f)});
  const auto after = before ? ask_report(p, a) : std::nullopt;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (auto& h = out[i].hint) {
      auto later = hint_for(after, files[i]);
      h->exact = later && later->lines == h->lines;
    }
  return out;
}

void say_gap(const DppFile& f, const std::string& gap) {
  if (!gap.empty())
    std::fprintf(stderr, "dravikctl: DPP-%d (%s): %s\n", f.dpp, f.name.c_str(), gap.c_str());
}

int read_once(const client::PlatformDir& p, const Action& a, std::vector<DppFile>& files,
              const std::optional<std::vector<client::LogFileEntry>>& before) {
  int status = tools::kExitOk;
  const std::vector<Snapshot> snap = snapshot(p, a, files, before);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const DppFile& f = files[i];
    if (!snap[i].bytes) {
      std::fprintf(stderr, "dravikctl: DPP-%d: %s cannot be read\n", f.dpp, f.path.c_str());
      status = 1;
      continue;
    }
    const std::string_view bytes = *snap[i].bytes;
    const client::RingRead r = client::read_ring(bytes, snap[i].hint);
    const std::string prefix = prefix_of(f, files.size());
    for (const client::RingLine& l : r.lines) print(prefix, bytes.substr(l.start, l.end - l.start));
    say_gap(f, client::describe_gap(r));
  }
  return status;
}

// One file's new lines, after an event or a report.
void step(DppFile& f, std::size_t n_files, std::optional<client::RingHint> hint, bool asked,
          std::optional<std::string> bytes = std::nullopt) {
  if (!bytes) bytes = contents(f);
  if (!bytes) return;
  client::FollowStep s = client::follow_ring(f.follow, *bytes, hint, asked);
  if (s.missed)
    std::fprintf(stderr,
                 "dravikctl: DPP-%d: records were missed: the daemon wrote over them before "
                 "they were read\n",
                 f.dpp);
  if (s.emptied)
    std::fprintf(stderr, "dravikctl: DPP-%d: the file was emptied; reading it from its start\n",
                 f.dpp);
  say_gap(f, s.gap);
  const std::string prefix = prefix_of(f, n_files);
  for (const std::string& l : s.lines) print(prefix, l);
  std::fflush(stdout);
  f.need_hint = s.need_hint;
  if (!s.pending)
    f.stuck_since.reset();
  else if (!f.stuck_since || !s.lines.empty())
    f.stuck_since = Clock::now();
}

int follow(const client::PlatformDir& p, const Action& a, std::vector<DppFile>& files,
           std::optional<std::vector<client::LogFileEntry>> report) {
  struct sigaction sa {};
  sa.sa_handler = on_stop;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM}) ::sigaction(s, &sa, nullptr);  // no SA_RESTART: poll returns
  client::Fd in(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (in.fd < 0) {
    std::fprintf(stderr, "dravikctl: inotify: %s\n", std::strerror(errno));
    return 1;
  }
  std::map<int, DppFile*> by_watch;
  for (DppFile& f : files) {
    f.watch = ::inotify_add_watch(in.fd, f.path.c_str(), IN_MODIFY | IN_CLOSE_WRITE);
    by_watch[f.watch] = &f;
  }
  std::vector<Snapshot> snap = snapshot(p, a, files, report);  // what is there already
  for (std::size_t i = 0; i < files.size(); ++i)
    step(files[i], files.size(), snap[i].hint, true, std::move(snap[i].bytes));
  Clock::time_point last_ask = Clock::now();
  while (!g_stop) {
    // Wait for a write; with a time-out only while a file wants the report.
    std::optional<Clock::time_point> due;
    for (const DppFile& f : files) {
      if (f.need_hint)
        due = last_ask + kAskEvery;
      else if (f.stuck_since)
        due = std::min(due.value_or(Clock::time_point::max()),
                       std::max(*f.stuck_since + kStuckFor, last_ask + kAskEvery));
    }
    int wait_ms = -1;
    if (due) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
      wait_ms = static_cast<int>(std::max<long long>(left, 0));
    }
    pollfd pf{in.fd, POLLIN, 0};
    const int r = ::poll(&pf, 1, wait_ms);
    if (r < 0 && errno != EINTR) break;
    if (g_stop) break;
    std::vector<DppFile*> changed;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = ::read(in.fd, buf, sizeof buf)) > 0;) {
      for (char* at = buf; at < buf + n;) {
        auto* ev = reinterpret_cast<inotify_event*>(at);
        if (auto it = by_watch.find(ev->wd); it != by_watch.end()) changed.push_back(it->second);
        at += sizeof(inotify_event) + ev->len;
      }
    }
    bool ask = false;
    if (Clock::now() >= last_ask + kAskEvery)
      for (const DppFile& f : files)
        if (f.need_hint || (f.stuck_since && Clock::now() >= *f.stuck_since + kStuckFor))
          ask = true;
    if (ask) {
      report = ask_report(p, a);
      last_ask = Clock::now();
      for (DppFile& f : files) step(f, files.size(), hint_for(report, f), true);
      continue;
    }
    for (DppFile& f : files)
      if (std::find(changed.begin(), changed.end(), &f) != changed.end() && !f.need_hint)
        step(f, files.size(), std::nullopt, false);
  }
  return tools::kExitOk;
}

}  // namespace

int read_logs(const client::PlatformDir& p, const Action& a) {
  auto report = ask_report(p, a);
  auto files = find_files(p, a, report);
  if (!files) return 1;
  return a.follow ? follow(p, a, *files, report) : read_once(p, a, *files, report);
}

}  // namespace dravikctl
