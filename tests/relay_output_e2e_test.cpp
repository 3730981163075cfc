// What the relay sends out: the exact FlagUpdateMsg a DPP core receives for
// plain, name-filtered and fenk-filtered commands, and the listing of the
// active commands, on the asking terminal or in the reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/relay_e2e_support.h"

namespace e2e::relay {
namespace {

using RelayOutputTest = RelayTest;

TEST_F(RelayOutputTest, PortIsTheCoreAndUnfilteredCommandsCarryNoFilter) {
  Pty a;
  auto core0 = dpp(0);
  auto core5 = dpp(5);
  EXPECT_TRUE(is_empty_reply(ask(on_request(75, 5, a.path))));
  expect_updates(*core5, {flag_bytes(kOn, 0x2, 82)});
  expect_updates(*core0, {});
  EXPECT_EQ(printed_map(), Lines{row(99, 0x2, 82, 5, a.path)});

  // Command 103 shares row 102's bit but carries no filter, and names are
  // read only for 25 and 33: whatever the request's filter bytes hold, the
  // update has sess_type 0.
  auto r = make_request(103, 0, false, a.path);
  std::memcpy(r.init, "iqn.i", 5);
  std::memcpy(r.tgt, "iqn.t", 5);
  Buf req = wire::encode_debug_request(r);
  wire::put_u32(req, wire::debug_request::kFenk, 77);
  wire::put_u32(req, wire::debug_request::kInitFcid, 0x10203);
  wire::put_u32(req, wire::debug_request::kTargFcid, 0x40506);
  EXPECT_TRUE(is_empty_reply(ask(req)));
  expect_updates(*core0, {flag_bytes(kOn, 0x00800000, 83)});
  EXPECT_EQ(last_pass().find("getParameterFromRequest"), std::string::npos) << last_pass();
}

TEST_F(RelayOutputTest, NameFilterOfCommands25And33) {
  Pty a;
  auto core1 = dpp(1);
  const std::string init = "iqn.1991-05.com.example:initiator";
  const std::string tgt = "iqn.1991-05.com.example:target-7";
  for (auto [id, mask] : {std::pair{25, 0x1u}, std::pair{33, 0x200u}}) {
    for (bool off : {false, true}) {
      auto r = make_request(id, 1, off, a.path);
      std::memcpy(r.init, init.c_str(), init.size());
      std::memcpy(r.tgt, tgt.c_str(), tgt.size());
      // The whole 256-byte fields travel, also what follows a name's NUL.
      std::memcpy(r.init + 200, "after-nul", 9);
      r.tgt[255] = 'z';
      EXPECT_TRUE(is_empty_reply(ask(wire::encode_debug_request(r))));
      Buf expected = flag_bytes(off ? kOff : kOn, mask, 66);
      wire::put_u32(expected, wire::flag_update::kSessType, 1);
      wire::put_raw(expected, wire::flag_update::kInit, r.init, wire::flag_update::kNameSize);
      wire::put_raw(expected, wire::flag_update::kTgt, r.tgt, wire::flag_update::kNameSize);
      SCOPED_TRACE("command " + std::to_string(id) + (off ? " off" : " on"));
      expect_updates(*core1, {expected});
      EXPECT_TRUE(has_line(last_pass(),
                           "getParameterFromRequest: Get parameter init " + init + ", tgt " + tgt))
          << last_pass();
    }
  }

  // Either name empty: no filter, no names copied, no diagnostic.
  for (bool empty_tgt : {true, false}) {
    auto r = make_request(25, 1, false, a.path);
    std::memcpy(empty_tgt ? r.init : r.tgt, init.c_str(), init.size());
    std::memcpy((empty_tgt ? r.tgt : r.init) + 1, "hidden", 6);  // behind a leading NUL
    EXPECT_TRUE(is_empty_reply(ask(wire::encode_debug_request(r))));
    SCOPED_TRACE(empty_tgt ? "empty tgt" : "empty init");
    expect_updates(*core1, {flag_bytes(kOn, 0x1, 66)});
    EXPECT_EQ(last_pass().find("Get parameter"), std::string::npos) << last_pass();
  }
}

TEST_F(RelayOutputTest, FenkFilterOfThePemraCommands) {
  Pty a;
  auto core0 = dpp(0);
  const struct {
    std::int32_t id;
    std::uint32_t mask, type;
  } cases[] = {{92, 0x00100000, 1},  {99, 0x00400000, 2},  {100, 0x01000000, 2},
               {101, 0x02000000, 2}, {102, 0x00800000, 2}, {109, 0x04000000, 3},
               {110, 0x08000000, 3}, {111, 0x20, 4},       {112, 0x20, 4},
               {113, 0x40, 4},       {114, 0x80, 4},       {115, 0x100, 4},
               {116, 0x400, 4},      {117, 0x800, 4},      {118, 0x1000, 4},
               {119, 0x2000, 4},     {120, 0x4000, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE("command " + std::to_string(c.id));
    // Command 101 goes off, with a fenk number that is printed signed.
    const bool off = c.id == 101;
    auto r = make_request(c.id, 0, off, a.path);
    r.fenk = off ? 0xFFFFFFFE : 1000 + c.id;
    r.init_fcid = 0x010200 + c.id;
    r.targ_fcid = 0xA0B000 + c.id;
    Buf req = wire::encode_debug_request(r);
    wire::put_u32(req, wire::debug_request::kInit, 0xDEADBEEF);  // bytes 112-115: not read
    EXPECT_TRUE(is_empty_reply(ask(req)));
    Buf expected = flag_bytes(off ? kOff : kOn, c.mask, 83);
    wire::put_u32(expected, wire::flag_update::kSessType, 2);
    wire::put_u32(expected, wire::flag_update::kType, c.type);
    wire::put_u32(expected, wire::flag_update::kFenk, r.fenk);
    wire::put_u32(expected, wire::flag_update::kInitFcid, r.init_fcid);
    wire::put_u32(expected, wire::flag_update::kTargFcid, r.targ_fcid);
    expect_updates(*core0, {expected});
    char qit[160];
    std::snprintf(qit, sizeof qit, "getParameterFromRequest sess_type: 2 type: 2 QIT: [%d 0x%x 0x%x]",
                  static_cast<std::int32_t>(r.fenk), r.init_fcid, r.targ_fcid);
    if (c.type == 2)
      EXPECT_TRUE(has_line(last_pass(), qit)) << last_pass();
    else
      EXPECT_EQ(last_pass().find("QIT"), std::string::npos);
  }
}

TEST_F(RelayOutputTest, ListingOnTheTerminalWithCurrentAndOtherHeaders) {
  Pty a, b;
  auto core0 = dpp(0), core2 = dpp(2);
  // An empty map lists nothing: what the terminal shows later is all there is.
  EXPECT_TRUE(is_empty_reply(ask(show_request(a.path))));
  EXPECT_EQ(printed_map(), Lines{});

  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, a.path))));   // row 99
  ASSERT_TRUE(is_empty_reply(ask(on_request(98, 0, b.path))));  // row 98: adap all
  ASSERT_TRUE(is_empty_reply(ask(on_request(40, 2, a.path))));  // row 97: row 19's bit
  core0->drain();
  core2->drain();

  auto expected = [&](const std::string& viewer) {
    auto header = [&](const std::string& vty) {
      return (vty == viewer ? "Current vty(" : "Other vty(") + vty + "):\n";
    };
    return header(a.path) + "\tdebug nivo ipstack tcp port 3 sack\n" + header(b.path) +
           "\tdebug pemra adap i-t-nexus dpp 1\n\tdebug pemra adap i-t-nexus-fsm dpp 1\n"
           "\tdebug pemra adap qit-hash dpp 1\n\tdebug pemra adap xipc-flow dpp 1\n"
           "\tdebug pemra adap pkt-flow dpp 1\n"
           "\tdebug pemra lrtp fenk 1 init_fcid 0 targ_fcid 0 pkt-flow dpp 0\n"
           "\tdebug pemra lrtp fenk 1 init_fcid 0 targ_fcid 0 ctl dpp 0\n" +
           header(a.path) + "\tdebug nivo ipstack eth port 1\n";
  };
  for (Pty* viewer : {&a, &b}) {
    EXPECT_TRUE(is_empty_reply(ask(show_request(viewer->path))));
    const std::string want = expected(viewer->path);
    EXPECT_EQ(viewer->read_until(want), want);
    // A listing sends nothing to any DPP, prints no request line, and the map
    // print still follows it.
    expect_updates(*core0, {});
    expect_updates(*core2, {});
    EXPECT_EQ(last_pass().find("processVESKreq:***"), std::string::npos);
    EXPECT_EQ(printed_map().size(), 3u);
  }
}

