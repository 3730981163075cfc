// The per-port debug relay seen from outside: terminals subscribe, merge and
// let go of debug bits, the map print follows every request, a full map
// refuses new terminals, and opcode 922 releases every row with its
// off-updates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/relay_e2e_support.h"

namespace e2e::relay {
namespace {

using namespace std::chrono_literals;
using RelayMapTest = RelayTest;

TEST_F(RelayMapTest, TwoTerminalsSubscribeMergeAndLetGo) {
  Pty a, b;
  auto core0 = dpp(0);

  // A new row: the terminal is opened once and the row lands at the top.
  // The whole pass: the opcode, the request, an empty line, then the map.
  EXPECT_TRUE(is_empty_reply(ask(on_request(2, 0, a.path))));
  expect_updates(*core0, {flag_bytes(kOn, 0x1, 55)});
  EXPECT_EQ(last_pass(), "VESK Opcode:1\n" + request_line(0, 2, 0, a.path) + "\n\n" +
                             row(99, 0x1, 55, 0, a.path) + "\n");
  const int a55 = fds_of(pid(), a.path).at(0);

  // Same terminal, module and port: merged into the row, nothing opened.
  EXPECT_TRUE(is_empty_reply(ask(on_request(4, 0, a.path))));
  expect_updates(*core0, {flag_bytes(kOn, 0x4, 55)});
  EXPECT_EQ(printed_map(), Lines{row(99, 0x5, 55, 0, a.path)});
  EXPECT_EQ(fds_of(pid(), a.path).size(), 1u);

  // Another module is another row; the on-update carries the command's whole
  // mask even when the row holds part of it already.
  EXPECT_TRUE(is_empty_reply(ask(on_request(41, 0, a.path))));
  EXPECT_TRUE(is_empty_reply(ask(on_request(42, 0, a.path))));
  expect_updates(*core0, {flag_bytes(kOn, 0x2, 77), flag_bytes(kOn, 0x6, 77)});
  auto a_fds = fds_of(pid(), a.path);
  ASSERT_EQ(a_fds.size(), 2u);
  const int a77 = a_fds[0] == a55 ? a_fds[1] : a_fds[0];

  // The second terminal asks for bits the first one holds: a row of its own.
  EXPECT_TRUE(is_empty_reply(ask(on_request(2, 0, b.path))));
  expect_updates(*core0, {flag_bytes(kOn, 0x1, 55)});
  EXPECT_EQ(printed_map(), (Lines{row(97, 0x1, 55, 0, b.path), row(98, 0x6, 77, 0, a.path, a77),
                                  row(99, 0x5, 55, 0, a.path, a55)}));

  // The first terminal lets 0x1 go. The last row of module 55 on port 0 (99,
  // its own, now 0x4) decides: 0x1 goes off although b's row 97 holds it.
  EXPECT_TRUE(is_empty_reply(ask(off_request(2, 0, a.path))));
  expect_updates(*core0, {flag_bytes(kOff, 0x1, 55)});
  EXPECT_TRUE(has_line(last_pass(), request_line(0, 2, 1, a.path)));
  EXPECT_EQ(printed_map(), (Lines{row(97, 0x1, 55, 0, b.path), row(98, 0x6, 77, 0, a.path, a77),
                                  row(99, 0x4, 55, 0, a.path, a55)}));

  // b lets go with another non-zero noFlag: its row is freed and closed.
  auto release = make_request(2, 0, true, b.path);
  release.noFlag = 0xFF;
  EXPECT_TRUE(is_empty_reply(ask(wire::encode_debug_request(release))));
  expect_updates(*core0, {flag_bytes(kOff, 0x1, 55)});
  EXPECT_TRUE(has_line(last_pass(), request_line(0, 2, 255, b.path)));
  EXPECT_EQ(fds_of(pid(), b.path).size(), 0u);
  EXPECT_EQ(printed_map(),
            (Lines{row(98, 0x6, 77, 0, a.path, a77), row(99, 0x4, 55, 0, a.path, a55)}));

  // A terminal without a row: the bits the last row lacks go off, the ones
  // it holds stay on.
  EXPECT_TRUE(is_empty_reply(ask(off_request(22, 0, b.path))));
  expect_updates(*core0, {flag_bytes(kOff, 0x80000000, 55)});
  EXPECT_TRUE(is_empty_reply(ask(off_request(4, 0, b.path))));
  expect_updates(*core0, {});

  // Part of a multi-bit row, then the rest.
  EXPECT_TRUE(is_empty_reply(ask(off_request(41, 0, a.path))));
  expect_updates(*core0, {flag_bytes(kOff, 0x2, 77)});
  EXPECT_EQ(printed_map(),
            (Lines{row(98, 0x4, 77, 0, a.path, a77), row(99, 0x4, 55, 0, a.path, a55)}));
  EXPECT_TRUE(is_empty_reply(ask(off_request(42, 0, a.path))));
  expect_updates(*core0, {flag_bytes(kOff, 0x6, 77)});
  EXPECT_TRUE(is_empty_reply(ask(off_request(4, 0, a.path))));
  expect_updates(*core0, {flag_bytes(kOff, 0x4, 55)});
  EXPECT_EQ(printed_map(), Lines{});
  EXPECT_EQ(fds_of(pid(), a.path).size(), 0u);
}

TEST_F(RelayMapTest, FullMapRefusesNewTerminalsButMerges) {
  auto core0 = dpp(0);
  std::vector<std::string> t;
  for (int i = 0; i <= 100; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/t%03d", i);
    t.push_back(dir() + name);
    touch(t.back());
  }
  // Command 1 is every bit of module 55: the map shows its mask as -1.
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(is_empty_reply(ask(on_request(1, 2, t[i])))) << i;
  core0->drain();
  Lines full;
  for (int i = 0; i < 100; ++i) full.push_back(row(i, 0xFFFFFFFF, 55, 2, t[99 - i]));
  ASSERT_EQ(printed_map(), full);
  EXPECT_NE(full[0].find("mask: -1 "), std::string::npos);
  auto core2 = dpp(2);
  const std::size_t fds = fd_count(pid());

  // A new terminal that opens: refused, its handle closed again; the
  // on-update still goes out and the reply still comes.
  EXPECT_TRUE(is_empty_reply(ask(on_request(2, 2, t[100]))));
  EXPECT_TRUE(has_line(last_pass(), "VTYmapElement array full")) << last_pass();
  expect_updates(*core2, {flag_bytes(kOn, 0x1, 55)});
  EXPECT_EQ(printed_map(), full);
  EXPECT_EQ(fd_count(pid()), fds);

  // A terminal that cannot be opened is reported as such, full map or not,
  // and is not created.
  EXPECT_TRUE(is_empty_reply(ask(on_request(2, 2, dir() + "/absent"))));
  EXPECT_FALSE(has_line(last_pass(), "VTYmapElement array full"));
  EXPECT_TRUE(d().wait_stderr_contains("open vty failed: No such file or directory\n"));
  EXPECT_FALSE(client::path_exists(dir() + "/absent"));
  expect_updates(*core2, {flag_bytes(kOn, 0x1, 55)});

  // An existing key still merges.
  EXPECT_TRUE(is_empty_reply(ask(off_request(3, 2, t[0]))));
  EXPECT_TRUE(is_empty_reply(ask(on_request(3, 2, t[0]))));
  EXPECT_EQ(printed_map(), full);
  core2->drain();

  // 922 releases them all. Rows 0-98 hold what the last row (99) holds, so
  // nothing goes off for them; row 99 sends every bit off.
  tell(kReleaseAll);
  expect_updates(*core2, {flag_bytes(kOff, 0xFFFFFFFF, 55)});
  EXPECT_EQ(fd_count(pid()), fds - 100);
}

TEST_F(RelayMapTest, ReleaseAllSendsOffUpdatesInRowOrderAndNoReply) {
  Pty a, b, c;
  auto core0 = dpp(0);
  auto core1 = dpp(1);
  ASSERT_TRUE(is_empty_reply(ask(on_request(3, 0, b.path))));   // row 99: 55/0 0x2
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, a.path))));   // row 98: 55/0 0x1
  const int a98 = fds_of(pid(), a.path).at(0);
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, c.path))));   // row 97: 55/0 0x1
  ASSERT_TRUE(is_empty_reply(ask(on_request(65, 1, a.path))));  // row 96: 81/1 0x1
  auto a_fds = fds_of(pid(), a.path);
  ASSERT_EQ(a_fds.size(), 2u);
  const int a96 = a_fds[0] == a98 ? a_fds[1] : a_fds[0];
  const Lines map{row(96, 0x1, 81, 1, a.path, a96), row(97, 0x1, 55, 0, c.path),
                  row(98, 0x1, 55, 0, a.path, a98), row(99, 0x2, 55, 0, b.path)};
  EXPECT_EQ(printed_map(), map);
  core0->drain();
  core1->drain();
  const std::size_t fds = fd_count(pid());

  // A rebind of the XIPC socket (to 1024 again) prints no map and keeps it:
  // the off-updates below still come from port 1024.
  tell(6111, Buf{0, 0, 0, 0});
  EXPECT_TRUE(has_line(last_pass(), "VESK Opcode:6111")) << last_pass();
  EXPECT_EQ(printed_map(), Lines{});

  // From a socket of our own: 922, then a listing request. The first answer
  // on the socket is the listing's, so 922 was answered with nothing.
  ASSERT_EQ(client::make_dirs(client::clients_dir(p())), 0);
  client::BoundSocket own;
  ASSERT_EQ(client::bind_dgram(client::clients_dir(p()) + "/relay-922", own), 0);
  for (const wire::VeskRequestFrame& f : {wire::VeskRequestFrame{kReleaseAll, 0, 7, {}},
                                          wire::VeskRequestFrame{kRelayOpcode, 0, 8,
                                                                 show_request(a.path)}})
    ASSERT_EQ(client::send_dgram(own.fd.fd, client::vesk_path(p(), kSap),
                                 wire::encode_vesk_request(f)),
              0);
  settle(2);
  auto first = client::recv_dgram(own.fd.fd, kWait);
  ASSERT_TRUE(first);
  EXPECT_EQ(wire::decode_vesk_reply(first->bytes).tag, 8u);
  EXPECT_FALSE(client::recv_dgram(own.fd.fd, 0ms));

  // Row by row: 96 (core 1); 97 and 98 send 0x1 off (the last row, 99, does
  // not hold it), so it goes off twice; then 99 sends its 0x2 off.
  expect_updates(*core1, {flag_bytes(kOff, 0x1, 81)});
  expect_updates(*core0,
                 {flag_bytes(kOff, 0x1, 55), flag_bytes(kOff, 0x1, 55), flag_bytes(kOff, 0x2, 55)});
  EXPECT_EQ(fd_count(pid()), fds - 4);
  // No map print after 922; the listing after it finds an empty map.
  const std::string release_pass = last_pass(1);
  EXPECT_TRUE(has_line(release_pass, "VESK Opcode:922")) << release_pass;
  EXPECT_EQ(release_pass.find("Index:"), std::string::npos) << release_pass;
  EXPECT_EQ(printed_map(), Lines{});

  // Over an empty map 922 sends nothing and closes nothing.
  tell(kReleaseAll);
  expect_updates(*core0, {});
  expect_updates(*core1, {});
  EXPECT_EQ(fd_count(pid()), fds - 4);
}

TEST_F(RelayMapTest, UnansweredReplyIsReportedAndTheRequestStillActs) {
  Pty a;
  auto core0 = dpp(0);
  // From a socket without an address of its own: the reply cannot be sent.
  tell(kRelayOpcode, on_request(8, 0, a.path));
  EXPECT_EQ(last_pass(), "VESK Opcode:1\n" + request_line(0, 8, 0, a.path) + "\n\n" +
                             "Failed to send response\n" + row(99, 0x40, 55, 0, a.path) + "\n");
  expect_updates(*core0, {flag_bytes(kOn, 0x40, 55)});
}

}  // namespace
}  // namespace e2e::relay
