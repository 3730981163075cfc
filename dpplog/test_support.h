// Helpers of the log manager's tests: a fresh platform directory and a fresh
// manager per test, a controllable clock, XIPC senders and readers for what
// the platform wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "wire/set_debug_request.h"

namespace dpplog_test {

using Bytes = std::vector<std::uint8_t>;

// The clock seen by the log files while a test runs; starts at
// Tue Nov 14 22:13:20 2023 UTC (TZ is UTC).
extern std::time_t fake_now;

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the manager as main does: SAP 930 bound into q, the daemon's XIPC
  // endpoint 0.37.1024 into sd/fd_xipc, then init_koru_dbg_mgr. Returns its
  // result. What the start prints is swallowed.
  int start(int card = 40);

  // Makes the platform operations named (a DRAVIK_FAIL list) fail from now on.
  static void fail(const char* ops);

  std::string path(const std::string& sub) const { return dir_ + "/" + sub; }
  // Where the host keeps the card path p.
  std::string card_path(const std::string& p) const { return dir_ + "/fs" + p; }

  // Sends payload from a fresh XIPC endpoint (core, module) to the daemon's
  // endpoint with the given sender opcode.
  void send_to_daemon(std::uint16_t core, std::uint16_t opcode, const Bytes& payload,
                      std::uint16_t module = 39);

  // The debug facility's records so far.
  std::string klaxo_log() const;

  std::string dir_;
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

// A SET_DEBUG request of type 4 (output files).
inline wire::SetDebugRequest output_request(bool on, std::string_view name) {
  return {.type = wire::kSetDebugOutputFile, .on = on, .name = name, .name_terminated = true};
}

}  // namespace dpplog_test
