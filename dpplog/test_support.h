// Helpers of the log manager's tests: a fresh platform directory and a fresh
// manager per test, a controllable clock, XIPC peers, a VESK requester and
// readers for what the platform wrote.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/vesk.h"
#include "wire/dpp_flag_msg.h"
#include "wire/vesk_frame.h"
#include "xipc/xipc_addr.h"

namespace dpplog_test {

using Bytes = std::vector<std::uint8_t>;

// The clock seen by the log files while a test runs.
extern std::time_t fake_now;

struct Received {
  XipcAddr from{};
  Bytes payload;
};

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the manager as main does: SAP 930 bound into q, the daemon's XIPC
  // endpoint 0.37.1024 into sd/fd_xipc, then init_koru_dbg_mgr. Returns its
  // result. Standard output of the start is swallowed.
  int start(int card = 40);

  // Makes the platform operations named (a DRAVIK_FAIL list) fail from now on.
  static void fail(const char* ops);

  std::string path(const std::string& sub) const { return dir_ + "/" + sub; }
  // Where the host keeps the card path p.
  std::string card_path(const std::string& p) const { return dir_ + "/fs" + p; }

  // An XIPC endpoint (core, module, port) of a DPP; closed after the test.
  int xipc_endpoint(std::uint16_t core, std::uint16_t module, std::uint16_t port = 0);
  // A DPP's log service, bound at core 4 x (n-1), module 66.
  int dpp_flag_receiver(int n) {
    return xipc_endpoint(static_cast<std::uint16_t>(4 * (n - 1)), 66);
  }
  // Sends payload from `from` to the daemon's endpoint with the given opcode.
  void send_to_daemon(int from, std::uint16_t opcode, const Bytes& payload);
  // One datagram waiting at fd, or none (nothing is waited for: the daemon's
  // sends are complete when the call under test returns).
  static bool take(int fd, Received* out);

  // Sends a request frame to SAP 930 and receives it into the returned record
  // with vesk_recv, ready for process_vesk_message.
  std::unique_ptr<vesk_msg_t> request(std::uint32_t opcode, const Bytes& payload,
                                      std::uint32_t flags = 0);
  // The reply to the last request, if one arrived within two seconds.
  bool reply(wire::VeskReplyFrame* out, int ms = 2000);
  // Whether a reply is waiting right now.
  bool reply_waiting();

  // Calls process_vesk_message on a request and returns its standard output.
  std::string handle(std::uint32_t opcode, const Bytes& payload, std::uint32_t flags = 0);

  // The debug facility's records so far.
  std::string klaxo_log() const;

  std::string dir_;
  int client_ = -1;
  std::vector<int> xipc_fds_;
};

std::string read_file(const std::string& p);
// Everything printed on standard output while fn runs.
template <typename Fn>
std::string stdout_of(Fn fn) {
  testing::internal::CaptureStdout();
  fn();
  return testing::internal::GetCapturedStdout();
}
template <typename Fn>
std::string stderr_of(Fn fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

// SET_DEBUG payloads.
Bytes set_categories(bool on, bool all, std::uint8_t flag, const std::string& vty,
                     std::array<std::uint32_t, 4> filters = {});
Bytes set_dpp_map(bool on, bool all, std::uint32_t mask, const std::string& vty = "/dev/pts/3");
Bytes set_level(std::uint8_t level);
Bytes set_output(bool on, const std::string& name);

// The 4-byte DPP index payload of DPP_UP / DPP_DOWN.
Bytes dpp_index(std::uint32_t d);

}  // namespace dpplog_test
