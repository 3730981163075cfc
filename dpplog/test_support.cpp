#include "dpplog/test_support.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dpplog/broadcast.h"
#include "dpplog/control.h"
#include "dpplog/log_files.h"
#include "dpplog/manager.h"
#include "frame/frame.h"
#include "platform/host/fail.h"
#include "platform/host/reset.h"
#include "wire/dpp_notify.h"
#include "wire/set_debug_request.h"
#include "xipc/xipc.h"

namespace dpplog_test {

std::time_t fake_now = 0;

namespace {

std::time_t fake_clock() { return fake_now; }

// Returns every manager global to its value before start-up, releasing what a
// test left open.
void reset_manager() {
  for (int n = 1; n <= num_dpps; ++n) {
    if (output_files && output_files[n]) fclose(output_files[n]);
    if (filenames) free(filenames[n]);
  }
  free(output_files);
  free(filenames);
  free(last_time);
  free(last_lineno);
  output_files = nullptr;
  filenames = nullptr;
  last_time = nullptr;
  last_lineno = nullptr;
  free(output_filename);
  output_filename = nullptr;
  num_dpps = 0;
  plinder_dpps = active_dpps = dppmap = cur_flag = 0;
  std::memset(cur_filters, 0, sizeof cur_filters);
  debug_level = 6;
  debug_q = 0;
  dpp_flag_addr = XipcAddr{};
  dpp_flag_addr.family = AF_XIPC;
  for (auto& row : debug_flag_entries) row.overridden_by = 0;
  dpplog_now = fake_clock;
  fake_now = 1700000000;  // Tue Nov 14 22:13:20 2023 UTC
  q = 0;
  sd = -1;
  fd_xipc = -1;
}

sockaddr_un unix_addr(const std::string& p) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, p.c_str(), sizeof a.sun_path - 1);
  return a;
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
  if (client_ >= 0) close(client_);
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

int ManagerTest::xipc_endpoint(std::uint16_t core, std::uint16_t module, std::uint16_t port) {
  int fd = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
  EXPECT_GE(fd, 0);
  XipcAddr a{};
  a.family = AF_XIPC;
  a.core = core;
  a.module = module;
  a.port = port;
  EXPECT_EQ(xipc_bind(fd, &a, kXipcAddrSize), 0);
  xipc_fds_.push_back(fd);
  return fd;
}

void ManagerTest::send_to_daemon(int from, std::uint16_t opcode, const Bytes& payload) {
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

bool ManagerTest::take(int fd, Received* out) {
  std::uint8_t buf[4096];
  socklen_t len = kXipcAddrSize;
  const ssize_t n = xipc_recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, &out->from, &len);
  if (n < 0) return false;
  out->payload.assign(buf, buf + n);
  return true;
}

std::unique_ptr<vesk_msg_t> ManagerTest::request(std::uint32_t opcode, const Bytes& payload,
                                                 std::uint32_t flags) {
  if (client_ < 0) {
    client_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un self = unix_addr(path("client"));
    EXPECT_EQ(bind(client_, reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
  }
  wire::VeskRequestFrame f;
  f.opcode = opcode;
  f.flags = flags;
  f.tag = 77;
  f.payload = payload;
  const Bytes frame = wire::encode_vesk_request(f);
  sockaddr_un sap = unix_addr(path("vesk/930"));
  EXPECT_EQ(
      sendto(client_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&sap), sizeof sap),
      static_cast<ssize_t>(frame.size()))
      << std::strerror(errno);
  auto msg = std::make_unique<vesk_msg_t>();
  EXPECT_GE(vesk_recv(q, msg.get(), 0), 0);
  return msg;
}

bool ManagerTest::reply(wire::VeskReplyFrame* out, int ms) {
  pollfd p{client_, POLLIN, 0};
  if (client_ < 0 || poll(&p, 1, ms) != 1) return false;
  std::vector<std::uint8_t> buf(70000);
  const ssize_t n = recv(client_, buf.data(), buf.size(), MSG_DONTWAIT);
  if (n < 0) return false;
  buf.resize(static_cast<std::size_t>(n));
  *out = wire::decode_vesk_reply(buf);
  return true;
}

bool ManagerTest::reply_waiting() {
  wire::VeskReplyFrame r;
  return reply(&r, 0);
}

std::string ManagerTest::handle(std::uint32_t opcode, const Bytes& payload, std::uint32_t flags) {
  auto msg = request(opcode, payload, flags);
  return stdout_of([&] { process_vesk_message(msg.get()); });
}

std::string ManagerTest::klaxo_log() const { return read_file(path("dbgfac/dpp_debug.log")); }

std::string read_file(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

Bytes set_categories(bool on, bool all, std::uint8_t flag, const std::string& vty,
                     std::array<std::uint32_t, 4> filters) {
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugCategories;
  r.on = on;
  r.all = all;
  r.flag = flag;
  r.filters = filters;
  r.name = vty;
  return wire::encode_set_debug(r);
}

Bytes set_dpp_map(bool on, bool all, std::uint32_t mask, const std::string& vty) {
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugDppMap;
  r.on = on;
  r.all = all;
  r.dpp_mask = mask;
  r.name = vty;
  return wire::encode_set_debug(r);
}

Bytes set_level(std::uint8_t level) {
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugLevel;
  r.level = level;
  return wire::encode_set_debug(r);
}

Bytes set_output(bool on, const std::string& name) {
  wire::SetDebugRequest r;
  r.type = wire::kSetDebugOutputFile;
  r.on = on;
  r.name = name;
  return wire::encode_set_debug(r);
}

Bytes dpp_index(std::uint32_t d) { return wire::encode_dpp_index(d); }

}  // namespace dpplog_test
