// What the relay sends out: the exact FlagUpdateMsg a DPP core receives for
// plain, name-filtered and fenk-filtered commands, and the listing of the
// active commands, on the asking terminal or in the reply.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/relay_e2e_support.h"

namespace e2e::relay {
namespace {

using namespace std::chrono_literals;

std::optional<client::XipcFrame> only_update(client::FakeDppEndpoint& dpp) {
  auto got = dpp.drain();
  if (got.size() != 1) {
    ADD_FAILURE() << got.size() << " frames at core " << dpp.where.core << " instead of one";
    return std::nullopt;
  }
  return got[0];
}

// --- flag updates -------------------------------------------------------------

using RelayFlagTest = RelayTest;

TEST_F(RelayFlagTest, PortIsTheCoreAndUnfilteredCommandsCarryNoFilter) {
  Pty a;
  auto core0 = dpp(0);
  auto core5 = dpp(5);
  EXPECT_TRUE(is_empty_reply(ask(on_request(75, 5, a.path))));
  EXPECT_TRUE(is_update(only_update(*core5), flag_bytes(kOn, 0x2, 82)));
  EXPECT_TRUE(core0->drain().empty());
  EXPECT_EQ(printed_map(), std::vector<std::string>{row(99, 0x2, 82, 5, a.path)});

  // Command 103 shares row 102's bit but is no lrtp filter command: whatever
  // the request's bytes 116-127 hold, the update has sess_type 0.
  Buf req = on_request(103, 0, a.path);
  wire::put_u32(req, wire::debug_request::kFenk, 77);
  wire::put_u32(req, wire::debug_request::kInitFcid, 0x10203);
  wire::put_u32(req, wire::debug_request::kTargFcid, 0x40506);
  EXPECT_TRUE(is_empty_reply(ask(req)));
  EXPECT_TRUE(is_update(only_update(*core0), flag_bytes(kOn, 0x00800000, 83)));
  EXPECT_EQ(last_pass().find("QIT"), std::string::npos);
}

TEST_F(RelayFlagTest, NameFilterOfCommands25And33) {
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
      std::memcpy(r.tgt + 255, "z", 1);
      EXPECT_TRUE(is_empty_reply(ask(wire::encode_debug_request(r))));
      Buf expected = flag_bytes(off ? kOff : kOn, mask, 66);
      wire::put_u32(expected, wire::flag_update::kSessType, 1);
      wire::put_raw(expected, wire::flag_update::kInit, r.init, wire::flag_update::kNameSize);
      wire::put_raw(expected, wire::flag_update::kTgt, r.tgt, wire::flag_update::kNameSize);
      EXPECT_TRUE(is_update(only_update(*core1), expected)) << "command " << id << " off " << off;
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
    EXPECT_TRUE(is_update(only_update(*core1), flag_bytes(kOn, 0x1, 66)))
        << (empty_tgt ? "empty tgt" : "empty init");
    EXPECT_EQ(last_pass().find("Get parameter"), std::string::npos) << last_pass();
  }
}

struct FenkCase {
  std::int32_t id;
  std::uint32_t mask;
  std::uint32_t type;
};

TEST_F(RelayFlagTest, FenkFilterOfThePemraCommands) {
  Pty a;
  auto core0 = dpp(0);
  const std::vector<FenkCase> cases = {
      {92, 0x00100000, 1},  {99, 0x00400000, 2},  {100, 0x01000000, 2}, {101, 0x02000000, 2},
      {102, 0x00800000, 2}, {109, 0x04000000, 3}, {110, 0x08000000, 3}, {111, 0x20, 4},
      {112, 0x20, 4},       {113, 0x40, 4},       {114, 0x80, 4},       {115, 0x100, 4},
      {116, 0x400, 4},      {117, 0x800, 4},      {118, 0x1000, 4},     {119, 0x2000, 4},
      {120, 0x4000, 4}};
  for (const auto& c : cases) {
    auto r = make_request(c.id, 0, false, a.path);
    r.fenk = 1000 + c.id;
    r.init_fcid = 0x010200 + c.id;
    r.targ_fcid = 0xA0B000 + c.id;
    Buf req = wire::encode_debug_request(r);
    wire::put_u32(req, wire::debug_request::kInit, 0xDEADBEEF);  // bytes 112-115: not read
    EXPECT_TRUE(is_empty_reply(ask(req)));
    EXPECT_TRUE(is_update(only_update(*core0),
                          fenk_flag_bytes(kOn, c.mask, c.type, r.fenk, r.init_fcid, r.targ_fcid)))
        << "command " << c.id;
    char qit[160];
    std::snprintf(qit, sizeof qit,
                  "getParameterFromRequest sess_type: 2 type: 2 QIT: [%u 0x%x 0x%x]", r.fenk,
                  r.init_fcid, r.targ_fcid);
    if (c.type == 2)
      EXPECT_TRUE(has_line(last_pass(), qit)) << "command " << c.id << "\n" << last_pass();
    else
      EXPECT_EQ(last_pass().find("QIT"), std::string::npos) << "command " << c.id;
  }

  // The fenk number is printed signed; the off-update carries the request's
  // filter as the on-update does.
  auto r = make_request(101, 0, true, a.path);
  r.fenk = 0xFFFFFFFE;
  r.init_fcid = 0xFFFFFF;
  r.targ_fcid = 0x1;
  EXPECT_TRUE(is_empty_reply(ask(wire::encode_debug_request(r))));
  EXPECT_TRUE(is_update(only_update(*core0),
                        fenk_flag_bytes(kOff, 0x02000000, 2, 0xFFFFFFFE, 0xFFFFFF, 0x1)));
  EXPECT_TRUE(
      has_line(last_pass(), "getParameterFromRequest sess_type: 2 type: 2 QIT: [-2 0xffffff 0x1]"))
      << last_pass();
}

// --- the listing ----------------------------------------------------------------

std::string escaped(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// The pattern of one listed command: the one-based port fills the format's
// first conversion; what a four-conversion format shows after it (the map
// keeps no fenk number or FC ids) is only required to be numbers.
std::string command_pattern(std::string format, int port) {
  std::string out;
  bool first = true;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      char conv = format[++i];
      out += first ? std::to_string(port) : conv == 'x' ? "[0-9a-f]+" : "-?[0-9]+";
      first = false;
    } else {
      out += escaped(std::string(1, format[i]));
    }
  }
  return out;
}

