// The README's main job, run as a reader runs it (with the binaries of this
// build): it must end with status 0, leave behind the files it shows — log
// records with their time-stamp lines, the listing on the terminal, the
// FlagUpdateMsg that dppsim saw — and no process of its own. A job whose
// daemon cannot start must fail and still stop what it started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <regex>

#include "tests/tools_process.h"
#include "tools/client/platform_files.h"
#include "tools/client/temp_dir.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

bool has(const std::string& s, std::string_view part) { return s.find(part) != std::string::npos; }

// Runs the job with the binaries in build_dir; the directory it leaves,
// named in its output, is removed when the result goes.
struct Job {
  ToolResult r;
  std::string path;
  explicit Job(const std::string& build_dir)
      : r(run_tool("/bin/bash", {MAIN_JOB_SCRIPT}, {{"DRAVIK_BUILD_DIR", build_dir}}, 100s)) {
    std::smatch m;
    if (std::regex_search(r.out, m, std::regex("left for inspection in (/tmp/dravik-job\\.\\w+)")))
      path = m[1];
  }
  ~Job() {
    if (!path.empty()) client::remove_tree(path);
  }
  std::string file(const std::string& name) const {
    return client::read_file(path + "/" + name).value_or("");
  }
  // Every process the job started (it writes their ids to job.pids) has ended.
  void expect_no_process_left() const {
    auto pids = client::read_lines(path + "/job.pids");
    EXPECT_FALSE(pids.empty());
    for (const auto& line : pids)
      EXPECT_TRUE(::kill(std::stoi(line), 0) == -1 && errno == ESRCH) << "still running: " << line;
  }
};

TEST(MainJob, RunsTheWholeSessionAndLeavesItsFilesAndNoProcess) {
  Job job(MAIN_JOB_BUILD_DIR);
  ASSERT_EQ(job.r.status, 0) << job.r.out << job.r.err;
  ASSERT_FALSE(job.path.empty()) << job.r.out;
  for (const char* says : {"== The daemon starts ==", "== The log manager's report ==",
                           "DPP-1 logfile: dbg.1 (line#: ", "dravik ended with status 0"})
    EXPECT_TRUE(has(job.r.out, says)) << says;

  // The subscription reached DPP 1's core 2 and was listed on the terminal.
  EXPECT_TRUE(has(job.file("dppsim.out"),
                  "[DPP 1 core 2] FlagUpdateMsg on module 55 (nivo ipstack) mask 0x00000040 port 3"))
      << job.file("dppsim.out");
  EXPECT_TRUE(has(job.file("vty"), "\tdebug nivo ipstack tcp port 3\n"));

  // The records are in the per-DPP files, each file opened by a time stamp.
  std::string dbg1 = job.file("fs/cpp/plinder_dpp_logs/dbg.1");
  std::string dbg2 = job.file("fs/cpp/plinder_dpp_logs/dbg.2");
  EXPECT_TRUE(dbg1.starts_with("#### ") && dbg2.starts_with("#### ")) << dbg1 << dbg2;
  EXPECT_TRUE(has(dbg1, "\ntcp: SYN sent to 10.0.0.2:3260\ntcp: connection established\n")) << dbg1;
  EXPECT_TRUE(has(dbg1, "[DPP1] [RX] Opc: 261  Src: 0x1234  Dst: 0x5678  Size: 64")) << dbg1;
  EXPECT_TRUE(has(dbg1, "[DPP1] plain record from DPP 1\n")) << dbg1;
  EXPECT_EQ(count_in(dbg2, "[DPP2] mem: buffer pool refill "), 20u) << dbg2;
  EXPECT_TRUE(has(dbg2, "[DPP2] [TX] Opc: 66 ")) << dbg2;

  job.expect_no_process_left();
  for (const char* endpoint : {"vesk/930", "xipc/0.37.1024", "xipc/2.39.0"})
    EXPECT_FALSE(client::path_exists(job.path + "/" + endpoint)) << endpoint;
}

TEST(MainJob, AFailedStartStopsEverythingTheJobStarted) {
  // The real tools beside a dravik that ends at once.
  client::TempDir fake("dvkj-");
  for (const std::string tool : {"dravikctl", "dppsim"})
    ASSERT_EQ(::symlink((std::string(MAIN_JOB_BUILD_DIR) + "/" + tool).c_str(),
                        (fake.path + "/" + tool).c_str()), 0);
  std::ofstream(fake.path + "/dravik") << "#!/bin/sh\necho 'Passed less than 6 required arguments'\nexit 255\n";
  ASSERT_EQ(::chmod((fake.path + "/dravik").c_str(), 0755), 0);

  Job job(fake.path);
  EXPECT_NE(job.r.status, 0);
  EXPECT_TRUE(has(job.r.out, "main job FAILED")) << job.r.out;
  EXPECT_TRUE(has(job.r.err, "dravik has ended unexpectedly")) << job.r.err;
  ASSERT_FALSE(job.path.empty()) << job.r.out;
  job.expect_no_process_left();  // dppsim, started first, was stopped
}

}  // namespace
}  // namespace e2e
