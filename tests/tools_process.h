// The operator tools and the main job as subprocesses of a test: run one to
// its end with a deadline, or keep one running in the background (dppsim
// run) and watch its output.
//
// Every child runs in a process group of its own, with standard input from
// /dev/null (so it has no terminal) and its output in files. A child that
// outlives its deadline, or its holder, gets SIGTERM and then SIGKILL sent
// to its whole group, so nothing it started is left behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/client/temp_dir.h"

namespace e2e {

using Env = std::vector<std::pair<std::string, std::string>>;

struct ToolResult {
  int status = -1;  // exit status; -1 when killed (by a signal, or at the deadline)
  std::string out;
  std::string err;
};

// The binaries this build made (from the test's compile definitions).
std::string dravikctl_binary();
std::string dppsim_binary();

// Runs binary with args to its end. env is added to this process's
// environment, from which every DRAVIK_* variable is removed first.
ToolResult run_tool(const std::string& binary, const std::vector<std::string>& args, const Env& env,
                    std::chrono::milliseconds deadline);

class BackgroundTool {
 public:
  // Starts binary; throws std::runtime_error when it cannot.
  BackgroundTool(const std::string& binary, const std::vector<std::string>& args, const Env& env);
  ~BackgroundTool();  // stops the group and reaps the child, if not done yet
  BackgroundTool(const BackgroundTool&) = delete;
  BackgroundTool& operator=(const BackgroundTool&) = delete;

  std::string out() const;
  std::string err() const;
  // Polls until the output holds text `times` times; false at the deadline or
  // once the child has ended without writing it.
  bool wait_out(std::string_view text, std::chrono::milliseconds deadline, std::size_t times = 1);
  int send_signal(int signo);
  // Waits for the child's end; its exit status, or nothing (deadline passed,
  // or it was killed by a signal).
  std::optional<int> wait_exit(std::chrono::milliseconds deadline);

 private:
  bool reap(bool block);

  client::TempDir dir_;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// How often needle occurs in hay.
std::size_t count_in(std::string_view hay, std::string_view needle);

}  // namespace e2e
