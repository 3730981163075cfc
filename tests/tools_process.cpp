#include "tests/tools_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tools/client/platform_files.h"

extern char** environ;

namespace e2e {

namespace {

using namespace std::chrono_literals;

std::vector<std::string> child_env(const Env& add) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string_view v(*e);
    if (!v.starts_with("DRAVIK_")) env.emplace_back(v);
  }
  for (const auto& [k, v] : add) env.push_back(k + "=" + v);
  return env;
}

// Starts binary in a process group of its own; stdin /dev/null, stdout and
// stderr to the files given.
pid_t spawn(const std::string& binary, const std::vector<std::string>& args, const Env& add,
            const std::string& out, const std::string& err) {
  std::vector<std::string> argv_s{binary};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<std::string> env_s = child_env(add);
  std::vector<char*> argv, envp;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env_s) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    ::setpgid(0, 0);
    int in = ::open("/dev/null", O_RDONLY);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execve(binary.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also from here, so the group exists before any kill
  return pid;
}

// SIGTERM to the group, SIGKILL after a grace period; reaps the child.
void stop_group(pid_t pid) {
  ::kill(-pid, SIGTERM);
  int status = 0;
  if (!client::wait_for([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 5s)) {
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
}

}  // namespace

std::string dravikctl_binary() {
#ifdef DRAVIKCTL_BINARY
  return DRAVIKCTL_BINARY;
#else
  throw std::runtime_error("DRAVIKCTL_BINARY is not defined");
#endif
}

std::string dppsim_binary() {
#ifdef DPPSIM_BINARY
  return DPPSIM_BINARY;
#else
  throw std::runtime_error("DPPSIM_BINARY is not defined");
#endif
}

std::size_t count_in(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return 0;
  std::size_t n = 0;
  for (auto at = hay.find(needle); at != std::string_view::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

ToolResult run_tool(const std::string& binary, const std::vector<std::string>& args, const Env& env,
                    std::chrono::milliseconds deadline) {
  BackgroundTool tool(binary, args, env);
  ToolResult r;
  r.status = tool.wait_exit(deadline).value_or(-1);
  r.out = tool.out();
  r.err = tool.err();
  return r;
}

BackgroundTool::BackgroundTool(const std::string& binary, const std::vector<std::string>& args,
                               const Env& env)
    : dir_("dvkb-") {
  pid_ = spawn(binary, args, env, dir_.path + "/out", dir_.path + "/err");
}

BackgroundTool::~BackgroundTool() {
  if (!reaped_) stop_group(pid_);
  ::kill(-pid_, SIGKILL);  // nothing of the child's group may outlive it
}

std::string BackgroundTool::out() const {
  return client::read_file(dir_.path + "/out").value_or("");
}
std::string BackgroundTool::err() const {
  return client::read_file(dir_.path + "/err").value_or("");
}

bool BackgroundTool::reap(bool block) {
  if (reaped_) return true;
  if (::waitpid(pid_, &status_, block ? 0 : WNOHANG) == pid_) reaped_ = true;
  return reaped_;
}

bool BackgroundTool::wait_out(std::string_view text, std::chrono::milliseconds deadline,
                              std::size_t times) {
  bool seen = false;
  client::wait_for(
      [&] {
        seen = count_in(out(), text) >= times;
        return seen || reap(false);  // a child that has ended writes no more
      },
      deadline);
  return seen || count_in(out(), text) >= times;
}

int BackgroundTool::send_signal(int signo) {
  if (reaped_) return ESRCH;
  return ::kill(pid_, signo) == 0 ? 0 : errno;
}

std::optional<int> BackgroundTool::wait_exit(std::chrono::milliseconds deadline) {
  if (!client::wait_for([&] { return reap(false); }, deadline)) return std::nullopt;
  if (!WIFEXITED(status_)) return std::nullopt;
  return WEXITSTATUS(status_);
}

}  // namespace e2e
