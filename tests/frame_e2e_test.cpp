// The daemon's process frame seen from outside: start-up, the arguments, the
// card type, heartbeats, signals, start-up failures, the XIPC rebind, the
// system manager's messages on card 163, and input that must not hurt it.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "tests/daemon.h"
#include "tools/client/platform_files.h"
#include "tools/client/vesk_client.h"
#include "tools/client/xipc_peer.h"
#include "wire/debug_request.h"
#include "wire/dpp_log_msg.h"

namespace e2e {
namespace {

using client::path_exists;
using Buf = std::vector<std::uint8_t>;

constexpr unsigned kSap = 930;
constexpr std::uint32_t kPortDebugOpcode = 1;  // any opcode not otherwise taken
constexpr std::string_view kCleanup = "Cleaning up and exiting...";
constexpr std::string_view kSelectInterrupted = "select: Interrupted system call\n";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

bool has_line(const std::string& text, std::string_view line) {
  for (const auto& l : lines_of(text))
    if (l == line) return true;
  return false;
}

Buf word(std::uint32_t w) {
  return Buf{Buf::value_type(w >> 24), Buf::value_type(w >> 16), Buf::value_type(w >> 8),
             Buf::value_type(w)};
}

// A listing request (command id 126): every per-port debug request is
// answered with 5000 bytes, so an answer proves the loop is alive.
Buf show_request() {
  wire::DebugRequest r;
  r.commandID = 126;
  return wire::encode_debug_request(r);
}

::testing::AssertionResult answers(DaemonProcess& d) {
  auto reply = client::request(d.platform(), kSap, kPortDebugOpcode, show_request(), kWait);
  if (!reply) return ::testing::AssertionFailure() << "no reply from SAP 930";
  if (reply->header != wire::kReplyHeaderBytes || reply->payload.size() != 5000)
    return ::testing::AssertionFailure() << "reply with header byte " << int(reply->header[0])
                                         << " and " << reply->payload.size() << " payload bytes";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult exited_with(const std::optional<ExitStatus>& e, int code) {
  if (!e) return ::testing::AssertionFailure() << "the daemon did not end";
  if (e->signaled) return ::testing::AssertionFailure() << "killed by signal " << e->signal;
  if (e->code != code) return ::testing::AssertionFailure() << "exit status " << e->code;
  return ::testing::AssertionSuccess();
}

// Sends until the daemon's queue takes the datagram: a full queue (EAGAIN)
// just means the daemon has not caught up yet.
int send_paced(const std::function<int()>& send) {
  int err = EAGAIN;
  client::wait_for([&] { return (err = send()) != EAGAIN; }, kWait, std::chrono::milliseconds(1));
  return err;
}

// --- start-up ---------------------------------------------------------------

TEST(StartupTest, PrintsItsStartLinesInOrderAndWaits) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  auto lines = lines_of(d.stdout_text());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Bound to SAP: 930");
  EXPECT_EQ(lines[1], "Init XIPC...");
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("Created socket : [0-9]+"))) << lines[2];
  EXPECT_EQ(lines.back(), kReadyLine);
  EXPECT_EQ(d.stdout_count(kReadyLine), 1u);
  EXPECT_TRUE(path_exists(client::vesk_path(d.platform(), kSap)));
  EXPECT_TRUE(path_exists(client::xipc_path(d.platform(), client::kDaemonEndpoint)));
}

TEST(StartupTest, RegistersItsSapForOpcode922) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  EXPECT_TRUE(path_exists(client::vesk_reg_path(d.platform(), 922, kSap)));
  // The registration is live: a sender of 922 finds the daemon through it.
  EXPECT_EQ(client::notify(d.platform(), 922, {}), 1);
  ASSERT_TRUE(d.wait_idle(2));
  EXPECT_TRUE(has_line(d.stdout_text(), "VESK Opcode:922"));
}

