// The host platform under faults, end to end: nothing done to its files,
// filesystem or descriptors ends the daemon or loses a record without a
// word, and a platform directory has one daemon.
#include <sys/mount.h>
#include <sys/resource.h>

#include "tests/support.h"
#include "wire/dpp_log_msg.h"

namespace e2e {
namespace {

using PlatformTest = DaemonTest;

// Passes of the loop (a datagram each) until the heartbeat count passes *seen.
bool beats_past(Daemon& d, std::uint64_t* seen) {
  auto beat = [&] {
    client::send_unbound(d.p, kSap, 922, {});
    auto h = client::read_heartbeats(d.p);
    return h && h->count > *seen && (*seen = h->count);
  };
  return client::wait_for(beat, kWait, 50ms);
}

TEST_F(PlatformTest, HeartbeatsComeBackAfterTheirFileIsTruncatedRemovedOrReplaced) {
  Daemon d;
  const std::string file = client::heartbeats_path(d.p), other = file + "~";
  std::uint64_t seen = 0;
  ASSERT_TRUE(beats_past(d, &seen));
  for (int fault : {0, 1, 2}) {
    if (fault == 2) touch(other);
    EXPECT_EQ(fault == 0   ? ::truncate(file.c_str(), 0)
              : fault == 1 ? ::unlink(file.c_str())
                           : ::rename(other.c_str(), file.c_str()),
              0);
    EXPECT_TRUE(beats_past(d, &seen)) << "fault " << fault;
  }
}

// Records the facility cannot write are reported and counted; once it can,
// records go on whole, none runs into a piece of a lost one, and heartbeats
// (after a filesystem full from the start) come back.
TEST_F(PlatformTest, FacilityRecordsLostToAFaultAreReportedAndCounted) {
  const std::string big(2000, 'b');
  auto lose = [&](const char* what, const std::function<void()>& mend, const Lines& kept,
                  int lost) {
    for (int i = 0; i < 5; ++i) {  // four records while the fault lasts
      if (i == 4) mend();
      from_dpp(0, 88, wire::encode_port_debug_text(2240, big));
    }
    const std::string err = d().err(), path = client::dbgfac_log_path(p(), "dpp_debug");
    EXPECT_EQ(client::dbgfac_log_lines(p()), kept) << what;
    EXPECT_TRUE(has(err, "dbgfac: dpp_debug: cannot write record to " + path + ": ")) << what;
    EXPECT_TRUE(has(err, "; " + std::to_string(lost) + " records were lost\n")) << err;
    std::uint64_t seen = 0;
    EXPECT_TRUE(beats_past(d(), &seen)) << what;
  };
  const pid_t pid = start().proc->pid();
  rlimit old{};
  ::prlimit(pid, RLIMIT_NOFILE, nullptr, &old);
  const rlimit none{3, old.rlim_max};
  ::prlimit(pid, RLIMIT_NOFILE, &none, nullptr);
  lose(
      "no descriptor", [&] { ::prlimit(pid, RLIMIT_NOFILE, &old, nullptr); }, {big}, 4);

  client::TempDir fs("dvkfs-");
  if (::mount("tmpfs", fs.path.c_str(), "tmpfs", 0, "size=128k") != 0)
    GTEST_SKIP() << "mounting a tmpfs is not allowed here: full filesystem untested";
  std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(fs.path.c_str(), MNT_DETACH); });
  const std::string filler = fs.path + "/filler";
  start({}, [&](const client::PlatformDir& p) {
    for (std::string sub : {"/dbgfac", "/corvan"})
      client::make_dirs(fs.path + sub), ::symlink((fs.path + sub).c_str(), (p.dir + sub).c_str());
    std::ofstream(client::dbgfac_log_path(p, "dpp_debug")) << "before\n";
    std::ofstream(filler) << std::string(1 << 20, 'f');
  });
  lose(
      "full filesystem", [&] { ::unlink(filler.c_str()); }, {"before", big, big, big}, 2);
}

// A second daemon on a directory whose daemon lives is refused and leaves
// everything to the first; a directory left by a killed daemon is taken over;
// a socket path is removed only by its binder, and taken from no live one.
TEST_F(PlatformTest, OneDaemonPerPlatformDirectory) {
  Daemon& first = start();
  auto again = [&](const char* name) {
    return std::make_unique<Process>(DRAVIK_BINARY, Options().args,
                                     Env{{"DRAVIK_PLATFORM_DIR", first.dir()}}, first.dir(), name);
  };
  auto second = again("second");
  EXPECT_EQ(second->wait_exit(), 255);
  EXPECT_TRUE(has(second->err(), "vesk: SAP 930 in " + first.dir() + " is in use by process " +
                                     std::to_string(first.proc->pid()) +
                                     "\nUnable to run receiver: Address already in use\n"))
      << second->err();
  EXPECT_TRUE(ask(1, Buf{0, 0, 0, 126}));
  EXPECT_EQ(client::read_file(first.dir() + "/card"), "40 4\n");
  ASSERT_EQ(first.proc->signal(SIGKILL), 0);
  first.wait_exit();
  auto next = again("next");
  EXPECT_TRUE(next->wait_out(kReady));
  // Its endpoint's path bound again by another process: the daemon's exit
  // leaves it, and a daemon started while it lives cannot take it.
  client::FakeDppEndpoint other(first.p, client::kDaemonEndpoint);
  ASSERT_EQ(next->signal(SIGTERM), 0);
  EXPECT_EQ(next->wait_exit(), 0);
  EXPECT_TRUE(client::path_exists(client::xipc_path(first.p, client::kDaemonEndpoint)));
  auto third = again("third");
  EXPECT_EQ(third->wait_exit(), 255);
  EXPECT_TRUE(has(third->err(), "initXIPCcomm: Address already in use\n")) << third->err();
}

}  // namespace
}  // namespace e2e