TEST_F(RelayOutputTest, ListingGoesIntoTheReplyWhenTheTerminalCannotBeOpened) {
  Pty a;
  const std::string file = dir() + "/plain-file";
  touch(file);
  auto core0 = dpp(0), core3 = dpp(3);
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, a.path))));     // row 99: 0x1
  ASSERT_TRUE(is_empty_reply(ask(on_request(4, 0, a.path))));     //   ... 0x5
  ASSERT_TRUE(is_empty_reply(ask(on_request(41, 3, file))));      // row 98
  core0->drain();
  core3->drain();

  const std::string nowhere = dir() + "/no-such-dir/tty";
  auto reply = ask(show_request(nowhere));
  ASSERT_TRUE(is_reply(reply));
  // The pieces one after the other, NUL-terminated.
  auto text = reply_text(*reply);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "      vty(" + file + "):\n\tdebug nivo fcip ctlpkt port 4\n" +
                       "      vty(" + a.path + "):\n\tdebug nivo ipstack eth port 1\n" +
                       "      vty(" + a.path + "):\n\tdebug nivo ipstack arp port 1\n");
  EXPECT_FALSE(client::path_exists(nowhere));

  // A path that does not exist yet in a directory that does is opened as a
  // stream in append mode: created, and the listing goes there.
  const std::string fresh = dir() + "/fresh-listing";
  EXPECT_TRUE(is_empty_reply(ask(show_request(fresh))));
  EXPECT_EQ(client::read_file(fresh),
            "Other vty(" + file + "):\n\tdebug nivo fcip ctlpkt port 4\n" + "Other vty(" + a.path +
                "):\n\tdebug nivo ipstack eth port 1\n\tdebug nivo ipstack arp port 1\n");
}

}  // namespace
}  // namespace e2e::relay