TEST(StartupTest, FiveArgumentsAreEnoughAndFourAreNot) {
  {
    DaemonProcess five(DaemonOptions().with_args({"7", "1", "2", "3", "unused"}));
    EXPECT_TRUE(five.wait_ready());
  }
  for (auto args : {std::vector<std::string>{"1", "0", "0", "100"}, std::vector<std::string>{}}) {
    DaemonProcess d(DaemonOptions().with_args(args));
    EXPECT_TRUE(exited_with(d.wait_exit(), 255)) << args.size() << " arguments";
    EXPECT_EQ(d.stdout_text(), "Passed less than 6 required arguments\n");
    EXPECT_FALSE(path_exists(client::vesk_path(d.platform(), kSap)));
  }
}

// --- card type 163 ------------------------------------------------------------

TEST(Card163Test, StartsWithoutArgumentsShakesHandsAndNeverBeats) {
  DaemonProcess d(DaemonOptions().card("163").no_args());
  ASSERT_TRUE(d.wait_handshake());
  EXPECT_EQ(client::corvan_log_lines(d.platform()), std::vector<std::string>{"handshake 84"});
  ASSERT_TRUE(answers(d));  // the loop runs
  EXPECT_FALSE(path_exists(client::heartbeats_path(d.platform())));

  // SIGHUP on this card sends no heartbeat, but still ends the wait.
  ASSERT_TRUE(client::wait_for([&] { return d.blocked_in_select(); }, kWait));
  ASSERT_EQ(d.send_signal(SIGHUP), 0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  EXPECT_FALSE(path_exists(client::heartbeats_path(d.platform())));
  std::string out = d.stdout_text();
  EXPECT_EQ(out.find("heartbeat"), std::string::npos) << out;
  EXPECT_TRUE(has_line(out, "Bound to SAP: 930"));
  EXPECT_TRUE(has_line(out, kCleanup));
  EXPECT_NE(d.stderr_text().find(kSelectInterrupted), std::string::npos);
}

TEST(Card163Test, ArgumentsAreIgnored) {
  DaemonProcess d(DaemonOptions().card("163").with_args({"1", "2"}));
  ASSERT_TRUE(d.wait_handshake());
  EXPECT_TRUE(answers(d));
  EXPECT_FALSE(path_exists(client::heartbeats_path(d.platform())));
}

TEST(Card163Test, SystemManagerMessagesAreTakenBeforeDispatch) {
  DaemonProcess d(DaemonOptions().card("163").no_args());
  ASSERT_TRUE(d.wait_handshake());
  const std::uint32_t corvan = wire::vesk_frame::kFlagCorvan;
  // Result 0: handled and dropped, never dispatched by opcode.
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 4321, word(0), corvan), 0);
  // Result 5: handled, and the loop goes on.
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 4322, word(5), corvan), 0);
  EXPECT_TRUE(answers(d));
  EXPECT_EQ(client::corvan_log_lines(d.platform()),
            (std::vector<std::string>{"handshake 84", "dispatch 4321 0", "dispatch 4322 5"}));

  ASSERT_TRUE(client::wait_for([&] { return d.blocked_in_select(); }, kWait));
  ASSERT_EQ(d.send_signal(SIGTERM), 0);
  ASSERT_TRUE(exited_with(d.wait_exit(), 0));
  std::string out = d.stdout_text();
  EXPECT_EQ(out.find("VESK Opcode:4321"), std::string::npos);
  EXPECT_EQ(out.find("VESK Opcode:4322"), std::string::npos);
  EXPECT_TRUE(has_line(out, "VESK Opcode:1"));  // no flag bit: dispatched as usual
  // One pass for each of the three messages, and the one SIGTERM ended.
  EXPECT_EQ(d.stdout_count(kReadyLine), 4u);
}

// --- heartbeats ---------------------------------------------------------------

TEST(HeartbeatTest, OnePerLoopPassCarryingArgumentOne) {
  DaemonProcess d(DaemonOptions().with_args({"4242", "0", "0", "100", "x"}));
  ASSERT_TRUE(d.wait_ready());
  auto hb = client::read_heartbeats(d.platform());
  ASSERT_TRUE(hb);
  EXPECT_EQ(hb->count, 1u);
  EXPECT_EQ(hb->pm, 4242);
  auto file = client::read_file(client::heartbeats_path(d.platform()));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), 33u);

  for (std::size_t pass = 2; pass <= 4; ++pass) {
    ASSERT_EQ(client::send_unbound(d.platform(), kSap, 922, {}), 0);
    ASSERT_TRUE(d.wait_idle(pass));
    hb = client::read_heartbeats(d.platform());
    ASSERT_TRUE(hb);
    EXPECT_EQ(hb->count, pass);
    EXPECT_EQ(hb->pm, 4242);
  }
}