std::string lines(const std::vector<std::string>& formats, int port) {
  std::string out;
  for (const auto& f : formats) out += command_pattern(f, port);
  return out;
}

TEST_F(RelayFlagTest, ListingOnTheTerminalWithCurrentAndOtherHeaders) {
  Pty a, b;
  auto core0 = dpp(0), core1 = dpp(1), core2 = dpp(2), core5 = dpp(5);
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, a.path))));   // row 99
  ASSERT_TRUE(is_empty_reply(ask(on_request(63, 1, a.path))));  // row 98: crypto all
  ASSERT_TRUE(is_empty_reply(ask(on_request(42, 5, b.path))));  // row 97: 0x6 of fcip
  ASSERT_TRUE(is_empty_reply(ask(on_request(98, 0, b.path))));  // row 96: adap all
  ASSERT_TRUE(is_empty_reply(ask(on_request(40, 2, a.path))));  // row 95: rexmt = row 19's bit
  for (auto* c : {&core0, &core1, &core2, &core5}) (*c)->drain();

  auto expected = [&](const std::string& viewer) {
    auto header = [&](const std::string& vty) {
      return escaped((vty == viewer ? "Current vty(" : "Other vty(") + vty + "):\n");
    };
    return header(a.path) + lines({"\tdebug nivo ipstack tcp port %d sack\n"}, 3) + header(b.path) +
           lines(
               {"\tdebug pemra adap i-t-nexus dpp %d\n",
                "\tdebug pemra adap i-t-nexus-fsm dpp %d\n", "\tdebug pemra adap qit-hash dpp %d\n",
                "\tdebug pemra adap xipc-flow dpp %d\n", "\tdebug pemra adap pkt-flow dpp %d\n",
                "\tdebug pemra lrtp fenk %d init_fcid %x targ_fcid %x pkt-flow dpp %d\n",
                "\tdebug pemra lrtp fenk %d init_fcid %x targ_fcid %x ctl dpp %d\n"},
               1) +
           header(b.path) + lines({"\tdebug nivo fcip ctlpkt port %d\n"}, 6) + header(a.path) +
           lines(
               {"\tdebug nivo crypto flow port %d\n", "\tdebug nivo crypto ipsec port %d\n",
                "\tdebug nivo crypto error port %d\n", "\tdebug nivo crypto api port %d\n",
                "\tdebug nivo crypto exc port %d\n", "\tdebug nivo crypto ipsec-detail port %d\n"},
               2) +
           header(a.path) + lines({"\tdebug nivo ipstack eth port %d\n"}, 1);
  };

  for (Pty* viewer : {&a, &b}) {
    const std::regex listing(expected(viewer->path));
    EXPECT_TRUE(is_empty_reply(ask(show_request(viewer->path))));
    std::string got =
        viewer->read_until([&](const std::string& s) { return std::regex_match(s, listing); });
    EXPECT_TRUE(std::regex_match(got, listing)) << "read:\n" << got;
    // A listing sends nothing to any DPP, prints no request line, and the map
    // print still follows it.
    for (auto* c : {&core0, &core1, &core2, &core5}) EXPECT_TRUE((*c)->drain().empty());
    EXPECT_EQ(last_pass().find("processVESKreq:***"), std::string::npos);
    EXPECT_EQ(printed_map().size(), 5u);
  }
}

