// The real daemon binary, started for one end-to-end test in a platform
// directory of its own and driven only through the host platform's sockets
// and files.
//
// Every DaemonProcess owns a fresh directory /tmp/dvk-XXXXXX that is its
// DRAVIK_PLATFORM_DIR and its working directory; its standard output and
// standard error go to files there. Destruction always stops the daemon
// (SIGTERM, then SIGKILL), reaps it and removes the directory; when the
// running test has failed, the daemon's output is printed first.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/client/platform_dir.h"
#include "tools/client/temp_dir.h"

namespace e2e {

// The daemon's VESK service access point.
constexpr unsigned kSap = 930;

using namespace std::chrono_literals;

// Long enough for a sanitizer build on a busy machine; waits end as soon as
// what they wait for is there.
constexpr std::chrono::milliseconds kWait = 10s;

constexpr std::string_view kReadyLine = "Waiting for a message...";

// The lines of a text, without their newlines.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t nl = std::min(text.find('\n', start), text.size());
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

// Whether the text holds `line` as a whole line.
inline bool has_line(const std::string& text, std::string_view line) {
  const auto all = lines_of(text);
  return std::find(all.begin(), all.end(), line) != all.end();
}

struct DaemonOptions {
  // The arguments after the program name.
  std::vector<std::string> args = {"1", "0", "0", "100", "x"};
  // Each is set in the daemon's environment only when given; inherited
  // DRAVIK_* variables are never passed on.
  std::optional<std::string> card_id;  // DRAVIK_CARD_ID
  std::optional<std::string> fail;     // DRAVIK_FAIL
  std::optional<std::string> fs_root;  // DRAVIK_FS_ROOT
  std::optional<std::string> tz;       // TZ (inherited when not given)
  std::vector<std::pair<std::string, std::string>> extra_env;

  // Chainable setters: DaemonProcess d(DaemonOptions().card("163").no_args());
  DaemonOptions& with_args(std::vector<std::string> a) {
    args = std::move(a);
    return *this;
  }
  DaemonOptions& no_args() {
    args.clear();
    return *this;
  }
  DaemonOptions& card(std::string id) {
    card_id = std::move(id);
    return *this;
  }
  DaemonOptions& failing(std::string ops) {
    fail = std::move(ops);
    return *this;
  }
  DaemonOptions& root(std::string dir) {
    fs_root = std::move(dir);
    return *this;
  }
  DaemonOptions& zone(std::string z) {
    tz = std::move(z);
    return *this;
  }
  DaemonOptions& env(std::string key, std::string value) {
    extra_env.emplace_back(std::move(key), std::move(value));
    return *this;
  }
};

struct ExitStatus {
  bool exited = false;  // ended through exit/return: `code` holds the status
  int code = 0;         // 0-255
  bool signaled = false;
  int signal = 0;
};

// The path of the daemon binary: DRAVIK_BINARY, else the one this build made.
std::string daemon_binary();

class DaemonProcess {
 public:
  // Starts the daemon; throws std::runtime_error when it cannot be started.
  explicit DaemonProcess(DaemonOptions options = {});
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  const client::PlatformDir& platform() const { return platform_; }
  const std::string& dir() const { return tmp_.path; }
  pid_t pid() const { return pid_; }

  // Everything the daemon has written so far.
  std::string stdout_text() const;
  std::string stderr_text() const;
  // How often text occurs in the standard output so far.
  std::size_t stdout_count(std::string_view text) const;

  // Polls until the standard output holds text at least `times` times; false
  // at the timeout, or as soon as the daemon has ended without writing it.
  bool wait_stdout_contains(std::string_view text, std::chrono::milliseconds timeout = kWait,
                            std::size_t times = 1);
  bool wait_stderr_contains(std::string_view text, std::chrono::milliseconds timeout = kWait);
  // The daemon has printed "Waiting for a message..." at least `passes` times
  // and sits blocked in select(): a signal sent now interrupts that select,
  // and everything sent before has been handled.
  bool wait_idle(std::size_t passes, std::chrono::milliseconds timeout = kWait);
  // wait_idle(1): the daemon is up and waits in its loop. (Card 163 leaves
  // its standard output buffered, so there use wait_handshake.)
  bool wait_ready(std::chrono::milliseconds timeout = kWait);
  // The daemon is blocked in select() (read from /proc; true where /proc
  // does not tell).
  bool blocked_in_select();
  // Card 163: the system manager has its handshake, and the SAP is bound.
  bool wait_handshake(std::chrono::milliseconds timeout = kWait);

  // 0, or the errno of kill(). A daemon already reaped is not signalled.
  int send_signal(int signo);
  // Waits for the daemon to end and reaps it; nothing at the timeout.
  std::optional<ExitStatus> wait_exit(std::chrono::milliseconds timeout = kWait);
  // True while the daemon has not ended (reaps it when it has).
  bool running();

 private:
  bool reap(bool block);
  void stop();
  void print_output_on_failure() const;

  client::TempDir tmp_;
  client::PlatformDir platform_;
  pid_t pid_ = -1;
  std::optional<ExitStatus> exit_;
};

}  // namespace e2e
