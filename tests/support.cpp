#include "tests/support.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

extern char** environ;

namespace e2e {

std::size_t count_of(std::string_view hay, std::string_view needle) {
  std::size_t n = 0;
  for (auto at = hay.find(needle); !needle.empty() && at != hay.npos;
       at = hay.find(needle, at + needle.size()))
    ++n;
  return n;
}

std::vector<int> fds_of(pid_t pid, const std::string& path) {
  std::vector<int> out;
  std::error_code ec;
  for (const auto& e :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    if (path.empty() || std::filesystem::read_symlink(e.path(), ec).string() == path)
      out.push_back(std::stoi(e.path().filename().string()));
  std::sort(out.begin(), out.end());
  return out;
}

void touch(const std::string& path) { std::ofstream(path).flush(); }

// --- processes -------------------------------------------------------------

Process::Process(const std::string& binary, const std::vector<std::string>& args, const Env& env,
                 std::string dir, std::string name)
    : dir_(std::move(dir)), name_(std::move(name)) {
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
  const std::string base = dir_ + "/" + name_;
  int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out = ::open((base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int err = ::open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (in < 0 || out < 0 || err < 0) throw std::runtime_error("cannot create output in " + dir_);
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
    if (::chdir(dir_.c_str()) != 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
      ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid_, pid_);  // also here, so the group exists before any kill
  for (int fd : {in, out, err}) ::close(fd);
  if (pid_ < 0) throw std::runtime_error("fork failed");
}

Process::~Process() {
  if (reap(false)) return;
  ::kill(-pid_, SIGTERM);
  ::kill(-pid_, SIGCONT);  // a test may have left it stopped
  // A sanitizer build checks for leaks at exit, which takes seconds.
  if (!wait_exit(20s)) ::kill(-pid_, SIGKILL);
  reap(true);
}

std::string Process::out() const {
  return client::read_file(dir_ + "/" + name_ + ".out").value_or("");
}
std::string Process::err() const {
  return client::read_file(dir_ + "/" + name_ + ".err").value_or("");
}

bool Process::reap(bool block) {
  if (status_) return true;
  int st = 0;
  pid_t r;
  do r = ::waitpid(pid_, &st, block ? 0 : WNOHANG);
  while (r < 0 && errno == EINTR);
  if (r != pid_) return false;
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return true;
}

bool Process::running() { return !reap(false); }

std::optional<int> Process::wait_exit(std::chrono::milliseconds timeout) {
  client::wait_for([&] { return reap(false); }, timeout, 2ms);
  return status_;
}

int Process::signal(int signo) {
  if (status_) return ESRCH;
  return ::kill(pid_, signo) == 0 ? 0 : errno;
}

bool Process::wait_out(std::string_view text, std::size_t times) {
  auto seen = [&] { return count_of(out(), text) >= times; };
  client::wait_for([&] { return seen() || !running(); }, kWait);
  return seen();
}

std::string daemon_binary() { return DRAVIK_BINARY; }
std::string dravikctl_binary() { return DRAVIKCTL_BINARY; }
std::string dppsim_binary() { return DPPSIM_BINARY; }

ToolResult run_tool(const std::string& binary, const std::vector<std::string>& args,
                    const Env& env) {
  client::TempDir scratch("dvkt-");
  Process tool(binary, args, env, scratch.path, "tool");
  ToolResult r;
  r.status = tool.wait_exit(30s).value_or(-1);
  r.out = tool.out();
  r.err = tool.err();
  return r;
}

// --- the daemon --------------------------------------------------------------

Daemon::Daemon(Options o, const Before& before) : p(client::platform_at(tmp.path)) {
  o.env.emplace_back("DRAVIK_PLATFORM_DIR", tmp.path);
  if (before) before(p);
  proc = std::make_unique<Process>(daemon_binary(), o.args, o.env, tmp.path, "daemon");
}

Daemon::~Daemon() {
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

namespace {

// The first field of /proc/<pid>/syscall is the system call the process is
// blocked in; the C library's select() is pselect6 on most architectures.
bool blocked_in_select(pid_t pid) {
  auto text = client::read_file("/proc/" + std::to_string(pid) + "/syscall");
  if (!text || text->empty()) return true;  // /proc does not tell
  long nr = std::strtol(text->c_str(), nullptr, 10);
#ifdef SYS_select
  if (nr == SYS_select) return true;
#endif
  return nr == SYS_pselect6;
}

}  // namespace

bool Daemon::idle(std::size_t passes) {
  auto is_idle = [&] {
    return count_of(out(), kReady) >= passes && blocked_in_select(proc->pid());
  };
  client::wait_for([&] { return is_idle() || !proc->running(); }, kWait);
  return proc->running() && is_idle();
}

bool Daemon::shaken() {
  auto done = [&] {
    auto log = client::corvan_log_lines(p);
    return std::find(log.begin(), log.end(), "handshake 84") != log.end() &&
           client::path_exists(client::vesk_path(p, kSap));
  };
  return client::wait_for([&] { return done() || !proc->running(); }, kWait) && done();
}

// --- one message at a time ------------------------------------------------------

Daemon& DaemonTest::start(Options o, const Before& before) {
  d_ = std::make_unique<Daemon>(std::move(o), before);
  passes_ = 1;
  EXPECT_TRUE(d_->idle(1)) << "the daemon did not start";
  mark_ = d_->out().size();
  return *d_;
}

void DaemonTest::settle(std::size_t messages) {
  passes_ += messages;
  EXPECT_TRUE(d_->idle(passes_)) << "the daemon did not come back after message " << passes_ - 1;
  std::string all = d_->out();
  last_ = all.substr(std::min(mark_, all.size()));
  mark_ = all.size();
  const std::string ready = std::string(kReady) + "\n";
  if (last_.ends_with(ready)) last_.erase(last_.size() - ready.size());
  if (last_.starts_with("VESK Opcode:")) last_.erase(0, last_.find('\n') + 1);
}

std::optional<wire::VeskReplyFrame> DaemonTest::ask(std::uint32_t opcode, const Buf& payload,
                                                    std::uint32_t tag) {
  auto r = client::request(p(), kSap, opcode, payload, kWait, 0, tag);
  settle();
  return r;
}

void DaemonTest::tell(std::uint32_t opcode, const Buf& payload, std::uint32_t flags) {
  EXPECT_EQ(client::send_unbound(p(), kSap, opcode, payload, flags), 0);
  settle();
}

void DaemonTest::notify(std::uint32_t opcode, const Buf& payload) {
  EXPECT_EQ(client::notify(p(), opcode, payload), 1) << opcode;
  settle();
}

void DaemonTest::from_dpp(std::uint16_t core, std::uint16_t opcode, const Buf& payload) {
  int err = EAGAIN;
  client::wait_for(
      [&] { return (err = client::dpp_send(p(), core, 39, 0, opcode, payload)) != EAGAIN; }, kWait,
      1ms);
  EXPECT_EQ(err, 0);
  settle();
}

std::unique_ptr<client::FakeDppEndpoint> DaemonTest::endpoint(std::uint16_t core,
                                                              std::uint16_t module) {
  return std::make_unique<client::FakeDppEndpoint>(p(), client::XipcEndpoint{core, module, 0});
}

::testing::AssertionResult got_frames(client::FakeDppEndpoint& e, std::uint16_t opcode,
                                      const std::vector<Buf>& payloads) {
  auto got = e.drain();
  if (got.size() != payloads.size())
    return ::testing::AssertionFailure()
           << got.size() << " frames at core " << e.where.core << ", expected " << payloads.size();
  for (std::size_t i = 0; i < got.size(); ++i) {
    const XipcAddr& s = got[i].sender;
    if (s.family != AF_XIPC || s.core != 0 || s.module != kXipcModuleDaemon || s.port != 1024 ||
        s.opcode != opcode || s.length != payloads[i].size())
      return ::testing::AssertionFailure()
             << "frame " << i << " from module " << s.module << " port " << s.port << " opcode "
             << s.opcode << " length " << s.length;
    auto [a, b] = std::mismatch(got[i].payload.begin(), got[i].payload.end(), payloads[i].begin(),
                                payloads[i].end());
    if (a != got[i].payload.end() || b != payloads[i].end())
      return ::testing::AssertionFailure() << "frame " << i << " at core " << e.where.core
                                           << " differs at byte " << (a - got[i].payload.begin());
  }
  return ::testing::AssertionSuccess();
}

Pty::Pty() {
  termios raw{};
  cfmakeraw(&raw);  // no newline or tab translation
  char name[128] = {};
  if (::openpty(&master, &slave, name, &raw, nullptr) != 0)
    throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
  path = name;
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
  ::close(master);
  ::close(slave);
}

std::string Pty::read_until(std::string_view tail) {
  std::string got;
  client::wait_for(
      [&] {
        char chunk[4096];
        for (ssize_t r; (r = ::read(master, chunk, sizeof chunk)) > 0;)
          got.append(chunk, static_cast<std::size_t>(r));
        return got.ends_with(tail);
      },
      kWait, 2ms);
  return got;
}

}  // namespace e2e
