#include "tests/daemon.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "tools/client/platform_files.h"

extern char** environ;

namespace e2e {

namespace {

constexpr const char* kStdoutFile = "/daemon.stdout";
constexpr const char* kStderrFile = "/daemon.stderr";

std::size_t count_of(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return 0;
  std::size_t n = 0;
  for (std::size_t at = hay.find(needle); at != std::string_view::npos;
       at = hay.find(needle, at + needle.size()))
    ++n;
  return n;
}

// The daemon's environment: this process's, without any DRAVIK_* variable
// (a developer's shell must not leak into a test), plus the options'.
std::vector<std::string> daemon_env(const DaemonOptions& o, const std::string& dir) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string_view v(*e);
    if (v.starts_with("DRAVIK_")) continue;
    if (o.tz && v.starts_with("TZ=")) continue;
    env.emplace_back(v);
  }
  env.push_back("DRAVIK_PLATFORM_DIR=" + dir);
  if (o.card_id) env.push_back("DRAVIK_CARD_ID=" + *o.card_id);
  if (o.fail) env.push_back("DRAVIK_FAIL=" + *o.fail);
  if (o.fs_root) env.push_back("DRAVIK_FS_ROOT=" + *o.fs_root);
  if (o.tz) env.push_back("TZ=" + *o.tz);
  for (const auto& [k, v] : o.extra_env) env.push_back(k + "=" + v);
  return env;
}

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

std::string daemon_binary() {
  if (const char* b = std::getenv("DRAVIK_BINARY"); b && *b) return b;
#ifdef DRAVIK_BINARY_DEFAULT
  return DRAVIK_BINARY_DEFAULT;
#else
  throw std::runtime_error("DRAVIK_BINARY is not set");
#endif
}

DaemonProcess::DaemonProcess(DaemonOptions options)
    : tmp_("dvk-"), platform_(client::platform_at(tmp_.path)) {
  if (options.fs_root) platform_.fs_root = *options.fs_root;
  std::string binary = daemon_binary();
  if (::access(binary.c_str(), X_OK) != 0)
    throw std::runtime_error("the daemon binary " + binary +
                             " cannot be run: " + std::strerror(errno));
  std::vector<std::string> argv_s{binary};
  argv_s.insert(argv_s.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env_s = daemon_env(options, tmp_.path);
  std::vector<char*> argv = c_strings(argv_s);
  std::vector<char*> envp = c_strings(env_s);
  std::string out_path = tmp_.path + kStdoutFile, err_path = tmp_.path + kStderrFile;

  // Everything the child needs is prepared here: after fork it only makes
  // async-signal-safe calls.
  int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out_fd < 0 || err_fd < 0 || null_fd < 0)
    throw std::runtime_error("cannot create the daemon's output files in " + tmp_.path);
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(s, SIG_DFL);
    if (::chdir(tmp_.path.c_str()) != 0 || ::dup2(null_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 ||
        ::dup2(err_fd, 2) < 0)
      ::_exit(127);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  int fork_errno = errno;
  ::close(out_fd);
  ::close(err_fd);
  ::close(null_fd);
  if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(fork_errno));
}

DaemonProcess::~DaemonProcess() {
  stop();
  // A sanitizer build of the daemon reports its findings on standard error,
  // also at an exit that the test itself asked for.
  std::string err = stderr_text();
  for (std::string_view mark :
       {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"})
    if (err.find(mark) != std::string::npos) ADD_FAILURE() << "the daemon reported: " << mark;
  print_output_on_failure();
  // tmp_ removes the platform directory after this body.
}

void DaemonProcess::stop() {
  if (pid_ <= 0 || exit_) return;
  ::kill(pid_, SIGTERM);
  ::kill(pid_, SIGCONT);  // a test may have left it stopped
  // A sanitizer build checks for leaks at exit, which takes seconds; killing
  // it sooner would silence exactly the report the test wants to see.
  if (wait_exit(20s)) return;
  ::kill(pid_, SIGKILL);
  reap(true);
}

void DaemonProcess::print_output_on_failure() const {
  if (!::testing::Test::HasFailure()) return;
  std::cerr << "---- daemon (" << tmp_.path << ") standard output ----\n"
            << stdout_text() << "\n---- daemon standard error ----\n"
            << stderr_text() << "\n---- end of daemon output ----" << std::endl;
}

std::string DaemonProcess::stdout_text() const {
  return client::read_file(tmp_.path + kStdoutFile).value_or("");
}

std::string DaemonProcess::stderr_text() const {
  return client::read_file(tmp_.path + kStderrFile).value_or("");
}

std::size_t DaemonProcess::stdout_count(std::string_view text) const {
  return count_of(stdout_text(), text);
}

bool DaemonProcess::wait_stdout_contains(std::string_view text, std::chrono::milliseconds timeout,
                                         std::size_t times) {
  return client::wait_for([&] { return stdout_count(text) >= times || !running(); }, timeout) &&
         stdout_count(text) >= times;
}

bool DaemonProcess::wait_stderr_contains(std::string_view text, std::chrono::milliseconds timeout) {
  auto has = [&] { return stderr_text().find(text) != std::string::npos; };
  return client::wait_for([&] { return has() || !running(); }, timeout) && has();
}

bool DaemonProcess::wait_idle(std::size_t passes, std::chrono::milliseconds timeout) {
  auto idle = [&] { return stdout_count(kReadyLine) >= passes && blocked_in_select(); };
  return client::wait_for([&] { return idle() || !running(); }, timeout) && idle();
}

bool DaemonProcess::wait_ready(std::chrono::milliseconds timeout) { return wait_idle(1, timeout); }

bool DaemonProcess::blocked_in_select() {
  if (!running()) return false;
  // The first field of /proc/<pid>/syscall is the number of the system call
  // the process is blocked in; the C library's select() is pselect6 on most
  // architectures.
  auto text = client::read_file("/proc/" + std::to_string(pid_) + "/syscall");
  if (!text || text->empty()) return true;
  long nr = std::strtol(text->c_str(), nullptr, 10);
#ifdef SYS_select
  if (nr == SYS_select) return true;
#endif
  return nr == SYS_pselect6;
}

bool DaemonProcess::wait_handshake(std::chrono::milliseconds timeout) {
  auto shaken = [&] {
    for (const auto& line : client::corvan_log_lines(platform_))
      if (line == "handshake 84") return client::path_exists(client::vesk_path(platform_, 930));
    return false;
  };
  return client::wait_for([&] { return shaken() || !running(); }, timeout) && shaken();
}

int DaemonProcess::send_signal(int signo) {
  if (pid_ <= 0 || exit_) return ESRCH;
  return ::kill(pid_, signo) == 0 ? 0 : errno;
}

bool DaemonProcess::reap(bool block) {
  if (exit_) return true;
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return false;
  ExitStatus e;
  e.exited = WIFEXITED(status);
  e.code = e.exited ? WEXITSTATUS(status) : 0;
  e.signaled = WIFSIGNALED(status);
  e.signal = e.signaled ? WTERMSIG(status) : 0;
  exit_ = e;
  return true;
}

std::optional<ExitStatus> DaemonProcess::wait_exit(std::chrono::milliseconds timeout) {
  client::wait_for([&] { return reap(false); }, timeout, 2ms);
  return exit_;
}

bool DaemonProcess::running() { return pid_ > 0 && !reap(false); }

}  // namespace e2e
