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

const std::string kCleanup = "Cleaning up and exiting...\n";
const std::string kReady = std::string(kReadyLine) + "\n";
constexpr std::string_view kSelectInterrupted = "select: Interrupted system call\n";

bool matches(const std::string& text, const std::string& re) {
  return std::regex_match(text, std::regex(re));
}

Buf word(std::uint32_t w) { return Buf{0, 0, 0, static_cast<std::uint8_t>(w)}; }

// A listing request (command id 126) with any opcode: every per-port debug
// request is answered with 5000 bytes, so an answer proves the loop is alive.
::testing::AssertionResult answers(DaemonProcess& d) {
  wire::DebugRequest r;
  r.commandID = 126;
  auto reply = client::request(d.platform(), kSap, 1, wire::encode_debug_request(r), kWait);
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

bool endpoints_gone(DaemonProcess& d) {
  return !path_exists(client::vesk_path(d.platform(), kSap)) &&
         !path_exists(client::vesk_reg_path(d.platform(), 922, kSap)) &&
         !path_exists(client::xipc_path(d.platform(), client::kDaemonEndpoint));
}

// --- start-up ---------------------------------------------------------------

TEST(StartupTest, PrintsItsStartLinesInOrderRegistersFor922AndWaits) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  EXPECT_TRUE(matches(d.stdout_text(),
                      "Bound to SAP: 930\nInit XIPC...\nCreated socket : [0-9]+\n([^\n]*\n)*" + kReady))
      << d.stdout_text();
  EXPECT_EQ(d.stdout_count(kReadyLine), 1u);
  EXPECT_TRUE(path_exists(client::xipc_path(d.platform(), client::kDaemonEndpoint)));
  // The registration is live: a sender of 922 finds the daemon through it.
  EXPECT_TRUE(path_exists(client::vesk_reg_path(d.platform(), 922, kSap)));
  EXPECT_EQ(client::notify(d.platform(), 922, {}), 1);
  ASSERT_TRUE(d.wait_idle(2));
  EXPECT_TRUE(has_line(d.stdout_text(), "VESK Opcode:922"));
}

TEST(StartupTest, FiveArgumentsAreEnoughAndFourAreNot) {
  EXPECT_TRUE(DaemonProcess(DaemonOptions().with_args({"7", "1", "2", "3", "x"})).wait_ready());
  for (auto args : {std::vector<std::string>{"1", "0", "0", "100"}, std::vector<std::string>{}}) {
    DaemonProcess d(DaemonOptions().with_args(args));
    EXPECT_TRUE(exited_with(d.wait_exit(), 255)) << args.size() << " arguments";
    EXPECT_EQ(d.stdout_text(), "Passed less than 6 required arguments\n");
    EXPECT_FALSE(path_exists(client::vesk_path(d.platform(), kSap)));
  }
}

TEST(StartupFailureTest, EachFailingStepHasItsMessageAndStatus) {
  struct Case {
    const char* fail;
    std::string err;
    std::string out;  // a regular expression
  };
  const std::string bound = "Bound to SAP: 930\n";
  const std::string init = bound + "Init XIPC...\n";
  for (const Case& c : std::vector<Case>{
           {"vesk_bind", "Unable to run receiver: Input/output error\n", kCleanup},
           {"vesk_options_set:922", "vesk_register: Input/output error\n", bound + kCleanup},
           {"xipc_socket", "CreateSock: Input/output error\n",
            init + "Failed to create socket\n" + kCleanup},
           {"xipc_bind", "initXIPCcomm: Input/output error\n",
            init + "Created socket : [0-9]+\nretVal: -1\n" + kCleanup}}) {
    DaemonProcess d(DaemonOptions().failing(c.fail));
    EXPECT_TRUE(exited_with(d.wait_exit(), 255)) << c.fail;
    EXPECT_EQ(d.stderr_text(), c.err) << c.fail;
    EXPECT_TRUE(matches(d.stdout_text(), c.out)) << c.fail << ":\n" << d.stdout_text();
    EXPECT_TRUE(endpoints_gone(d)) << c.fail;
  }
}

// --- card type 163 ------------------------------------------------------------

