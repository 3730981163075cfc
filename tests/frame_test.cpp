// The daemon's process frame from outside: start-up and its failures, the
// arguments, card type 163, heartbeats, signals, the loop's order, and input
// that must not stop it.
#include <signal.h>
#include <sys/stat.h>

#include <cstring>

#include "tests/support.h"
#include "wire/dpp_log_msg.h"

namespace e2e {
namespace {

const std::string kCleanup = "Cleaning up and exiting...\n";
const std::string kReadyLine = std::string(kReady) + "\n";
constexpr std::string_view kInterrupted = "select: Interrupted system call\n";

Buf word(std::uint32_t w) { return {0, 0, 0, static_cast<std::uint8_t>(w)}; }

// The socket's descriptor number replaced by '#'.
std::string masked(std::string out) {
  const std::string key = "Created socket : ";
  if (auto at = out.find(key); at != out.npos) {
    auto end = out.find('\n', at);
    out.replace(at + key.size(), end - at - key.size(), "#");
  }
  return out;
}

using FrameTest = DaemonTest;

TEST_F(FrameTest, StartsBindsRegistersFor922AndWaits) {
  start({}, [](const client::PlatformDir& p) {  // sockets left by a daemon that died
    for (std::string sub : {"/vesk", "/xipc"}) client::make_dirs(p.dir + sub);
    touch(client::vesk_path(p, kSap));
    touch(client::xipc_path(p, client::kDaemonEndpoint));
  });
  const std::string out = masked(d().out());
  // The rest, to the ready line, is the log manager's start, checked with it.
  EXPECT_TRUE(out.starts_with("Bound to SAP: 930\nInit XIPC...\nCreated socket : #\n")) << out;
  notify(922, {});  // the registration leads a sender of 922 to the daemon
  ASSERT_EQ(client::send_raw(p(), kSap, {}), 0);  // an empty datagram is no receive error
  settle();
  // Only the daemon's user and group reach its sockets.
  for (const std::string& path :
       {client::vesk_path(p(), kSap), client::xipc_path(p(), client::kDaemonEndpoint)}) {
    struct stat st {};
    EXPECT_TRUE(::stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0660) << path;
  }
}

TEST_F(FrameTest, EachFailingStepHasItsMessageAndStatus) {
  const std::string bound = "Bound to SAP: 930\n", init = bound + "Init XIPC...\n";
  const struct {
    const char *fail, *err;
    std::string out;
    std::vector<std::string> args = {"1", "0", "0", "100", "x"};
  } cases[] = {{"", "", "Passed less than 6 required arguments\n", {"1", "0", "0", "100"}},
               {"vesk_bind", "Unable to run receiver: Input/output error\n", kCleanup},
               {"vesk_options_set:922", "vesk_register: Input/output error\n", bound + kCleanup},
               {"xipc_socket", "CreateSock: Input/output error\n",
                init + "Failed to create socket\n" + kCleanup},
               {"xipc_bind", "initXIPCcomm: Input/output error\n",
                init + "Created socket : #\nretVal: -1\n" + kCleanup}};
  for (const auto& c : cases) {
    Daemon d(Options().fail(c.fail).with_args(c.args));
    EXPECT_EQ(d.wait_exit(), 255) << c.fail;
    EXPECT_EQ(d.err(), c.err) << c.fail;
    EXPECT_EQ(masked(d.out()), c.out) << c.fail;
    for (const auto& path : {client::vesk_path(d.p, kSap), client::vesk_reg_path(d.p, 922, kSap),
                             client::xipc_path(d.p, client::kDaemonEndpoint)})
      EXPECT_FALSE(client::path_exists(path)) << c.fail << path;
  }
}

TEST_F(FrameTest, NoArgumentsHandshakeManagerMessagesAndNoHeartbeat) {
  Daemon d(Options().card("163").with_args({}));
  ASSERT_TRUE(d.shaken());
  const std::uint32_t corvan = wire::vesk_frame::kFlagCorvan;
  // Result 0: handled and dropped; 5: handled, and the loop goes on.
  ASSERT_EQ(client::send_unbound(d.p, kSap, 4321, word(0), corvan), 0);
  ASSERT_EQ(client::send_unbound(d.p, kSap, 4322, word(5), corvan), 0);
  ASSERT_TRUE(client::request(d.p, kSap, 1, word(126), kWait));  // a listing after both
  EXPECT_EQ(client::corvan_log_lines(d.p),
            (Lines{"handshake 84", "dispatch 4321 0", "dispatch 4322 5"}));
  ASSERT_TRUE(client::wait_for([&] { return d.idle(0); }, kWait));
  ASSERT_EQ(d.proc->signal(SIGHUP), 0);  // no heartbeat on this card, but the wait ends
  EXPECT_EQ(d.wait_exit(), 0);
  EXPECT_FALSE(client::path_exists(client::heartbeats_path(d.p)));
  const std::string out = d.out();
  EXPECT_EQ(count_of(out, kReady), 4u);
  EXPECT_TRUE(out.ends_with("VESK Opcode:1\n" + kReadyLine + kCleanup)) << out;
}

TEST_F(FrameTest, HeartbeatPerPassAndOnHangup) {
  Daemon d(Options().with_args({"4242", "0", "0", "100", "x"}));
  ASSERT_TRUE(d.idle(1));
  for (int i = 0; i < 2; ++i) ASSERT_EQ(client::send_unbound(d.p, kSap, 922, {}), 0);
  ASSERT_TRUE(d.idle(3));
  ASSERT_EQ(d.proc->signal(SIGHUP), 0);
  EXPECT_EQ(d.wait_exit(), 0);
  auto hb = client::read_heartbeats(d.p).value_or(client::Heartbeats{});
  EXPECT_EQ(hb.count, 4u);  // three passes and the signal's
  EXPECT_EQ(hb.pm, 4242);
  EXPECT_TRUE(
      d.out().ends_with(kReadyLine + "sb_sig_handler: dravik sent heartbeat \n" + kCleanup));
  EXPECT_TRUE(d.err().ends_with(kInterrupted)) << d.err();
}

// A SIGTERM that comes after the loop tested its flag and before it waits
// still ends it: here the daemon is held writing its ready line to a full
// pipe when the signal comes.
TEST_F(FrameTest, ATermBeforeTheWaitIsNotLost) {
  std::string fifo, text;
  client::Fd out;
  Daemon d({}, [&](const client::PlatformDir& p) {
    fifo = p.dir + "/daemon.out";
    if (::mkfifo(fifo.c_str(), 0600) == 0)
      out = client::Fd(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  });
  auto drained = [&](std::string_view until) {
    char b[4096];
    for (ssize_t n; (n = ::read(out.fd, b, sizeof b)) > 0;) text.append(b, n);
    return has(text, until);
  };
  ASSERT_TRUE(client::wait_for([&] { return drained(kReady); }, kWait));
  ASSERT_EQ(::fcntl(out.fd, F_SETPIPE_SZ, 4096), 4096);
  {
    client::Fd fill(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    const std::string room_for_the_opcode_line(4096 - std::strlen("VESK Opcode:922\n"), '.');
    ASSERT_EQ(::write(fill.fd, room_for_the_opcode_line.data(), room_for_the_opcode_line.size()),
              static_cast<ssize_t>(room_for_the_opcode_line.size()));
  }
  ASSERT_EQ(client::send_unbound(d.p, kSap, 922, {}), 0);
  const std::string syscall = "/proc/" + std::to_string(d.proc->pid()) + "/syscall";
  ASSERT_TRUE(client::wait_for(
      [&] {
        return client::read_file(syscall).value_or("").starts_with(std::to_string(SYS_write) + " ");
      },
      kWait));
  ASSERT_EQ(d.proc->signal(SIGTERM), 0);
  std::optional<int> status;
  client::wait_for([&] { return drained(kCleanup) && (status = d.proc->wait_exit(1ms)); }, kWait);
  EXPECT_EQ(status, 0);
  ::unlink(fifo.c_str());  // what the daemon wrote is read here, not from the file
}

TEST_F(FrameTest, VeskGoesFirstAndAnotherModuleEndsTheLoop) {
  Daemon d;
  ASSERT_TRUE(d.idle(1));
  // Stopped, the daemon cannot take either one before both are queued.
  ASSERT_EQ(d.proc->signal(SIGSTOP), 0);
  const std::string stat = "/proc/" + std::to_string(d.proc->pid()) + "/stat";
  ASSERT_TRUE(
      client::wait_for([&] { return has(client::read_file(stat).value_or(""), ") T "); }, kWait));
  ASSERT_EQ(client::dpp_send(d.p, 4, 38, 0, 88, Buf{1}), 0);
  ASSERT_EQ(client::send_unbound(d.p, kSap, 922, {}), 0);
  ASSERT_EQ(d.proc->signal(SIGCONT), 0);
  EXPECT_EQ(d.wait_exit(), 0);
  EXPECT_TRUE(d.out().ends_with(kReadyLine + "VESK Opcode:922\n" + kReadyLine +
                                "Received a unknown message from module: 38 opcode: 88 \n" +
                                kCleanup))
      << d.out();
}

// A failed receive ends the loop: the VESK error number, or the byte count of
// the XIPC receive, is printed, and the daemon cleans up and returns 0.
TEST_F(FrameTest, AFailedReceiveEndsTheLoop) {
  for (std::string op : {"vesk_recv", "xipc_recvfrom"}) {
    Daemon d(Options().fail(op));
    ASSERT_TRUE(d.idle(1));
    const bool vesk = op == "vesk_recv";
    ASSERT_EQ(vesk ? client::send_unbound(d.p, kSap, 922, {})
                   : client::dpp_send(d.p, 0, 39, 0, 88, Buf{1}),
              0);
    EXPECT_EQ(d.wait_exit(), 0) << op;
    EXPECT_TRUE(d.out().ends_with(
        kReadyLine + (vesk ? "error = 5\n" : "Error from recvfrom, byte count -1\n") + kCleanup))
        << d.out();
  }
}

}  // namespace
}  // namespace e2e