TEST_F(RelayFlagTest, EmptyMapListsNothing) {
  Pty a;
  auto core0 = dpp(0);
  EXPECT_TRUE(is_empty_reply(ask(show_request(a.path))));
  EXPECT_EQ(printed_map(), std::vector<std::string>{});
  // The next listing's text is the first thing on the terminal.
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, a.path))));
  EXPECT_TRUE(is_empty_reply(ask(show_request(a.path))));
  const std::string want = "Current vty(" + a.path + "):\n\tdebug nivo ipstack eth port 1\n";
  EXPECT_EQ(a.read(want.size()), want);
}

TEST_F(RelayFlagTest, ListingGoesIntoTheReplyWhenTheTerminalCannotBeOpened) {
  Pty a;
  const std::string file = dir() + "/plain-file";
  touch(file);
  // 99 characters: its terminal piece is longer than 99 and is cut there.
  const std::string longest = dir() + "/" + std::string(99 - dir().size() - 1, 'L');
  touch(longest);
  auto core0 = dpp(0), core3 = dpp(3);
  ASSERT_TRUE(is_empty_reply(ask(on_request(2, 0, a.path))));     // row 99: 0x1
  ASSERT_TRUE(is_empty_reply(ask(on_request(4, 0, a.path))));     //   ... 0x5
  ASSERT_TRUE(is_empty_reply(ask(on_request(41, 3, file))));      // row 98
  ASSERT_TRUE(is_empty_reply(ask(on_request(103, 0, longest))));  // row 97
  core0->drain();
  core3->drain();

  const std::string nowhere = dir() + "/no-such-dir/tty";
  auto reply = ask(show_request(nowhere));
  ASSERT_TRUE(is_reply(reply));
  // Pieces of at most 99 characters, one after the other, NUL-terminated;
  // every byte after the text is zero.
  const std::string cut = ("      vty(" + longest + "):\n").substr(0, 99);
  const std::regex want(
      escaped(cut) +
      command_pattern("\tdebug pemra lrtp fenk %d init_fcid %x targ_fcid %x ctl dpp %d\n", 1) +
      escaped("      vty(" + file + "):\n\tdebug nivo fcip ctlpkt port 4\n" + "      vty(" +
              a.path + "):\n\tdebug nivo ipstack eth port 1\n" + "      vty(" + a.path +
              "):\n\tdebug nivo ipstack arp port 1\n"));
  auto text = reply_text(*reply);
  ASSERT_TRUE(text);
  EXPECT_TRUE(std::regex_match(*text, want)) << *text;
  for (std::size_t i = text->size(); i < kReplySize; ++i)
    ASSERT_EQ(reply->payload[i], 0) << "reply byte " << i;
  EXPECT_FALSE(client::path_exists(nowhere));
  EXPECT_TRUE(core0->drain().empty());
  EXPECT_TRUE(core3->drain().empty());
  ASSERT_TRUE(is_empty_reply(ask(off_request(103, 0, longest))));

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