TEST(Card163Test, NoArgumentsHandshakeSystemManagerMessagesAndNoHeartbeatNotEvenOnHangup) {
  DaemonProcess d(DaemonOptions().card("163").no_args());
  ASSERT_TRUE(d.wait_handshake());
  const std::uint32_t corvan = wire::vesk_frame::kFlagCorvan;
  // Result 0: handled and dropped; result 5: handled, and the loop goes on.
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 4321, word(0), corvan), 0);
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 4322, word(5), corvan), 0);
  ASSERT_TRUE(answers(d));  // the loop runs
  EXPECT_EQ(client::corvan_log_lines(d.platform()),
            (std::vector<std::string>{"handshake 84", "dispatch 4321 0", "dispatch 4322 5"}));
  ASSERT_TRUE(client::wait_for([&] { return d.blocked_in_select(); }, kWait));
  ASSERT_EQ(d.send_signal(SIGHUP), 0);  // no heartbeat on this card, but the wait ends
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  EXPECT_FALSE(path_exists(client::heartbeats_path(d.platform())));
  std::string out = d.stdout_text();
  EXPECT_EQ(out.find("heartbeat"), std::string::npos) << out;
  EXPECT_EQ(out.find("VESK Opcode:432"), std::string::npos) << out;
  EXPECT_TRUE(has_line(out, "VESK Opcode:1"));  // no flag bit: dispatched as usual
  // One pass for each of the three messages, and the one SIGHUP ended.
  EXPECT_EQ(d.stdout_count(kReadyLine), 4u);
  EXPECT_TRUE(has_line(out, "Bound to SAP: 930"));
  EXPECT_TRUE(out.ends_with(kCleanup)) << out;
  EXPECT_NE(d.stderr_text().find(kSelectInterrupted), std::string::npos);
}

// --- heartbeats and signals ------------------------------------------------------