// --- signals ----------------------------------------------------------------

TEST(SignalTest, HangupSendsAHeartbeatAndEndsTheLoop) {
  DaemonProcess d(DaemonOptions().with_args({"17", "0", "0", "100", "x"}));
  ASSERT_TRUE(d.wait_ready());
  ASSERT_EQ(d.send_signal(SIGHUP), 0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  auto hb = client::read_heartbeats(d.platform());
  ASSERT_TRUE(hb);
  EXPECT_EQ(hb->count, 2u);  // the loop's one pass and the signal's
  EXPECT_EQ(hb->pm, 17);
  std::string out = d.stdout_text();
  std::size_t beat = out.find("sb_sig_handler: dravik sent heartbeat \n");
  ASSERT_NE(beat, std::string::npos) << out;
  EXPECT_LT(out.find(kReadyLine), beat);
  EXPECT_LT(beat, out.find(kCleanup));
  EXPECT_TRUE(d.stderr_text().ends_with(kSelectInterrupted)) << d.stderr_text();
}

TEST(SignalTest, TermWhileWaitingEndsCleanly) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  ASSERT_EQ(d.send_signal(SIGTERM), 0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  EXPECT_TRUE(d.stderr_text().ends_with(kSelectInterrupted)) << d.stderr_text();
  std::string out = d.stdout_text();
  EXPECT_TRUE(out.ends_with(std::string(kReadyLine) + "\n" + std::string(kCleanup) + "\n")) << out;
  EXPECT_FALSE(path_exists(client::vesk_path(d.platform(), kSap)));
  EXPECT_FALSE(path_exists(client::vesk_reg_path(d.platform(), 922, kSap)));
  EXPECT_FALSE(path_exists(client::xipc_path(d.platform(), client::kDaemonEndpoint)));
}

TEST(SignalTest, InterruptCleansUpAndExitsWithMinusOne) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  ASSERT_EQ(d.send_signal(SIGINT), 0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 255));
  EXPECT_TRUE(d.stdout_text().ends_with(std::string(kCleanup) + "\n")) << d.stdout_text();
  EXPECT_FALSE(path_exists(client::vesk_path(d.platform(), kSap)));
  EXPECT_FALSE(path_exists(client::xipc_path(d.platform(), client::kDaemonEndpoint)));
}

// --- one message per pass --------------------------------------------------------

// The process state letter from /proc/<pid>/stat ('T' when stopped).
char process_state(pid_t pid) {
  auto stat = client::read_file("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return '?';
  std::size_t paren = stat->rfind(')');
  return paren != std::string::npos && paren + 2 < stat->size() ? (*stat)[paren + 2] : '?';
}

TEST(LoopTest, VeskGoesFirstWhenBothAreReady) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  // Stopped, the daemon cannot take either one before both are queued.
  ASSERT_EQ(d.send_signal(SIGSTOP), 0);
  ASSERT_TRUE(client::wait_for([&] { return process_state(d.pid()) == 'T'; }, kWait));
  ASSERT_EQ(client::dpp_send(d.platform(), 4, 38, 0, 88, Buf{1}), 0);  // ends the loop
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 922, {}), 0);
  ASSERT_EQ(d.send_signal(SIGCONT), 0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  std::string out = d.stdout_text();
  EXPECT_TRUE(
      out.ends_with("Waiting for a message...\nVESK Opcode:922\n"
                    "Waiting for a message...\n"
                    "Received a unknown message from module: 38 opcode: 88 \n"
                    "Cleaning up and exiting...\n"))
      << out;
}

// --- start-up failures -----------------------------------------------------------

TEST(StartupFailureTest, VeskBindFailure) {
  DaemonProcess d(DaemonOptions().failing("vesk_bind"));
  EXPECT_TRUE(exited_with(d.wait_exit(), 255));
  EXPECT_EQ(d.stderr_text(), "Unable to run receiver: Input/output error\n");
  EXPECT_EQ(d.stdout_text(), std::string(kCleanup) + "\n");
}

