// One way to run the real programs in a test: the daemon in a platform
// directory of its own, driven one message at a time through the host
// platform's sockets and files, and the operator tools as subprocesses.
//
// Every child runs in a process group of its own with its output in files;
// whatever a test does, its processes are stopped (SIGTERM, then SIGKILL),
// reaped and their directories removed, and a failing test prints the
// daemon's output. Waits poll with a deadline; none sleeps a fixed time.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
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

extern char** environ;

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

inline std::size_t count_of(std::string_view hay, std::string_view needle) {
  std::size_t n = 0;
  for (auto at = hay.find(needle); !needle.empty() && at != hay.npos;
       at = hay.find(needle, at + needle.size()))
    ++n;
  return n;
}
inline bool has(std::string_view hay, std::string_view part) { return hay.find(part) != hay.npos; }
// Creates an empty regular file: a terminal stand-in that can be opened.
inline void touch(const std::string& path) { std::ofstream(path).flush(); }

// A program started in a process group of its own, in `dir`, with standard
// input from /dev/null and its output in dir/<name>.out and .err. The
// environment is this process's without any DRAVIK_* variable, plus `env`.
class Process {
 public:
  Process(const std::string& binary, const std::vector<std::string>& args, const Env& env,
          std::string dir, std::string name)
      : base_(dir + "/" + name) {
    std::vector<std::string> argv_s{binary}, env_s;
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    for (char** e = environ; *e; ++e)
      if (!std::string_view(*e).starts_with("DRAVIK_")) env_s.emplace_back(*e);
    for (const auto& [k, v] : env) env_s.push_back(k + "=" + v);
    std::vector<char*> argv, envp;
    for (auto& a : argv_s) argv.push_back(a.data());
    for (auto& e : env_s) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    // Prepared here: after fork the child makes async-signal-safe calls only.
    int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = ::open((base_ + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err = ::open((base_ + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (in < 0 || out < 0 || err < 0) throw std::runtime_error("cannot create output in " + dir);
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
      if (::chdir(dir.c_str()) != 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
          ::dup2(err, 2) < 0)
        ::_exit(126);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::setpgid(pid_, pid_);  // also here, so the group exists before any kill
    for (int fd : {in, out, err}) ::close(fd);
    if (pid_ < 0) throw std::runtime_error("fork failed");
  }
  // Stops the group (a sanitizer build's leak check at exit takes seconds).
  ~Process() {
    if (reap(false)) return;
    // Continued first (a test may have left it stopped), never after the
    // SIGTERM: a SIGCONT then would cancel the stop that the sanitizer's leak
    // check at exit waits for, and the check would hang until the SIGKILL.
    ::kill(-pid_, SIGCONT);
    ::kill(-pid_, SIGTERM);
    if (!wait_exit(20s)) ::kill(-pid_, SIGKILL);
    reap(true);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  std::string out() const { return client::read_file(base_ + ".out").value_or(""); }
  std::string err() const { return client::read_file(base_ + ".err").value_or(""); }
  pid_t pid() const { return pid_; }
  bool running() { return !reap(false); }
  // The exit status, 128 + the signal for a child killed by one; nothing
  // when it has not ended within timeout.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout = kWait) {
    client::wait_for([&] { return reap(false); }, timeout, 2ms);
    return status_;
  }
  int signal(int signo) { return status_ ? ESRCH : ::kill(pid_, signo) == 0 ? 0 : errno; }
  // Polls until the output holds text `times` times; false at the deadline
  // or once the child has ended without writing it.
  bool wait_out(std::string_view text, std::size_t times = 1) {
    auto seen = [&] { return count_of(out(), text) >= times; };
    client::wait_for([&] { return seen() || !running(); }, kWait);
    return seen();
  }

 private:
  bool reap(bool block) {
    if (status_) return true;
    int st = 0;
    pid_t r;
    do r = ::waitpid(pid_, &st, block ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r != pid_) return false;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return true;
  }
  std::string base_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct ToolResult {
  int status = -1;
  std::string out, err;
};
// Runs a tool to its end (killed after 30 s) in a scratch directory.
inline ToolResult run_tool(const std::string& binary, const std::vector<std::string>& args,
                           const Env& env) {
  client::TempDir scratch("dvkt-");
  Process tool(binary, args, env, scratch.path, "tool");
  return {tool.wait_exit(30s).value_or(-1), tool.out(), tool.err()};
}

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
  explicit Daemon(Options o = {}, const Before& before = {}) : p(client::platform_at(tmp.path)) {
    o.env.emplace_back("DRAVIK_PLATFORM_DIR", tmp.path);
    if (before) before(p);
    proc = std::make_unique<Process>(DRAVIK_BINARY, o.args, o.env, tmp.path, "daemon");
  }
  ~Daemon() {
    proc.reset();  // stopped and reaped: its output is complete
    const std::string e = client::read_file(tmp.path + "/daemon.err").value_or("");
    for (std::string_view mark :
         {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"})
      if (has(e, mark)) ADD_FAILURE() << "the daemon reported: " << mark;
    if (::testing::Test::HasFailure())
      std::cerr << "---- daemon standard output ----\n"
                << client::read_file(tmp.path + "/daemon.out").value_or("")
                << "\n---- daemon standard error ----\n"
                << e << "\n---- end ----" << std::endl;
  }
  client::TempDir tmp{"dvk-"};
  client::PlatformDir p;
  std::unique_ptr<Process> proc;

  const std::string& dir() const { return tmp.path; }
  std::string out() const { return proc->out(); }
  std::string err() const { return proc->err(); }
  // The daemon has printed the ready line `passes` times and is blocked in
  // select(): everything sent before has been handled.
  bool idle(std::size_t passes) {
    auto is_idle = [&] { return count_of(out(), kReady) >= passes && waiting(); };
    client::wait_for([&] { return is_idle() || !proc->running(); }, kWait);
    return proc->running() && is_idle();
  }
  // The system manager has its handshake and the SAP is bound (card 163,
  // whose standard output stays buffered).
  bool shaken() {
    auto done = [&] {
      auto log = client::corvan_log_lines(p);
      return std::find(log.begin(), log.end(), "handshake 84") != log.end() &&
             client::path_exists(client::vesk_path(p, kSap));
    };
    return client::wait_for([&] { return done() || !proc->running(); }, kWait) && done();
  }
  std::optional<int> wait_exit() { return proc->wait_exit(20s); }

 private:
  // The first field of /proc/<pid>/syscall is the system call the process is
  // blocked in; the C library's select() is pselect6 on most architectures.
  bool waiting() {
    auto text = client::read_file("/proc/" + std::to_string(proc->pid()) + "/syscall");
    if (!text || text->empty()) return true;  // /proc does not tell
    long nr = std::strtol(text->c_str(), nullptr, 10);
#ifdef SYS_select
    if (nr == SYS_select) return true;
#endif
    return nr == SYS_pselect6;
  }
};

// A test with one daemon, driven one message at a time: each call returns
// once the daemon has handled the message and is back in select(), and
// last() then holds what it printed for it (without the "VESK Opcode" line).
class DaemonTest : public ::testing::Test {
 protected:
  Daemon& start(Options o = {}, const Before& before = {}) {
    d_ = std::make_unique<Daemon>(std::move(o), before);
    passes_ = 1;
    EXPECT_TRUE(d_->idle(1)) << "the daemon did not start";
    mark_ = d_->out().size();
    return *d_;
  }
  Daemon& d() { return *d_; }
  const client::PlatformDir& p() { return d_->p; }

  // A request answered on a socket of its own (reply nothing when none came).
  std::optional<wire::VeskReplyFrame> ask(std::uint32_t opcode, const Buf& payload,
                                          std::uint32_t tag = 0) {
    auto r = client::request(p(), kSap, opcode, payload, kWait, 0, tag);
    settle();
    return r;
  }
  // A message from an unbound socket: nothing can be answered.
  void tell(std::uint32_t opcode, const Buf& payload = {}, std::uint32_t flags = 0) {
    EXPECT_EQ(client::send_unbound(p(), kSap, opcode, payload, flags), 0);
    settle();
  }
  // A notification to every SAP registered for it.
  void notify(std::uint32_t opcode, const Buf& payload) {
    EXPECT_EQ(client::notify(p(), opcode, payload), 1) << opcode;
    settle();
  }
  // A datagram from a DPP core's module 39, again while the daemon's queue is full.
  void from_dpp(std::uint16_t core, std::uint16_t opcode, const Buf& payload) {
    int err = EAGAIN;
    client::wait_for(
        [&] { return (err = client::dpp_send(p(), core, 39, 0, opcode, payload)) != EAGAIN; },
        kWait, 1ms);
    EXPECT_EQ(err, 0);
    settle();
  }
  // Waits for `messages` more passes; what they printed goes into last().
  void settle(std::size_t messages = 1) {
    passes_ += messages;
    EXPECT_TRUE(d_->idle(passes_)) << "the daemon did not come back after message " << passes_ - 1;
    std::string all = d_->out();
    last_ = all.substr(std::min(mark_, all.size()));
    mark_ = all.size();
    const std::string ready = std::string(kReady) + "\n";
    if (last_.ends_with(ready)) last_.erase(last_.size() - ready.size());
    if (last_.starts_with("VESK Opcode:")) last_.erase(0, last_.find('\n') + 1);
  }
  const std::string& last() const { return last_; }

  std::unique_ptr<Daemon> d_;
  std::size_t passes_ = 1;
  std::size_t mark_ = 0;
  std::string last_;
};

// Checks every frame queued at the endpoint is exactly the payloads
// expected, in order, each from the daemon's own endpoint (module 37, port
// 1024) with the opcode given.
inline ::testing::AssertionResult got_frames(client::FakeDppEndpoint& e, std::uint16_t opcode,
                                             const std::vector<Buf>& payloads) {
  auto got = e.drain();
  if (got.size() != payloads.size())
    return ::testing::AssertionFailure()
           << got.size() << " frames at core " << e.where.core << ", expected " << payloads.size();
  for (std::size_t i = 0; i < got.size(); ++i) {
    const XipcAddr& s = got[i].sender;
    if (s.family != AF_XIPC || s.core != 0 || s.module != kXipcModuleDaemon || s.port != 1024 ||
        s.opcode != opcode || s.length != payloads[i].size() || got[i].payload != payloads[i])
      return ::testing::AssertionFailure()
             << "frame " << i << " at core " << e.where.core << " from module " << s.module
             << " port " << s.port << " opcode " << s.opcode << " differs";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace e2e
