#include "dpplog/test_support.h"

#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dpplog/broadcast.h"
#include "dpplog/log_files.h"
#include "dpplog/manager.h"
#include "frame/frame.h"
#include "platform/host/fail.h"
#include "platform/host/reset.h"
#include "platform/vesk.h"
#include "xipc/xipc.h"

namespace dpplog_test {

std::time_t fake_now = 0;

namespace {

std::time_t fake_clock() { return fake_now; }

// Returns every manager global to its value before start-up, releasing what a
// test left open.
void reset_manager() {
  release_dpp_tables();
  free(output_filename);
  output_filename = nullptr;
  plinder_dpps = active_dpps = dppmap = cur_flag = 0;
  std::memset(cur_filters, 0, sizeof cur_filters);
  debug_level = 6;
  debug_q = 0;
  dpp_flag_addr = XipcAddr{};
  dpp_flag_addr.family = AF_XIPC;
  for (auto& row : debug_flag_entries) row.overridden_by = 0;
  dpplog_now = fake_clock;
  fake_now = 1700000000;
  q = 0;
  sd = -1;
  fd_xipc = -1;
}

}  // namespace

void ManagerTest::SetUp() {
  char tmpl[] = "/tmp/dpplog-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
  setenv("DRAVIK_PLATFORM_DIR", dir_.c_str(), 1);
  setenv("DRAVIK_FS_ROOT", (dir_ + "/fs").c_str(), 1);
  setenv("TZ", "UTC", 1);
  tzset();
  unsetenv("DRAVIK_FAIL");
  unsetenv("DRAVIK_CARD_ID");
  host_env_reset();
  reset_manager();
}

void ManagerTest::TearDown() {
  if (q > 0) vesk_unbind(q, 0);
  if (sd >= 0) xipc_close(sd);
  for (int fd : xipc_fds_) xipc_close(fd);
  reset_manager();
  host_env_reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
  unsetenv("DRAVIK_FAIL");
  unsetenv("DRAVIK_CARD_ID");
}

int ManagerTest::start(int card) {
  setenv("DRAVIK_CARD_ID", std::to_string(card).c_str(), 1);
  host_env_reset();
  const std::uint8_t bind_addr[24] = {};
  q = vesk_bind(2, 930, bind_addr, "RECV");
  EXPECT_GT(q, 0) << std::strerror(errno);
  sd = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
  EXPECT_GE(sd, 0);
  XipcAddr self{};
  self.family = AF_XIPC;
  self.module = kXipcModuleDaemon;
  self.port = kDaemonXipcPort;
  EXPECT_EQ(xipc_bind(sd, &self, kXipcAddrSize), 0);
  fd_xipc = sd;
  int rc = 0;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  rc = init_koru_dbg_mgr(q, fd_xipc);
  testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  return rc;
}

void ManagerTest::fail(const char* ops) {
  setenv("DRAVIK_FAIL", ops, 1);
  host::fail_reset();
}

void ManagerTest::send_to_daemon(std::uint16_t core, std::uint16_t opcode, const Bytes& payload,
                                 std::uint16_t module) {
  const int from = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
  ASSERT_GE(from, 0);
  xipc_fds_.push_back(from);
  XipcAddr a{};
  a.family = AF_XIPC;
  a.core = core;
  a.module = module;
  a.port = static_cast<std::uint16_t>(100 + xipc_fds_.size());
  ASSERT_EQ(xipc_bind(from, &a, kXipcAddrSize), 0);
  XipcAddr dst{};
  dst.family = AF_XIPC;
  dst.module = kXipcModuleDaemon;
  dst.opcode = opcode;
  dst.length = static_cast<std::uint16_t>(payload.size());
  dst.port = kDaemonXipcPort;
  ASSERT_EQ(xipc_sendto(from, payload.data(), payload.size(), 0, &dst, kXipcAddrSize),
            static_cast<ssize_t>(payload.size()))
      << std::strerror(errno);
}

std::string ManagerTest::klaxo_log() const { return read_file(path("dbgfac/dpp_debug.log")); }

std::string read_file(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace dpplog_test
