// The per-port debug relay from outside: terminals subscribe, merge and let
// go of debug bits; the exact FlagUpdateMsg each change sends a DPP core; the
// map printed after every request; the listing on the terminal or in the
// reply; the release of every row; and requests, terminals and cores that
// must not hurt the daemon.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "tests/support.h"
#include "wire/debug_request.h"
#include "wire/flag_update_msg.h"

namespace e2e {
namespace {

constexpr std::uint32_t kOn = 1, kOff = 2;

wire::DebugRequest make(std::int32_t id, std::uint8_t port, bool off, std::string_view term) {
  wire::DebugRequest r;
  r.commandID = id;
  r.port = port;
  r.noFlag = off ? 1 : 0;
  std::memcpy(r.term, term.data(), std::min(term.size(), sizeof r.term - 1));
  return r;
}
Buf on(std::int32_t id, std::uint8_t port, std::string_view term) {
  return wire::encode_debug_request(make(id, port, false, term));
}
Buf off(std::int32_t id, std::uint8_t port, std::string_view term) {
  return wire::encode_debug_request(make(id, port, true, term));
}
Buf show(std::string_view term) { return on(126, 0, term); }

// The 616 bytes of an update; a filter is added through the layout's offsets.
Buf flag(std::uint32_t op, std::uint32_t mask, std::uint32_t module) {
  Buf b(wire::flag_update::kSize, 0);
  wire::put_u32(b, wire::flag_update::kOp, op);
  wire::put_u32(b, wire::flag_update::kMask, mask);
  wire::put_u32(b, wire::flag_update::kModule, module);
  return b;
}

std::string request_line(int port, int id, int no_flag, const std::string& term) {
  return "processVESKreq:*** Port: " + std::to_string(port) + " CommandID: " + std::to_string(id) +
         " NoFlag: " + std::to_string(no_flag) + "  Term: " + term + " ***\n\n";
}

class RelayTest : public DaemonTest {
 protected:
  void SetUp() override { start(); }

  // Sends a per-port debug request; its reply's text, which must be 5000
  // bytes under the request's opcode, the text's NUL followed by zeros only.
  std::string relay(const Buf& request) {
    auto r = ask(1, request);
    if (!r) return "<no reply>";
    if (r->header != wire::kReplyHeaderBytes || r->opcode != 1 || r->payload.size() != 5000)
      return "<bad reply>";
    auto nul = std::find(r->payload.begin(), r->payload.end(), 0);
    if (nul == r->payload.end() || std::any_of(nul, r->payload.end(), [](auto b) { return b != 0; }))
      return "<no NUL, or bytes after it>";
    return std::string(r->payload.begin(), nul);
  }
  ::testing::AssertionResult updates(client::FakeDppEndpoint& core, const std::vector<Buf>& want) {
    return got_frames(core, 88, want);
  }
  std::unique_ptr<client::FakeDppEndpoint> core(std::uint16_t n) { return endpoint(n, 39); }