TEST(HeartbeatTest, OnePerLoopPassAndOneOnHangupCarryingArgumentOne) {
  DaemonProcess d(DaemonOptions().with_args({"4242", "0", "0", "100", "x"}));
  ASSERT_TRUE(d.wait_ready());
  EXPECT_EQ(client::read_file(client::heartbeats_path(d.platform())).value_or("").size(), 33u);
  for (std::size_t pass = 1; pass <= 3; ++pass) {
    if (pass > 1) {
      ASSERT_EQ(client::send_unbound(d.platform(), kSap, 922, {}), 0);
    }
    ASSERT_TRUE(d.wait_idle(pass));
    auto hb = client::read_heartbeats(d.platform());
    ASSERT_TRUE(hb);
    EXPECT_EQ(hb->count, pass);
    EXPECT_EQ(hb->pm, 4242);
  }
  ASSERT_EQ(d.send_signal(SIGHUP), 0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  auto hb = client::read_heartbeats(d.platform());
  ASSERT_TRUE(hb);
  EXPECT_EQ(hb->count, 4u);  // three passes and the signal's
  EXPECT_EQ(hb->pm, 4242);
  EXPECT_TRUE(d.stdout_text().ends_with(kReady + "sb_sig_handler: dravik sent heartbeat \n" +
                                        kCleanup))
      << d.stdout_text();
  EXPECT_TRUE(d.stderr_text().ends_with(kSelectInterrupted)) << d.stderr_text();
}

TEST(SignalTest, TermAndInterruptWhileWaitingCleanUpWithTheirStatus) {
  for (auto [signo, status] : {std::pair{SIGTERM, 0}, std::pair{SIGINT, 255}}) {
    DaemonProcess d;
    ASSERT_TRUE(d.wait_ready());
    ASSERT_EQ(d.send_signal(signo), 0);
    EXPECT_TRUE(exited_with(d.wait_exit(), status)) << signo;
    EXPECT_TRUE(d.stdout_text().ends_with(kReady + kCleanup)) << d.stdout_text();
    if (signo == SIGTERM) {  // SIGINT ends the process from its handler
      EXPECT_TRUE(d.stderr_text().ends_with(kSelectInterrupted)) << d.stderr_text();
    }
    EXPECT_TRUE(endpoints_gone(d)) << signo;
  }
}

// The process state letter from /proc/<pid>/stat ('T' when stopped).
char process_state(pid_t pid) {
  auto stat = client::read_file("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return '?';
  std::size_t paren = stat->rfind(')');
  return paren != std::string::npos && paren + 2 < stat->size() ? (*stat)[paren + 2] : '?';
}

TEST(LoopTest, VeskGoesFirstWhenBothAreReadyAndAnotherModuleEndsTheLoop) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  // Stopped, the daemon cannot take either one before both are queued.
  ASSERT_EQ(d.send_signal(SIGSTOP), 0);
  ASSERT_TRUE(client::wait_for([&] { return process_state(d.pid()) == 'T'; }, kWait));
  ASSERT_EQ(client::dpp_send(d.platform(), 4, 38, 0, 88, Buf{1}), 0);
  ASSERT_EQ(client::send_unbound(d.platform(), kSap, 922, {}), 0);
  ASSERT_EQ(d.send_signal(SIGCONT), 0);
  EXPECT_TRUE(exited_with(d.wait_exit(), 0));
  EXPECT_TRUE(d.stdout_text().ends_with(
      kReady + "VESK Opcode:922\n" + kReady +
      "Received a unknown message from module: 38 opcode: 88 \n" + kCleanup))
      << d.stdout_text();
}

// --- XIPC rebind (opcode 6111) ----------------------------------------------------

TEST(RebindTest, WordZeroRebindsPort1024WordOnePortZeroAndTheNewSocketIsWatched) {
  for (std::uint32_t w : {0u, 1u}) {
    DaemonProcess d;
    ASSERT_TRUE(d.wait_ready());
    const client::XipcEndpoint port{0, 37, static_cast<std::uint16_t>(w ? 0 : 1024)};
    ASSERT_EQ(client::send_unbound(d.platform(), kSap, 6111, word(w)), 0);
    ASSERT_TRUE(d.wait_idle(2));
    EXPECT_TRUE(has_line(d.stdout_text(), "VESK Opcode:6111"));
    EXPECT_EQ(d.stdout_count("Init XIPC...\n"), 2u);
    EXPECT_EQ(d.stdout_count("Created socket : "), 2u);
    EXPECT_TRUE(path_exists(client::xipc_path(d.platform(), port)));
    // The old socket was closed, and its endpoint with it.
    EXPECT_EQ(path_exists(client::xipc_path(d.platform(), client::kDaemonEndpoint)), w == 0);

    // A datagram to the new socket wakes the loop for one more pass.
    const std::string text = "after rebind " + std::to_string(w);
    ASSERT_EQ(client::dpp_send(d.platform(), 0, 39, 0, 88,
                               wire::encode_port_debug_text(100, text + "\n"), port),
              0);
    ASSERT_TRUE(d.wait_idle(3));
    EXPECT_TRUE(client::wait_for(
        [&] {
          for (const auto& l : client::dbgfac_log_lines(d.platform()))
            if (l == text) return true;
          return false;
        },
        kWait));
    EXPECT_TRUE(answers(d));
  }
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

// Sends n random datagrams of the given special and random sizes with `send`,
// pacing on a full queue; then each must have had a pass of its own.
void send_random(DaemonProcess& d, std::uint32_t seed, std::vector<std::size_t> sizes,
                 std::size_t max, const std::function<int(std::size_t, Buf&)>& send) {
  ASSERT_TRUE(d.wait_ready());
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::size_t> any_size(0, max);
  while (sizes.size() < 250) sizes.push_back(any_size(rng));
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    Buf b(sizes[i]);
    for (auto& c : b) c = static_cast<std::uint8_t>(byte(rng));
    int err = EAGAIN;
    client::wait_for([&] { return (err = send(i, b)) != EAGAIN; }, kWait, std::chrono::milliseconds(1));
    ASSERT_EQ(err, 0) << sizes[i];
  }
  EXPECT_TRUE(answers(d));
  EXPECT_TRUE(d.wait_idle(1 + sizes.size() + 1));
  EXPECT_EQ(d.stdout_count(kReadyLine), 1 + sizes.size() + 1);
}

TEST(BadInputTest, RandomVeskDatagramsNeverStopTheDaemon) {
  DaemonProcess d;
  send_random(d, 20240611, {0, 1, 3, 4, 11, 12, 13, 16, 624, 16396, 16397, 20000}, 20000,
              [&](std::size_t, Buf& b) {
                // Keep the rebind opcode out: it is not garbage to the daemon.
                if (b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0x17 && b[3] == 0xDF)
                  b[3] = 0;
                return client::send_raw(d.platform(), kSap, b);
              });
}

TEST(BadInputTest, RandomXipcFramesFromModule39NeverStopTheDaemon) {
  DaemonProcess d;
  send_random(d, 611, {0, 1, 8, 12, 20, 52, 2219, 2220, 2240, 2241, 3000}, 3000,
              [&](std::size_t i, Buf& b) {
                auto core = static_cast<std::uint16_t>(i * 2654435761u);
                // Half per-port text, half log records of any opcode; most random
                // categories lie above 29 and are dropped unread, so a share of the
                // records get real categories, plain or not.
                auto opcode = i % 2 ? std::uint16_t{88} : static_cast<std::uint16_t>(i * 7 % 256);
                if (opcode != 88 && b.size() >= 16 && i % 4 == 0) {
                  b[12] = b[13] = b[14] = 0;
                  b[15] = static_cast<std::uint8_t>(b[15] % 32 | (i % 8 == 0 ? 0x80 : 0));
                }
                return client::dpp_send(d.platform(), core, 39, 0, opcode, b);
              });
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