TEST(StartupFailureTest, RegistrationFailure) {
  DaemonProcess d(DaemonOptions().failing("vesk_options_set:922"));
  EXPECT_TRUE(exited_with(d.wait_exit(), 255));
  EXPECT_EQ(d.stderr_text(), "vesk_register: Input/output error\n");
  EXPECT_EQ(d.stdout_text(), "Bound to SAP: 930\n" + std::string(kCleanup) + "\n");
  EXPECT_FALSE(path_exists(client::vesk_path(d.platform(), kSap)));
}

TEST(StartupFailureTest, XipcBindFailure) {
  DaemonProcess d(DaemonOptions().failing("xipc_bind"));
  EXPECT_TRUE(exited_with(d.wait_exit(), 255));
  EXPECT_EQ(d.stderr_text(), "initXIPCcomm: Input/output error\n");
  auto lines = lines_of(d.stdout_text());
  ASSERT_EQ(lines.size(), 5u) << d.stdout_text();
  EXPECT_EQ(lines[0], "Bound to SAP: 930");
  EXPECT_EQ(lines[1], "Init XIPC...");
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("Created socket : [0-9]+"))) << lines[2];
  EXPECT_EQ(lines[3], "retVal: -1");
  EXPECT_EQ(lines[4], kCleanup);
  EXPECT_FALSE(path_exists(client::vesk_path(d.platform(), kSap)));
}

TEST(StartupFailureTest, XipcSocketFailure) {
  DaemonProcess d(DaemonOptions().failing("xipc_socket"));
  EXPECT_TRUE(exited_with(d.wait_exit(), 255));
  EXPECT_EQ(d.stderr_text(), "CreateSock: Input/output error\n");
  EXPECT_EQ(d.stdout_text(), "Bound to SAP: 930\nInit XIPC...\nFailed to create socket\n" +
                                 std::string(kCleanup) + "\n");
}

// --- XIPC rebind (opcode 6111) ----------------------------------------------------

TEST(RebindTest, WordZeroRebindsPort1024AndTheNewSocketIsWatched) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  const std::string endpoint = client::xipc_path(d.platform(), client::kDaemonEndpoint);
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 6111, word(0)), 0);
  ASSERT_TRUE(d.wait_idle(2));
  std::string out = d.stdout_text();
  EXPECT_TRUE(has_line(out, "VESK Opcode:6111"));
  EXPECT_EQ(d.stdout_count("Init XIPC...\n"), 2u);
  EXPECT_EQ(d.stdout_count("Created socket : "), 2u);
  EXPECT_TRUE(path_exists(endpoint));

  // A datagram to the new socket wakes the loop for one more pass.
  ASSERT_EQ(client::dpp_send(d.platform(), 0, 39, 0, 88,
                             wire::encode_port_debug_text(100, "after the rebind\n")),
            0);
  ASSERT_TRUE(d.wait_idle(3));
  EXPECT_TRUE(d.running());
  EXPECT_TRUE(client::wait_for(
      [&] {
        for (const auto& l : client::dbgfac_log_lines(d.platform()))
          if (l == "after the rebind") return true;
        return false;
      },
      kWait));
}

TEST(RebindTest, WordOneRebindsPortZero) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  const client::XipcEndpoint port0{0, 37, 0};
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 6111, word(1)), 0);
  ASSERT_TRUE(d.wait_idle(2));
  EXPECT_EQ(d.stdout_count("Created socket : "), 2u);
  EXPECT_TRUE(path_exists(client::xipc_path(d.platform(), port0)));
  // The old socket was closed, and its endpoint with it.
  EXPECT_FALSE(path_exists(client::xipc_path(d.platform(), client::kDaemonEndpoint)));

  ASSERT_EQ(client::dpp_send(d.platform(), 4, 39, 0, 88,
                             wire::encode_port_debug_text(100, "on port zero\n"), port0),
            0);
  EXPECT_TRUE(d.wait_idle(3));
  EXPECT_TRUE(answers(d));
}