  // The map as printed after the last message.
  Lines map() {
    Lines rows;
    for (const auto& l : lines_of(last()))
      if (l.starts_with("Index: ")) rows.push_back(l);
    return rows;
  }
  // The map line of a row; the descriptor is the one the daemon holds open
  // on vty, unless given.
  std::string row(int index, std::uint32_t mask, std::uint32_t module, std::uint32_t port,
                  const std::string& vty, int fd = -1) {
    if (fd < 0) {
      auto fds = fds_of(d().proc->pid(), vty);
      fd = fds.size() == 1 ? fds[0] : -1;
    }
    char line[256];
    std::snprintf(line, sizeof line, "Index: %d   mask: %d   module: %u   Port: %u  VTY: %s  VTYfd: %d",
                  index, static_cast<std::int32_t>(mask), module, port, vty.c_str(), fd);
    return line;
  }
  std::size_t fds() { return fds_of(d().proc->pid()).size(); }
};

TEST_F(RelayTest, TwoTerminalsSubscribeMergeAndLetGo) {
  Pty a, b;
  auto core0 = core(0);
  // A new row lands at the top; the pass prints the request, then the map.
  EXPECT_EQ(relay(on(2, 0, a.path)), "");
  EXPECT_TRUE(updates(*core0, {flag(kOn, 0x1, 55)}));
  EXPECT_EQ(last(), request_line(0, 2, 0, a.path) + row(99, 0x1, 55, 0, a.path) + "\n");
  const int a55 = fds_of(d().proc->pid(), a.path).at(0);
  // Same terminal, module and port: merged, nothing opened. Another module
  // is another row; the on-update carries the command's whole mask.
  relay(on(4, 0, a.path));
  relay(on(41, 0, a.path));
  relay(on(42, 0, a.path));
  EXPECT_TRUE(updates(*core0, {flag(kOn, 0x4, 55), flag(kOn, 0x2, 77), flag(kOn, 0x6, 77)}));
  auto a_fds = fds_of(d().proc->pid(), a.path);
  ASSERT_EQ(a_fds.size(), 2u);
  const int a77 = a_fds[0] == a55 ? a_fds[1] : a_fds[0];
  // The second terminal asks for bits the first holds: a row of its own.
  relay(on(2, 0, b.path));
  EXPECT_TRUE(updates(*core0, {flag(kOn, 0x1, 55)}));
  EXPECT_EQ(map(), (Lines{row(97, 0x1, 55, 0, b.path), row(98, 0x6, 77, 0, a.path, a77),
                          row(99, 0x5, 55, 0, a.path, a55)}));

  // a lets 0x1 go. The last row of module 55 on port 0 (99, now 0x4) alone
  // decides: 0x1 goes off although b's row 97 holds it.
  EXPECT_EQ(relay(off(2, 0, a.path)), "");
  EXPECT_TRUE(updates(*core0, {flag(kOff, 0x1, 55)}));
  EXPECT_EQ(last(), request_line(0, 2, 1, a.path) + row(97, 0x1, 55, 0, b.path) + "\n" +
                        row(98, 0x6, 77, 0, a.path, a77) + "\n" + row(99, 0x4, 55, 0, a.path, a55) + "\n");
  // b lets go with another non-zero noFlag: its row is freed and closed.
  auto release = make(2, 0, true, b.path);
  release.noFlag = 0xFF;
  relay(wire::encode_debug_request(release));
  EXPECT_TRUE(updates(*core0, {flag(kOff, 0x1, 55)}));
  EXPECT_TRUE(has(last(), request_line(0, 2, 255, b.path)));
  EXPECT_TRUE(fds_of(d().proc->pid(), b.path).empty());
  // A terminal without a row: the bits the last row lacks go off, the ones
  // it holds stay on.
  relay(off(22, 0, b.path));
  relay(off(4, 0, b.path));
  EXPECT_TRUE(updates(*core0, {flag(kOff, 0x80000000, 55)}));
  // Part of a multi-bit row, then the rest.
  relay(off(41, 0, a.path));
  EXPECT_EQ(map(), (Lines{row(98, 0x4, 77, 0, a.path, a77), row(99, 0x4, 55, 0, a.path, a55)}));
  relay(off(42, 0, a.path));
  relay(off(4, 0, a.path));
  EXPECT_TRUE(updates(*core0, {flag(kOff, 0x2, 77), flag(kOff, 0x6, 77), flag(kOff, 0x4, 55)}));
  EXPECT_EQ(map(), Lines{});
  EXPECT_TRUE(fds_of(d().proc->pid(), a.path).empty());
}

TEST_F(RelayTest, FullMapRefusesNewTerminalsListsIntoTheReplyAndReleasesAll) {
  std::vector<std::string> t;
  for (int i = 0; i <= 100; ++i) {
    t.push_back(d().dir() + "/t" + std::to_string(100 + i));
    touch(t.back());
  }
  for (int i = 0; i < 100; ++i) ASSERT_EQ(relay(on(1, 2, t[i])), "") << i;
  auto core2 = core(2);
  Lines full;
  for (int i = 0; i < 100; ++i) full.push_back(row(i, 0xFFFFFFFF, 55, 2, t[99 - i]));
  ASSERT_EQ(map(), full);
  EXPECT_TRUE(has(full[0], " mask: -1 "));
  const std::size_t open = fds();

  // A new terminal that opens: refused, its handle closed again; the
  // on-update still goes out. One that cannot be opened says so instead.
  EXPECT_EQ(relay(on(2, 2, t[100])), "");
  EXPECT_TRUE(has(last(), "VTYmapElement array full\n"));
  EXPECT_EQ(fds(), open);
  EXPECT_EQ(relay(on(2, 2, d().dir() + "/absent")), "");
  EXPECT_FALSE(has(last(), "array full"));
  EXPECT_TRUE(has(d().err(), "open vty failed: No such file or directory\n"));
  EXPECT_FALSE(client::path_exists(d().dir() + "/absent"));
  EXPECT_TRUE(updates(*core2, {flag(kOn, 0x1, 55), flag(kOn, 0x1, 55)}));
  // An existing key still merges.
  relay(off(3, 2, t[0]));
  relay(on(3, 2, t[0]));
  EXPECT_EQ(map(), full);

  // The listing, into the reply: pieces of 33 and 31 characters, rows in
  // index order, stopping at the last piece that fits with the NUL.
  std::string listing;
  bool room = true;
  for (int i = 0; i < 100; ++i)
    for (const std::string& piece : {"      vty(" + t[99 - i] + "):\n", std::string("\tdebug nivo ipstack all port 3\n")})
      if ((room = room && listing.size() + piece.size() < 5000)) listing += piece;
  EXPECT_EQ(relay(show(d().dir() + "/no/tty")), listing);

  // 922 releases them all. Rows 0-98 hold what the last row holds, so only
  // row 99 sends its bits off.
  core2->drain();
  tell(922);
  EXPECT_TRUE(updates(*core2, {flag(kOff, 0xFFFFFFFF, 55)}));
  EXPECT_EQ(fds(), open - 100);
}

TEST_F(RelayTest, ReleaseAllSendsOffUpdatesInRowOrderAndNoReply) {
  Pty a, b, c;
  auto core0 = core(0), core1 = core(1);
  relay(on(3, 0, b.path));   // row 99: 55/0 0x2
  relay(on(2, 0, a.path));   // row 98: 55/0 0x1
  relay(on(2, 0, c.path));   // row 97: 55/0 0x1
  relay(on(65, 1, a.path));  // row 96: 81/1 0x1
  EXPECT_EQ(map().size(), 4u);
  core0->drain();
  core1->drain();
  const std::size_t open = fds();
  // A rebind (to 1024 again) prints no map and keeps it.
  tell(6111, Buf{0, 0, 0, 0});
  EXPECT_EQ(map(), Lines{});

  // 922 and then a listing from one socket: the first answer is the
  // listing's, so 922 had none.
  ASSERT_EQ(client::make_dirs(client::clients_dir(p())), 0);
  client::BoundSocket own;
  ASSERT_EQ(client::bind_dgram(client::clients_dir(p()) + "/own", own), 0);
  for (const wire::VeskRequestFrame& f : {wire::VeskRequestFrame{922, 0, 7, {}},
                                          wire::VeskRequestFrame{1, 0, 8, show(a.path)}})
    ASSERT_EQ(client::send_dgram(own.fd.fd, client::vesk_path(p(), kSap), wire::encode_vesk_request(f)), 0);
  settle(2);
  auto first = client::recv_dgram(own.fd.fd, kWait);
  ASSERT_TRUE(first);
  EXPECT_EQ(wire::decode_vesk_reply(first->bytes).tag, 8u);
  EXPECT_FALSE(client::recv_dgram(own.fd.fd, 0ms));
  EXPECT_EQ(count_of(last(), "Index:"), 0u);  // after 922 and after the listing of an empty map

  // Row by row: 96 (core 1); 97 and 98 send 0x1 off (the last row, 99, does
  // not hold it), so it goes off twice; then 99 sends its 0x2.
  EXPECT_TRUE(updates(*core1, {flag(kOff, 0x1, 81)}));
  EXPECT_TRUE(updates(*core0, {flag(kOff, 0x1, 55), flag(kOff, 0x1, 55), flag(kOff, 0x2, 55)}));
  EXPECT_EQ(fds(), open - 4);
  tell(922);  // an empty map: nothing sent, nothing closed
  EXPECT_TRUE(updates(*core0, {}));
  EXPECT_EQ(fds(), open - 4);
}

TEST_F(RelayTest, UnanswerableRequestIsReportedAndStillActs) {
  Pty a;
  auto core0 = core(0);
  tell(1, on(8, 0, a.path));
  EXPECT_EQ(last(), request_line(0, 8, 0, a.path) + "Failed to send response\n" +
                        row(99, 0x40, 55, 0, a.path) + "\n");
  EXPECT_TRUE(updates(*core0, {flag(kOn, 0x40, 55)}));
}

TEST_F(RelayTest, FiltersOfTheNameAndFenkCommands) {
  Pty a;
  auto core1 = core(1), core5 = core(5);
  // The port is the core; command 103 shares row 102's bit but carries no
  // filter, whatever the request's filter bytes hold.
  auto r = make(103, 5, false, a.path);
  std::memcpy(r.init, "iqn.i", 5);
  std::memcpy(r.tgt, "iqn.t", 5);
  r.fenk = 77;
  relay(wire::encode_debug_request(r));
  EXPECT_TRUE(updates(*core5, {flag(kOn, 0x00800000, 83)}));
  EXPECT_FALSE(has(last(), "getParameterFromRequest"));

  const std::string init = "iqn.1991-05.com.example:initiator", tgt = "iqn.1991-05.com.example:t7";
  for (auto [id, mask, off] : {std::tuple{25, 0x1u, false}, {33, 0x200u, true}}) {
    r = make(id, 1, off, a.path);
    std::memcpy(r.init, init.c_str(), init.size());
    std::memcpy(r.tgt, tgt.c_str(), tgt.size());
    std::memcpy(r.init + 200, "after-nul", 9);  // the whole 256-byte fields travel
    r.tgt[255] = 'z';
    relay(wire::encode_debug_request(r));
    Buf want = flag(off ? kOff : kOn, mask, 66);
    wire::put_u32(want, wire::flag_update::kSessType, 1);
    wire::put_raw(want, wire::flag_update::kInit, r.init, 256);
    wire::put_raw(want, wire::flag_update::kTgt, r.tgt, 256);
    EXPECT_TRUE(updates(*core1, {want})) << id;
    EXPECT_TRUE(has(last(), "getParameterFromRequest: Get parameter init " + init + ", tgt " + tgt + "\n"));
  }
  for (bool empty_tgt : {true, false}) {  // either name empty: no filter, no line
    r = make(25, 1, false, a.path);
    std::memcpy(empty_tgt ? r.init : r.tgt, init.c_str(), init.size());
    std::memcpy((empty_tgt ? r.tgt : r.init) + 1, "hidden", 6);
    relay(wire::encode_debug_request(r));
    EXPECT_TRUE(updates(*core1, {flag(kOn, 0x1, 66)}));
    EXPECT_FALSE(has(last(), "Get parameter"));
  }

  const struct {
    std::int32_t id;
    std::uint32_t mask, type;
  } fenk[] = {{92, 0x00100000, 1}, {99, 0x00400000, 2}, {100, 0x01000000, 2}, {101, 0x02000000, 2},
              {102, 0x00800000, 2}, {109, 0x04000000, 3}, {110, 0x08000000, 3}, {111, 0x20, 4},
              {112, 0x20, 4}, {113, 0x40, 4}, {114, 0x80, 4}, {115, 0x100, 4}, {116, 0x400, 4},
              {117, 0x800, 4}, {118, 0x1000, 4}, {119, 0x2000, 4}, {120, 0x4000, 4}};
  for (const auto& c : fenk) {
    const bool release = c.id == 101;  // off, with a fenk number printed signed
    r = make(c.id, 1, release, a.path);
    r.fenk = release ? 0xFFFFFFFE : 1000 + c.id;
    r.init_fcid = 0x010200 + c.id;
    r.targ_fcid = 0xA0B000 + c.id;
    Buf req = wire::encode_debug_request(r);
    wire::put_u32(req, wire::debug_request::kInit, 0xDEADBEEF);  // bytes 112-115: not read
    relay(req);
    Buf want = flag(release ? kOff : kOn, c.mask, 83);
    wire::put_u32(want, wire::flag_update::kSessType, 2);
    wire::put_u32(want, wire::flag_update::kType, c.type);
    wire::put_u32(want, wire::flag_update::kFenk, r.fenk);
    wire::put_u32(want, wire::flag_update::kInitFcid, r.init_fcid);
    wire::put_u32(want, wire::flag_update::kTargFcid, r.targ_fcid);
    EXPECT_TRUE(updates(*core1, {want})) << c.id;
    char qit[128];
    std::snprintf(qit, sizeof qit, "getParameterFromRequest sess_type: 2 type: 2 QIT: [%d 0x%x 0x%x]\n",
                  static_cast<int>(r.fenk), r.init_fcid, r.targ_fcid);
    EXPECT_EQ(has(last(), qit), c.type == 2) << c.id;
    EXPECT_EQ(has(last(), "QIT"), c.type == 2) << c.id;
  }
}

TEST_F(RelayTest, ListingOnTheTerminalOrInTheReply) {
  Pty a, b;
  const std::string file = d().dir() + "/plain";
  touch(file);
  EXPECT_EQ(relay(show(a.path)), "");  // an empty map lists nothing
  relay(on(2, 0, a.path));             // row 99
  relay(on(98, 0, b.path));            // row 98: adap all
  relay(on(40, 2, a.path));            // row 97: row 19's bit
  relay(on(41, 3, file));              // row 96
  relay(on(4, 3, file));               // row 95
  auto expected = [&](const std::string& viewer) {
    auto header = [&](const std::string& vty) {
      return (vty == viewer ? "Current vty(" : "Other vty(") + vty + "):\n";
    };
    return header(file) + "\tdebug nivo ipstack arp port 4\n" + header(file) +
           "\tdebug nivo fcip ctlpkt port 4\n" + header(a.path) +
           "\tdebug nivo ipstack tcp port 3 sack\n" + header(b.path) +
           "\tdebug pemra adap i-t-nexus dpp 1\n\tdebug pemra adap i-t-nexus-fsm dpp 1\n"
           "\tdebug pemra adap qit-hash dpp 1\n\tdebug pemra adap xipc-flow dpp 1\n"
           "\tdebug pemra adap pkt-flow dpp 1\n"
           "\tdebug pemra lrtp fenk 1 init_fcid 0 targ_fcid 0 pkt-flow dpp 0\n"
           "\tdebug pemra lrtp fenk 1 init_fcid 0 targ_fcid 0 ctl dpp 0\n" +
           header(a.path) + "\tdebug nivo ipstack eth port 1\n";
  };
  for (Pty* viewer : {&a, &b}) {
    EXPECT_EQ(relay(show(viewer->path)), "");
    EXPECT_EQ(viewer->read_until(expected(viewer->path)), expected(viewer->path));
    EXPECT_FALSE(has(last(), "processVESKreq:***"));
    EXPECT_EQ(map().size(), 5u);  // the map print follows a listing too
  }
  // A terminal that cannot be opened gets the listing in the reply; a new
  // path in a directory that exists is created as a file and gets it there.
  const std::string in_reply = relay(show(d().dir() + "/no/tty"));
  EXPECT_TRUE(in_reply.starts_with("      vty(" + file + "):\n\tdebug nivo ipstack arp port 4\n"
                                   "      vty(" + file + "):\n\tdebug nivo fcip ctlpkt port 4\n"));
  EXPECT_TRUE(in_reply.ends_with("      vty(" + a.path + "):\n\tdebug nivo ipstack eth port 1\n"));
  EXPECT_EQ(count_of(in_reply, "      vty("), 11u);
  const std::string fresh = d().dir() + "/fresh";
  EXPECT_EQ(relay(show(fresh)), "");
  EXPECT_EQ(client::read_file(fresh), expected(""));
}

TEST_F(RelayTest, CommandIdsThatNameNoCommandAreAnsweredAndIgnored) {
  Pty a;
  auto core0 = core(0);
  relay(on(2, 0, a.path));
  const std::string map_line = row(99, 0x1, 55, 0, a.path) + "\n";
  const std::size_t open = fds();
  for (std::int32_t id : {0, 124, 125, -1, 127, 1000, INT32_MIN}) {
    for (bool release : {false, true}) {
      const std::string term = release ? a.path : d().dir() + "/t" + std::to_string(id);
      if (!release) touch(term);
      EXPECT_EQ(relay(wire::encode_debug_request(make(id, 0, release, term))), "");
      EXPECT_EQ(last(), "processVESKreq: CommandID " + std::to_string(id) +
                            " names no debug command, ignored\n" + map_line);
      EXPECT_EQ(fds(), open);
    }
  }
  EXPECT_TRUE(updates(*core0, {flag(kOn, 0x1, 55)}));
}

TEST_F(RelayTest, TerminalPathsThatDoNotFitAreNeverStored) {
  auto core0 = core(0);
  const std::string fits = d().dir() + "/" + std::string(99 - d().dir().size() - 1, 'p');
  touch(fits);
  relay(on(2, 0, fits));
  const Lines one_row{row(99, 0x1, 55, 0, fits)};
  EXPECT_EQ(map(), one_row);
  EXPECT_TRUE(updates(*core0, {flag(kOn, 0x1, 55)}));
  const std::size_t open = fds();
  // 100 characters or more: never stored nor kept open, and said so; the
  // request still sends its update and lists to the terminal.
  for (std::size_t length : {100u, 105u}) {
    const std::string too_long = fits + std::string(length - 99, 'q');
    touch(too_long);
    relay(on(4, 0, too_long));
    EXPECT_TRUE(has(last(), "storeInMap: terminal path too long, not stored\n"));
    relay(off(4, 0, too_long));
    EXPECT_EQ(map(), one_row);
    EXPECT_EQ(fds(), open);
    EXPECT_TRUE(updates(*core0, {flag(kOn, 0x4, 55), flag(kOff, 0x4, 55)}));
    relay(show(too_long));
    EXPECT_EQ(client::read_file(too_long), "Other vty(" + fits + "):\n\tdebug nivo ipstack eth port 1\n");
  }
  // In the reply, a piece longer than 99 characters is cut to 99.
  EXPECT_EQ(relay(show(d().dir() + "/no/tty")),
            "      vty(" + fits.substr(0, 89) + "\tdebug nivo ipstack eth port 1\n");
  // A terminal field of 106 bytes without a NUL: the request is refused whole.
  Buf payload = on(2, 0, "");
  std::fill_n(payload.begin() + wire::debug_request::kTerm, wire::debug_request::kTermSize, 'x');
  payload[wire::debug_request::kInit] = 'y';
  EXPECT_EQ(relay(payload), "");
  EXPECT_EQ(last(), "processVESKreq: terminal path too long, request ignored\n" + one_row[0] + "\n");
  // A short request reads as zero-padded: command 2, port 0, on, an empty path.
  EXPECT_EQ(relay(Buf{0, 0, 0, 2}), "");
  EXPECT_TRUE(updates(*core0, {flag(kOn, 0x1, 55)}));
  EXPECT_EQ(fds(), open);
}

TEST_F(RelayTest, TerminalsThatWouldBlockOrHaveLostTheirReader) {
  auto core0 = core(0);
  const std::string fifo = d().dir() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // No reader: the open fails at once instead of waiting for one.
  EXPECT_EQ(relay(on(2, 0, fifo)), "");
  EXPECT_TRUE(has(d().err(), "open vty failed: No such device or address\n"));
  EXPECT_EQ(map(), Lines{});
  // With a reader the row is stored and the listing written to the FIFO.
  client::Fd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  relay(on(2, 0, fifo));
  EXPECT_EQ(map(), Lines{row(99, 0x1, 55, 0, fifo)});
  relay(show(fifo));
  const std::string listing = "Current vty(" + fifo + "):\n\tdebug nivo ipstack eth port 1\n";
  char got[256] = {};
  EXPECT_EQ(::read(reader.fd, got, sizeof got), static_cast<ssize_t>(listing.size()));
  EXPECT_EQ(std::string(got), listing);
  // A FIFO that is full: the listing is not written, and the daemon goes on.
  client::Fd filler(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  std::vector<char> block(4096, 'f');
  while (::write(filler.fd, block.data(), block.size()) > 0) {
  }
  EXPECT_EQ(relay(show(fifo)), "");
  // The reader goes: the listing comes back in the reply, no SIGPIPE.
  reader.reset();
  EXPECT_EQ(relay(show(fifo)), "      vty(" + fifo + "):\n\tdebug nivo ipstack eth port 1\n");
  relay(off(2, 0, fifo));
  EXPECT_TRUE(fds_of(d().proc->pid(), fifo).empty());

  // A terminal whose output is stopped, then closed on both sides.
  std::string path;
  {
    Pty t;
    path = t.path;
    relay(on(2, 0, path));
    ASSERT_EQ(::tcflow(t.slave, TCOOFF), 0);
    EXPECT_EQ(relay(show(path)), "") << "the daemon hangs on a stopped terminal";
    ASSERT_EQ(::tcflow(t.slave, TCOON), 0);
  }
  const std::string text = relay(show(path));
  EXPECT_TRUE(text.empty() || text == "      vty(" + path + "):\n\tdebug nivo ipstack eth port 1\n") << text;
  relay(off(2, 0, path));
  EXPECT_TRUE(fds_of(d().proc->pid(), path).empty());
  EXPECT_TRUE(d().proc->running());
}

TEST_F(RelayTest, DppCoreThatIsDownOrNotReading) {
  const std::string term = d().dir() + "/term", failed = "updateDebugFlagOnSibyte : sendto failed, retval: -1\n";
  touch(term);
  relay(on(2, 3, term));  // core 3 has no endpoint: reported, the rest holds
  EXPECT_EQ(last(), request_line(3, 2, 0, term) + failed + row(99, 0x1, 55, 3, term) + "\n");
  relay(off(2, 3, term));
  EXPECT_TRUE(has(last(), failed));
  // A core that does not read: once its queue is full, updates fail (never
  // block), and each is either queued or reported.
  auto core2 = core(2);
  const std::size_t before = count_of(d().out(), failed);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(relay(i % 2 ? off(2, 2, term) : on(2, 2, term)), "") << i;
  const std::size_t lost = count_of(d().out(), failed) - before;
  EXPECT_GE(lost, 1u);
  EXPECT_EQ(lost + core2->drain().size(), 40u);
  relay(on(2, 2, term));
  EXPECT_TRUE(updates(*core2, {flag(kOn, 0x1, 55)}));
}

TEST_F(RelayTest, NoDescriptorLeaksAfterThousandsOfCycles) {
  Pty a;
  auto core0 = core(0);
  const std::string nowhere = d().dir() + "/no/tty";
  const std::size_t at_start = fds();
  std::size_t messages = 0, updates = 0, received = 0;
  auto send = [&](const Buf& payload) {
    ++messages;
    return client::request(p(), kSap, 1, payload, kWait).has_value();
  };
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(send(on(2, 0, a.path)));
    if (i % 200 == 0) {
      ASSERT_EQ(fds(), at_start + 1) << i;
      ASSERT_TRUE(send(show(a.path)) && send(show(nowhere)) && send(on(4, 0, nowhere)));
      ++updates;
    }
    ASSERT_TRUE(send(off(2, 0, a.path)));
    updates += 2;
    received += core0->drain().size();
  }
  settle(messages);
  EXPECT_EQ(received + core0->drain().size(), updates);
  EXPECT_EQ(fds(), at_start);
}

}  // namespace
}  // namespace e2e
