// One way to run the real programs in a test: the daemon in a platform
// directory of its own, driven one message at a time through the host
// platform's sockets and files, and the operator tools as subprocesses.
//
// Every child runs in a process group of its own with its output in files;
// whatever a test does, its processes are stopped (SIGTERM, then SIGKILL),
// reaped and their directories removed, and a failing test prints the
// daemon's output. Waits poll with a deadline; none sleeps a fixed time.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/client/platform_dir.h"
#include "tools/client/platform_files.h"
#include "tools/client/temp_dir.h"
#include "tools/client/vesk_client.h"
#include "tools/client/xipc_peer.h"
#include "wire/vesk_frame.h"

namespace e2e {

using namespace std::chrono_literals;
using Buf = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using Env = std::vector<std::pair<std::string, std::string>>;

constexpr unsigned kSap = 930;
// Long enough for a sanitizer build on a busy machine; every wait ends as
// soon as what it waits for is there.
constexpr std::chrono::milliseconds kWait = 10s;
constexpr std::string_view kReady = "Waiting for a message...";

std::size_t count_of(std::string_view hay, std::string_view needle);
inline bool has(std::string_view hay, std::string_view part) {
  return hay.find(part) != std::string_view::npos;
}
// The daemon's descriptors open on path (all of them when path is empty).
std::vector<int> fds_of(pid_t pid, const std::string& path = {});
// Creates an empty regular file: a terminal stand-in that can be opened.
void touch(const std::string& path);

// A program started in a process group of its own, in `dir`, with standard
// input from /dev/null and its output in dir/<name>.out and .err. The
// environment is this process's without any DRAVIK_* variable, plus `env`.
class Process {
 public:
  Process(const std::string& binary, const std::vector<std::string>& args, const Env& env,
          std::string dir, std::string name);
  ~Process();  // stops the group and reaps the child
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  std::string out() const;
  std::string err() const;
  pid_t pid() const { return pid_; }
  bool running();
  // The exit status, 128 + the signal for a child killed by one; nothing
  // when it has not ended within timeout.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout = kWait);
  int signal(int signo);  // 0, or the errno of kill()
  // Polls until the output holds text `times` times; false at the deadline or
  // once the child has ended without writing it.
  bool wait_out(std::string_view text, std::size_t times = 1);

 private:
  bool reap(bool block);
  std::string dir_, name_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct ToolResult {
  int status = -1;
  std::string out, err;
};
// The binaries of this build.
std::string daemon_binary();
std::string dravikctl_binary();
std::string dppsim_binary();
// Runs a tool to its end (killed after 30 s) in a scratch directory.
ToolResult run_tool(const std::string& binary, const std::vector<std::string>& args,
                    const Env& env);

struct Options {
  std::vector<std::string> args = {"1", "0", "0", "100", "x"};
  Env env;  // DRAVIK_CARD_ID, DRAVIK_FAIL, TZ ...
  Options& with_args(std::vector<std::string> a) { return args = std::move(a), *this; }
  Options& card(std::string id) { return set("DRAVIK_CARD_ID", std::move(id)); }
  Options& fail(std::string ops) { return set("DRAVIK_FAIL", std::move(ops)); }
  Options& set(std::string k, std::string v) { return env.emplace_back(k, v), *this; }
};

// Runs in the fresh platform directory before the daemon starts, e.g. to
// bind DPP endpoints that its start-up broadcast must find.
using Before = std::function<void(const client::PlatformDir&)>;

// The daemon in a fresh platform directory that is also its working directory.
class Daemon {
 public:
  explicit Daemon(Options o = {}, const Before& before = {});
  ~Daemon();
  client::TempDir tmp{"dvk-"};
  client::PlatformDir p;
  std::unique_ptr<Process> proc;

  const std::string& dir() const { return tmp.path; }
  std::string out() const { return proc->out(); }
  std::string err() const { return proc->err(); }
  // The daemon has printed the ready line `passes` times and is blocked in
  // select(): everything sent before has been handled.
  bool idle(std::size_t passes);
  // The system manager has its handshake and the SAP is bound (card 163,
  // whose standard output stays buffered).
  bool shaken();
  std::optional<int> wait_exit() { return proc->wait_exit(20s); }
  std::string card_path(std::string_view p) const { return client::fs_path(this->p, p); }
};

// A test with one daemon, driven one message at a time: each call returns
// once the daemon has handled the message and is back in select(), and
// last() then holds what it printed for it (without the "VESK Opcode" line).
class DaemonTest : public ::testing::Test {
 protected:
  Daemon& start(Options o = {}, const Before& before = {});
  Daemon& d() { return *d_; }
  const client::PlatformDir& p() { return d_->p; }

  // A request answered on a socket of its own (reply nothing when none came).
  std::optional<wire::VeskReplyFrame> ask(std::uint32_t opcode, const Buf& payload,
                                          std::uint32_t tag = 0);
  // A message from an unbound socket: nothing can be answered.
  void tell(std::uint32_t opcode, const Buf& payload = {}, std::uint32_t flags = 0);
  // A notification to every SAP registered for it.
  void notify(std::uint32_t opcode, const Buf& payload);
  // A datagram from a DPP core's module 39, again while the daemon's queue is full.
  void from_dpp(std::uint16_t core, std::uint16_t opcode, const Buf& payload);
  // Waits for `messages` more passes; what they printed goes into last().
  void settle(std::size_t messages = 1);
  const std::string& last() const { return last_; }
  // A fake DPP service at xipc/<core>.<module>.0.
  std::unique_ptr<client::FakeDppEndpoint> endpoint(std::uint16_t core, std::uint16_t module);

  std::unique_ptr<Daemon> d_;
  std::size_t passes_ = 1;
  std::size_t mark_ = 0;
  std::string last_;
};

// Checks every frame queued at the endpoint is exactly the payloads
// expected, in order, each from the daemon's own endpoint (module 37, port
// 1024) with the opcode given.
::testing::AssertionResult got_frames(client::FakeDppEndpoint& e, std::uint16_t opcode,
                                      const std::vector<Buf>& payloads);

// A pseudo-terminal in raw mode: the daemon opens `path`, the test reads
// what it writes from the master side.
struct Pty {
  int master = -1, slave = -1;
  std::string path;
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  // Reads until what came ends with `tail` or the wait is over.
  std::string read_until(std::string_view tail);
};

}  // namespace e2e