TEST(RebindTest, FailedRebindLeavesTheDaemonRunning) {
  DaemonProcess d(DaemonOptions().failing("xipc_bind@2"));
  ASSERT_TRUE(d.wait_ready());
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 6111, word(0)), 0);
  ASSERT_TRUE(d.wait_idle(2));
  EXPECT_TRUE(has_line(d.stdout_text(), "retVal: -1"));
  EXPECT_NE(d.stderr_text().find("initXIPCcomm: Input/output error\n"), std::string::npos);
  EXPECT_TRUE(answers(d));
}

// --- input that must not hurt -----------------------------------------------------

TEST(BadInputTest, RandomVeskDatagramsNeverStopTheDaemon) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  std::mt19937 rng(20240611);
  std::vector<std::size_t> sizes = {0, 1, 3, 4, 11, 12, 13, 16, 624, 16396, 16397, 20000};
  std::uniform_int_distribution<std::size_t> any_size(0, 20000);
  while (sizes.size() < 200) sizes.push_back(any_size(rng));
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t n : sizes) {
    Buf b(n);
    for (auto& c : b) c = static_cast<std::uint8_t>(byte(rng));
    // Keep the rebind opcode out: it is not garbage to the daemon.
    if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0x17 && b[3] == 0xDF) b[3] = 0;
    ASSERT_EQ(send_paced([&] { return client::send_raw(d.platform(), kSap, b); }), 0) << n;
  }
  EXPECT_TRUE(answers(d));
  // Each datagram was handled in a pass of its own, and so was the probe.
  EXPECT_TRUE(d.wait_idle(1 + sizes.size() + 1));
  EXPECT_EQ(d.stdout_count(kReadyLine), 1 + sizes.size() + 1);
}

TEST(BadInputTest, RandomXipcFramesFromModule39NeverStopTheDaemon) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  std::mt19937 rng(611);
  std::vector<std::size_t> sizes = {0, 1, 8, 12, 20, 52, 2219, 2220, 2240, 2241, 3000};
  std::uniform_int_distribution<std::size_t> any_size(0, 3000);
  while (sizes.size() < 300) sizes.push_back(any_size(rng));
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    Buf b(sizes[i]);
    for (auto& c : b) c = static_cast<std::uint8_t>(byte(rng));
    auto core = static_cast<std::uint16_t>(byte(rng) << 8 | byte(rng));
    // Half per-port text, half log records of any opcode.
    auto opcode = i % 2 ? std::uint16_t{88} : static_cast<std::uint16_t>(byte(rng));
    // Most random categories lie above 29 and are dropped unread: steer a
    // share of the log records to real categories, plain or not.
    if (opcode != 88 && b.size() >= 16 && i % 4 == 0) {
      b[12] = b[13] = b[14] = 0;
      b[15] = static_cast<std::uint8_t>(byte(rng) % 32 | (i % 8 == 0 ? 0x80 : 0));
    }
    ASSERT_EQ(send_paced([&] { return client::dpp_send(d.platform(), core, 39, 0, opcode, b); }), 0)
        << sizes[i];
  }
  EXPECT_TRUE(answers(d));
  EXPECT_TRUE(d.wait_idle(1 + sizes.size() + 1));
  EXPECT_EQ(d.stdout_count(kReadyLine), 1 + sizes.size() + 1);
}

TEST(BadInputTest, FrameFromAnotherModuleEndsTheLoopCleanly) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  ASSERT_EQ(client::dpp_send(d.platform(), 4, 38, 0, 88, Buf{1, 2, 3}), 0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  std::string out = d.stdout_text();
  EXPECT_TRUE(out.ends_with("Received a unknown message from module: 38 opcode: 88 \n" +
                            std::string(kCleanup) + "\n"))
      << out;
}

TEST(BadInputTest, EmptyFrameReadsAsModuleZero) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  ASSERT_EQ(client::send_raw_frame(client::xipc_path(d.platform(), client::kDaemonEndpoint), {}),
            0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  EXPECT_TRUE(has_line(d.stdout_text(), "Received a unknown message from module: 0 opcode: 0 "));
}

}  // namespace
}  // namespace e2e
