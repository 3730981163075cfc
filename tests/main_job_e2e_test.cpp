// The README's main job, run as a reader runs it (with the binaries of this
// build): it must end with status 0, leave behind the files it shows — log
// records with their time-stamp lines, the listing on the terminal, the
// FlagUpdateMsg that dppsim saw — and no process of its own. A job whose
// daemon cannot start must fail and still stop what it started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>

#include "tests/tools_process.h"
#include "tools/client/platform_files.h"
#include "tools/client/temp_dir.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
constexpr auto kJobDeadline = 100s;  // within the test's own 120 s

bool has(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }

std::string script() { return MAIN_JOB_SCRIPT; }
std::string build_dir() { return MAIN_JOB_BUILD_DIR; }

// The job directory the job names in its output; removed when the test ends.
struct JobDir {
  std::string path;
  explicit JobDir(const std::string& out) {
    std::smatch m;
    if (std::regex_search(
            out, m, std::regex("files left for inspection in (/tmp/dravik-job\\.[A-Za-z0-9]+)")))
      path = m[1];
  }
  ~JobDir() {
    if (!path.empty()) client::remove_tree(path);
  }
};

// Every process the job started (it writes their ids to job.pids) has ended.
void expect_no_process_left(const std::string& job) {
  auto pids = client::read_lines(job + "/job.pids");
  EXPECT_FALSE(pids.empty());
  for (const auto& line : pids) {
    pid_t pid = static_cast<pid_t>(std::stol(line));
    errno = 0;
    EXPECT_EQ(::kill(pid, 0), -1) << "process " << pid << " of the job is still running";
    EXPECT_EQ(errno, ESRCH);
  }
}

TEST(MainJob, RunsTheWholeSessionAndLeavesItsFilesAndNoProcess) {
  ToolResult r =
      run_tool("/bin/bash", {script()}, {{"DRAVIK_BUILD_DIR", build_dir()}}, kJobDeadline);
  JobDir job(r.out);
  ASSERT_TRUE(r.finished) << r.out << r.err;
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_FALSE(job.path.empty()) << r.out;

  for (const char* heading :
       {"== The daemon starts ==", "== A per-port debug subscription", "== DPP traffic arrives",
        "== The log manager's report ==", "== Clean shutdown =="})
    EXPECT_TRUE(has(r.out, heading)) << heading;
  EXPECT_TRUE(has(r.out, "dravik ended with status 0")) << r.out;

  // The subscription reached DPP 1's core 2 and was listed on the terminal.
  std::string sim = client::read_file(job.path + "/dppsim.out").value_or("");
  EXPECT_TRUE(has(sim,
                  "[DPP 1 core 2] FlagUpdateMsg on module 55 (nivo ipstack) mask "
                  "0x00000040 port 3"))
      << sim;
  EXPECT_TRUE(
      has(client::read_file(job.path + "/vty").value_or(""), "\tdebug nivo ipstack tcp port 3\n"));

  // The records are in the per-DPP files, each file opened by a time stamp.
  const std::string logs = job.path + "/fs/cpp/plinder_dpp_logs/";
  std::string dbg1 = client::read_file(logs + "dbg.1").value_or("");
  std::string dbg2 = client::read_file(logs + "dbg.2").value_or("");
  EXPECT_TRUE(dbg1.starts_with("#### ")) << dbg1;
  EXPECT_TRUE(dbg2.starts_with("#### ")) << dbg2;
  EXPECT_TRUE(has(dbg1, "\ntcp: SYN sent to 10.0.0.2:3260\ntcp: connection established\n")) << dbg1;
  EXPECT_TRUE(has(dbg1, "[DPP1] [RX] Opc: 261  Src: 0x1234  Dst: 0x5678  Size: 64")) << dbg1;
  EXPECT_TRUE(has(dbg1, "[DPP1] plain record from DPP 1\n")) << dbg1;
  EXPECT_EQ(count_in(dbg2, "[DPP2] mem: buffer pool refill "), 20u) << dbg2;
  EXPECT_TRUE(has(dbg2, "[DPP2] [TX] Opc: 66 ")) << dbg2;
  EXPECT_TRUE(has(r.out, "DPP-1 logfile: dbg.1 (line#: ")) << r.out;

  expect_no_process_left(job.path);
  EXPECT_FALSE(client::path_exists(job.path + "/vesk/930"));
  EXPECT_FALSE(client::path_exists(job.path + "/xipc/0.37.1024"));
  EXPECT_FALSE(client::path_exists(job.path + "/xipc/2.39.0"));
}

TEST(MainJob, AFailedStartStopsEverythingTheJobStarted) {
  // A build directory whose daemon ends at once: the real tools, a broken dravik.
  client::TempDir fake("dvkj-");
  ASSERT_EQ(::symlink((build_dir() + "/dravikctl").c_str(), (fake.path + "/dravikctl").c_str()), 0);
  ASSERT_EQ(::symlink((build_dir() + "/dppsim").c_str(), (fake.path + "/dppsim").c_str()), 0);
  {
    std::ofstream d(fake.path + "/dravik");
    d << "#!/bin/sh\necho 'Passed less than 6 required arguments'\nexit 255\n";
  }
  ASSERT_EQ(::chmod((fake.path + "/dravik").c_str(), 0755), 0);

  ToolResult r = run_tool("/bin/bash", {script()}, {{"DRAVIK_BUILD_DIR", fake.path}}, kJobDeadline);
  JobDir job(r.out);
  ASSERT_TRUE(r.finished) << r.out << r.err;
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(has(r.out, "main job FAILED")) << r.out;
  EXPECT_TRUE(has(r.err, "dravik has ended unexpectedly")) << r.err;
  ASSERT_FALSE(job.path.empty()) << r.out;
  expect_no_process_left(job.path);  // dppsim, started first, was stopped
  EXPECT_FALSE(client::path_exists(job.path + "/xipc/0.39.0"));
}

}  // namespace
}  // namespace e2e
