// The DPP debug log manager from outside: its start and start-up failures,
// conversations of SET_DEBUG, show and DPP notifications with what each step
// prints and the exact DppFlagMsg it sends, the intake of DPP datagrams into
// the debug facility, and the per-DPP log files.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "tests/support.h"
#include "wire/dpp_flag_msg.h"
#include "wire/dpp_log_msg.h"
#include "wire/dpp_notify.h"
#include "wire/set_debug_request.h"

namespace e2e {
namespace {

using Filters = std::array<std::uint32_t, 4>;
const std::string kHead = "\nDebug level: 6 (INFO)\n\nDPP instances: ";
const std::string kAdd = "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n";
constexpr std::uint32_t kManagerOpcodes[] = {7522, 7521, 7571, 7572, 7573, 3102};

Buf set(wire::SetDebugRequest r) {
  if (r.name.empty() && r.type != 4) r.name = "/dev/null";
  return wire::encode_set_debug(r);
}
Buf category(std::uint8_t on, std::uint8_t flag, Filters f = {}, std::string_view name = {}) {
  return set({.type = 1, .on = on, .flag = flag, .filters = f, .name = name});
}
Buf dpp_map(std::uint8_t on, std::uint32_t mask, std::uint8_t all = 0) {
  return set({.type = 2, .on = on, .all = all, .dpp_mask = mask, .name = {}});
}
Buf level(std::uint8_t l) { return set({.type = 3, .level = l, .name = {}}); }
Buf files(std::uint8_t on, std::string_view name = "dbg") {
  return set({.type = 4, .on = on, .name = name});
}
Buf feature_rqst(std::uint32_t feature, std::vector<std::uint8_t> dpps) {
  wire::DnldFeatureRqst r{.feature = feature, .count = static_cast<std::uint8_t>(dpps.size())};
  std::copy(dpps.begin(), dpps.end(), r.dpps.begin());
  return wire::encode_feature_rqst(r);
}
Buf feature_done(std::uint32_t feature, std::vector<wire::DnldFeatureEntry> entries) {
  wire::DnldFeatureComplete c{.feature = feature,
                              .count = static_cast<std::uint8_t>(entries.size())};
  std::copy(entries.begin(), entries.end(), c.entries.begin());
  return wire::encode_feature_complete(c);
}
// The lines of one broadcast: "Sending flag" for each DPP given.
std::string sending(std::uint32_t flags, int level, std::vector<int> dpps) {
  std::string out;
  char line[96];
  for (int n : dpps)
    out += (std::snprintf(line, sizeof line,
                          "DPPDEBUG_MGR_INFO: Sending flag 0x%X level %d to DPP %d\n", flags, level,
                          n),
            line);
  return out;
}
std::string setting(int flag, int map) {
  return "\n setting flags cur_flag:" + std::to_string(flag) + " dppmap:" + std::to_string(map);
}
// The DppFlagMsg with these flags, level and filter blocks (category, words).
Buf flag_msg(std::uint32_t flags, std::uint8_t level,
             const std::vector<std::pair<int, Filters>>& blocks = {}) {
  wire::DppFlagMsg m{.num_categories = 29, .level = level, .flags = flags, .filters = {}};
  for (const auto& [cat, words] : blocks) m.filters[cat - 1] = words;
  auto b = wire::encode_dpp_flag(m);
  return {b.begin(), b.end()};
}
std::string logfile(int dpp, std::string_view name, std::size_t lines, std::size_t size) {
  return "DPP-" + std::to_string(dpp) + " logfile: " + std::string(name) +
         " (line#: " + std::to_string(lines) + ", size: " + std::to_string(size) + ")\n";
}

// One step of a conversation: the behaviour it shows (empty: the one of the
// step before), a message to the manager, what it must print (for the show
// request: the report), and the DPPs (bit n-1 for DPP n) that each get `msg`
// once in answer; every other DPP gets nothing.
struct Step {
  std::string what;
  std::uint32_t opcode;
  Buf payload;
  std::string out;
  std::uint32_t to = 0;
  Buf msg = {};
};
Step report(std::string text) { return {"", 5001, {}, std::move(text)}; }

class LogTest : public DaemonTest {
 protected:
  // A SET_DEBUG, answered with its empty reply under its opcode and tag;
  // what the daemon printed for it.
  std::string set_debug(const Buf& payload) {
    auto r = ask(5000, payload, 0x5E7D);
    EXPECT_TRUE(r && r->header == wire::kReplyHeaderBytes && r->opcode == 5000 &&
                r->tag == 0x5E7D && r->payload.empty());
    return last();
  }
  // The show report (which also writes every open log file's buffer out).
  std::string show() {
    auto r = ask(5001, {}, 77);
    if (!r || r->payload.empty() || r->payload.back() != 0 || r->opcode != 5001 || r->tag != 77)
      return "<no report>";
    std::string text(r->payload.begin(), r->payload.end() - 1);
    return text.find('\0') == text.npos ? text : "<NUL inside>";
  }
  // Binds the log services (module 66 at core 4 x (n-1)) of the DPPs in mask.
  Before dpps(std::uint32_t mask = 0xF) {
    return [this, mask](const client::PlatformDir& p) {
      for (int i = 0; i < 4; ++i)
        if (mask & 1u << i)
          dpp[i] = std::make_unique<client::FakeDppEndpoint>(
              p, client::XipcEndpoint{static_cast<std::uint16_t>(4 * i), 66, 0});
    };
  }
  ::testing::AssertionResult got(std::uint32_t to, const Buf& msg, std::size_t times = 1) {
    auto result = ::testing::AssertionSuccess();
    for (int n = 1; n <= 4; ++n) {
      if (!dpp[n - 1]) continue;
      auto ok = got_frames(*dpp[n - 1], 33, std::vector(to >> (n - 1) & 1 ? times : 0, msg));
      if (!ok && result)
        result = ::testing::AssertionFailure() << ok.message() << " (DPP " << n << ")";
    }
    return result;
  }
  // Starts a four-DPP daemon whose DPP services are bound before it runs.
  void start_with_dpps() {
    start({}, dpps());
    EXPECT_TRUE(got(0xF, flag_msg(0, 6)));
  }
  void converse(const std::vector<Step>& steps) {
    for (std::string what; const Step& s : steps) {
      SCOPED_TRACE(what = s.what.empty() ? what : s.what);
      if (s.opcode == 5000)
        set_debug(s.payload);
      else if (s.opcode == 5001)
        last_ = show();
      else
        notify(s.opcode, s.payload);
      EXPECT_EQ(last(), s.out);
      EXPECT_TRUE(got(s.to, s.msg));
    }
  }
  void record(std::uint16_t core, std::string_view text) {
    from_dpp(core, 7, wire::encode_dpp_log(0, 5, {}, text));
  }
  std::string file(std::string_view name) {
    return client::fs_path(p(), "/cpp/plinder_dpp_logs/" + std::string(name));
  }
  std::string link(std::string_view name) {
    return client::fs_path(p(), "/var/log/external/" + std::string(name));
  }
  Lines facility() { return client::dbgfac_log_lines(p()); }
  bool registered(std::uint32_t opcode) {
    return client::path_exists(client::vesk_reg_path(p(), opcode, kSap));
  }

  std::array<std::unique_ptr<client::FakeDppEndpoint>, 4> dpp;
};

// --- start-up ------------------------------------------------------------------

// The category table's check, rows 3 and 4 announcing the categories they
// override; then `tail`: all that the daemon prints after its XIPC line.
std::string start_lines(const std::string& tail) {
  std::string out;
  for (int n = 1; n <= 29; ++n)
    out += (n == 3 || n == 4 ? "DPPDEBUG_MGR_INFO: " + std::to_string(n - 2) +
                                   " is overridden by " + std::to_string(n) + "\n"
                             : "") +
           "DPPDEBUG_MGR_INFO: flag " + std::to_string(n) + " is OK\n";
  return out + tail + std::string(kReady) + "\n";
}

// The start: every DPP of the card is told "no category" once (DPP 3 has no
// service: its send fails, the next goes on), and six opcodes are registered.
// Without a log directory, or when the debug facility fails after the
// registrations (the manager's release then takes the daemon's handle, which
// is bound again for 922), the daemon serves on without a manager: requests
// are answered, nothing reaches a DPP or a file, records go to the facility.
TEST_F(LogTest, StartAndAStartWithoutAManager) {
  const std::string bound = "DPPDEBUG_MGR_INFO: vesk bind successful\n";
  const struct {
    const char* fail;
    std::string tail, err;
  } cases[] = {
      {"", bound + "DPPDEBUG_MGR_DBG: Initializing xipc address\n" + sending(0, 6, {1, 2, 4}),
       "send xipc message: No such file or directory\n"},
      {"fs_mkdir", "DPPDEBUG_MGR_INFO: Unable to Create DPP Debug log dir\n", ""},
      {"dbgfac_init", bound + "Bound to SAP: 930\n", ""}};
  for (const auto& c : cases) {
    start(Options().fail(c.fail), dpps(0xB));
    const bool manager = *c.fail == '\0';
    const std::string out = d().out();
    EXPECT_EQ(out.substr(out.find('\n', out.find("Created socket : ")) + 1), start_lines(c.tail));
    EXPECT_EQ(d().err(), c.err);
    EXPECT_TRUE(got(manager ? 0xB : 0, flag_msg(0, 6)));
    EXPECT_TRUE(registered(922));
    for (std::uint32_t op : kManagerOpcodes) EXPECT_EQ(registered(op), manager) << op;
    EXPECT_FALSE(registered(5000) || registered(5001));
    if (manager) continue;
    set_debug(category(1, 5));
    set_debug(dpp_map(1, 0, 1));
    set_debug(level(7));
    set_debug(files(1));
    tell(7521, wire::encode_dpp_index(0));
    EXPECT_EQ(show(), "\nDebug level: 7 (DEBUG)\n\nDPP instances: \n\nmemory management is on\n");
    record(0, "to the facility");
    EXPECT_EQ(facility(), Lines{"[DPP1] mem: to the facility"});
    EXPECT_FALSE(client::path_exists(file("dbg.1")));
    EXPECT_TRUE(got(0, {}));
  }
}

TEST_F(LogTest, EachRegistrationFailureEndsTheProcess) {
  const char* names[] = {"DPP_DOWN",
                         "DPP_UP",
                         "DPP_DNLD_NEW_FEATURE_RQST",
                         "DPP_DNLD_NEW_FEATURE_COMPLETE",
                         "DPP_DNLD_NEW_FEATURE_FAILED",
                         "VESK_OPC_CLOCK_SET_TIMEZONE_NOTIF"};
  for (int i = 0; i < 6; ++i) {
    Daemon d(Options().fail("vesk_options_set:" + std::to_string(kManagerOpcodes[i])));
    EXPECT_EQ(d.wait_exit(), 255);
    EXPECT_EQ(d.err(), std::string("Unable to regiser ") + names[i] + ": Input/output error\n");
    EXPECT_TRUE(d.out().ends_with("DPPDEBUG_MGR_INFO: flag 29 is OK\n")) << d.out();
    for (int j = 0; j <= i; ++j)  // those before it were made, in order
      EXPECT_EQ(client::path_exists(client::vesk_reg_path(d.p, kManagerOpcodes[j], kSap)), j < i);
  }
}

// --- conversations --------------------------------------------------------------

TEST_F(LogTest, CategoriesOverridesFiltersAndTheReport) {
  start_with_dpps();
  const Filters f{1, 0, 0, 0x10}, g{0x80000000u, 0, 7, 0xFFFFFFFF};
  const std::string f_lines = "    filter 1 is 0x00000001 (1)\n    filter 4 is 0x00000010 (16)\n";
  const std::string zero = "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/zero\n";
  const std::string g_lines =
      "    filter 1 is 0x80000000 (-2147483648)\n    filter 3 is 0x00000007 (7)\n"
      "    filter 4 is 0xFFFFFFFF (-1)\n";
  const std::string over = "DPPDEBUG_MGR_INFO: Overriding flag 1 filters by 3\n" + kAdd;
  // A SET_DEBUG that sends `flags` with these filter blocks to DPPs 1 and 3.
  auto sends = [](std::string what, Buf payload, std::string out, std::uint32_t flags,
                  std::vector<std::pair<int, Filters>> blocks = {}) {
    out += setting(static_cast<int>(flags), 5) + sending(flags, 6, {1, 3});
    return Step{what, 5000, std::move(payload), std::move(out), 0x5, flag_msg(flags, 6, blocks)};
  };
  // clang-format off
  converse({
      {"a map change while no category is on sends nothing",
       5000, dpp_map(1, 0x5), "DPPDEBUG_MGR_INFO: new dppmap: 5\ndppmap is set:5" + kAdd},
      sends("category 3 brings the one it overrides, with the same filters",
            category(1, 3, f), over, 5, {{1, f}, {3, f}}),
      report(kHead + "1 3 \n\nrx ipc message is on\n" + f_lines),
      sends("category 1 off while 3 stays on: only bit 0 goes, nothing is notified",
            category(0, 1), "", 4, {{3, f}}),
      report(kHead + "1 3 \n\nrx ipc message is on\n" + f_lines),
      sends("", category(1, 3, f), over, 5, {{1, f}, {3, f}}),
      sends("category 3 off takes the one it overrides with it", category(0, 3),
            "DPPDEBUG_MGR_INFO: Turning off flag 1 (overridden by 3\n", 0),
      sends("categories whose overrider is off are listed with their own filters",
            category(1, 2, g, "/dev/zero"), zero, 2, {{2, g}}),
      sends("", category(1, 29, g, "/dev/zero"), zero, 0x10000002, {{2, g}, {29, g}}),
      report(kHead + "1 3 \n\ntx ipc message header is on\n" + g_lines + "fsm is on\n" + g_lines),
      sends("all on: every category, every filter cleared",
            set({.type = 1, .on = 1, .all = 1, .name = {}}), kAdd, 0x1FFFFFFF),
      sends("all off keeps the filters, removes the terminal and sends flags 0",
            set({.type = 1, .all = 1, .name = "/dev/zero"}),
            "DPPDEBUG_MGR_INFO: Notifying syslogd to remove vty /dev/zero\n", 0),
      report(kHead + "1 3 \n\n"),
  });
  // clang-format on
  // Every category on with four filter words: the report is cut at 4095
  // characters (categories 1 and 2 are overridden).
  const Filters high{0x80000000u, 0x80000000u, 0x80000000u, 0x80000000u};
  for (int n = 1; n <= 29; ++n) set_debug(category(1, static_cast<std::uint8_t>(n), high));
  std::string words;
  for (int w = 1; w <= 4; ++w)
    words += "    filter " + std::to_string(w) + " is 0x80000000 (-2147483648)\n";
  const std::string cut = show();
  EXPECT_EQ(cut.size(), 4095u);
  EXPECT_TRUE(cut.starts_with(kHead + "1 3 \n\nrx ipc message is on\n" + words +
                              "tx ipc message is on\n" + words + "memory management is on\n"));
  EXPECT_EQ(client::dbgfac_vtys(p()), Lines{"/dev/null"});
}

TEST_F(LogTest, MapChangesLevelsAndRequestsThatChangeNothing) {
  start_with_dpps();
  const Filters f{0, 0, 0, 0x55};
  const std::string on = "DPPDEBUG_MGR_DBG: Turning on DPP map ",
                    off = "DPPDEBUG_MGR_DBG: Turning off DPP map ";
  // clang-format off
  converse({
      {"an empty map: nothing is sent", 5000, category(1, 12, f), kAdd + setting(0x800, 0)},
      {"a DPP added to the map gets the flags", 5000, dpp_map(1, 0x1),
       "DPPDEBUG_MGR_INFO: new dppmap: 1\n" + on + "1\n" + sending(0x800, 6, {1}) + off +
           "0\ndppmap is set:1" + kAdd,
       0x1, flag_msg(0x800, 6, {{12, f}})},
      {"", 5000, dpp_map(1, 0, 1),
       "DPPDEBUG_MGR_INFO: new dppmap: F\n" + on + "E\n" + sending(0x800, 6, {2, 3, 4}) + off +
           "0\ndppmap is set:15" + kAdd,
       0xE, flag_msg(0x800, 6, {{12, f}})},
      {"removing some sends them empty flags and notifies nothing", 5000, dpp_map(0, 0x6),
       "DPPDEBUG_MGR_INFO: new dppmap: 9\n" + on + "0\n" + off + "6\n" + sending(0, 6, {2, 3}) +
           "dppmap is set:9",
       0x6, flag_msg(0, 6)},
      {"bits beyond the card's DPPs change nothing", 5000, dpp_map(1, 0xF0),
       "DPPDEBUG_MGR_INFO: new dppmap: 9\ndppmap is set:9" + kAdd},
      {"the level goes to the map", 5000,
       set({.type = 3, .on = 1, .all = 1, .level = 7, .name = "/dev/full"}),
       "DPPDEBUG_MGR_INFO: Debug level changed to 7\n" + sending(0x800, 7, {1, 4}), 0x9,
       flag_msg(0x800, 7, {{12, f}})},
      {"a level above 7 is stored and sent unchanged", 5000, level(9),
       "DPPDEBUG_MGR_INFO: Debug level changed to 9\n" + sending(0x800, 9, {1, 4}),
       0x9, flag_msg(0x800, 9, {{12, f}})},
      report("\nDebug level: 9 (UNKNOWN)\n\nDPP instances: 1 4 \n\nvirtualization state "
                 "machine is on\n    filter 4 is 0x00000055 (85)\n"),
      {"level 0", 5000, level(0),
       "DPPDEBUG_MGR_INFO: Debug level changed to 0\n" + sending(0x800, 0, {1, 4}),
       0x9, flag_msg(0x800, 0, {{12, f}})},
      {"an unknown type is answered and changes nothing", 5000,
       set({.type = 9, .on = 1, .name = {}}), "DPPDEBUG_MGR_ERR: Unknown SET_DEBUG type 9\n\n"},
      {"", 5000, {}, "DPPDEBUG_MGR_ERR: Unknown SET_DEBUG type 0\n\n"},
      {"an unknown category is answered and changes nothing", 5000, category(1, 0, {1, 2, 3, 4}),
       "DPPDEBUG_MGR_ERR: Invalid flag 0 in SET_DEBUG, ignored\n"},
      {"", 5000, category(1, 30, {1, 2, 3, 4}),
       "DPPDEBUG_MGR_ERR: Invalid flag 30 in SET_DEBUG, ignored\n"},
      {"an empty map takes every DPP out", 5000, dpp_map(0, 0, 1),
       "DPPDEBUG_MGR_INFO: new dppmap: 0\n" + on + "0\n" + off + "9\n" + sending(0, 0, {1, 4}) +
           "dppmap is set:0DPPDEBUG_MGR_INFO: Notifying syslogd to remove vty /dev/null\n",
       0x9, flag_msg(0, 0)},
      report("\nDebug level: 0 (EMERG)\n\nDPP instances: \n\nvirtualization state machine is "
                 "on\n    filter 4 is 0x00000055 (85)\n"),
  });
  // clang-format on
  EXPECT_EQ(client::dbgfac_vtys(p()), Lines{});  // the level named no terminal
  // A rejected SET_DEBUG or show is neither handled nor answered; requests
  // without a reply address are handled all the same.
  tell(5000, set({.type = 1, .on = 1, .all = 1, .name = {}}), wire::vesk_frame::kFlagReject);
  tell(5001, {}, wire::vesk_frame::kFlagReject);
  EXPECT_EQ(last(), "");
  tell(5000, dpp_map(1, 0x3));
  tell(5001);
  EXPECT_EQ(last(), "\n Display output files map:3 flag:2048 plinder_dpps:15");
  EXPECT_TRUE(got(0x3, flag_msg(0x800, 0, {{12, f}})));
}

TEST_F(LogTest, UpDownAndFeatureDownloadsFollowTheStateTable) {
  start_with_dpps();
  constexpr std::uint32_t kOff = wire::kFeaturePlinderOff, kOther = 0x12345678;
  const Filters f{3, 0, 0, 0};
  const Buf flags = flag_msg(0x20, 6, {{6, f}});
  const std::string two = sending(0x20, 6, {2}), one = sending(0x20, 6, {1});
  const std::string logging = "1 2 3 \n\ndriver rx is on\n    filter 1 is 0x00000003 (3)\n";
  auto up = [](std::uint32_t d) { return wire::encode_dpp_index(d); };
  std::vector<std::uint8_t> high;  // indexes 255 down to 32 name no DPP
  for (int i = 255; i >= 32; --i) high.push_back(static_cast<std::uint8_t>(i));
  set_debug(category(1, 6, f));
  set_debug(dpp_map(1, 0x7));  // DPPs 1 to 3 mapped, 4 not
  EXPECT_TRUE(got(0x7, flags));
  // clang-format off
  converse({
      {"DPP 2 up gets the current flags, once", 7521, up(1), two, 0x2, flags},
      {"", 7521, up(1), ""},
      {"after a down, up gets them again", 7522, up(1), ""},
      {"", 7521, up(1), two, 0x2, flags},
      {"outside the map: up without flags", 7521, up(3), ""},
      {"beyond the card, or 31: no DPP", 7521, up(9), ""},
      {"", 7522, up(0xFFFFFFFF), ""},
      report(kHead + logging),
      {"plinder-off takes DPPs 1 and 2 out of logging", 7571, feature_rqst(kOff, {0, 1}), ""},
      report(kHead + "3 \n\ndriver rx is on\n    filter 1 is 0x00000003 (3)\n"),
      {"its completion leaves them out, and DPP_UP cannot bring them back",
       7572, feature_done(kOff, {{0, 2}, {1, 2}}), ""},
      {"", 7521, up(0), ""},
      {"another feature's completion: status 2 returns DPP 2 and brings it up, another status "
       "returns DPP 1 to logging, not up", 7572, feature_done(kOther, {{1, 2}, {0, 1}}), two, 0x2,
       flags},
      report(kHead + logging),
      {"", 7521, up(0), one, 0x1, flags},
      {"another feature's request only takes it down", 7571, feature_rqst(kOther, {0, 200}), ""},
      report(kHead + logging),
      {"", 7521, up(0), one, 0x1, flags},
      {"a failed download changes nothing", 7573, feature_rqst(kOff, {0, 1, 2, 3}), ""},
      {"an empty request changes nothing", 7571, feature_rqst(kOff, {}), ""},
      {"", 7521, up(0), ""},
      {"indexes 32 and above name no DPP", 7571, feature_rqst(kOff, high), ""},
      {"", 7572, feature_done(7, {{0xFFFF, 2}, {32, 2}, {31, 2}}), ""},
      report(kHead + logging),
  });
  // clang-format on
}

// --- the intake -------------------------------------------------------------------

TEST_F(LogTest, EveryCategoryFormReachesTheDebugFacilityAndItsTerminal) {
  start();
  struct Datagram {
    std::uint16_t core, opcode;
    Buf payload;
    Lines records;
  };
  auto log = [](std::uint16_t core, std::uint32_t cat, std::string_view text, Lines records,
                std::uint32_t length = 0) {
    return Datagram{core, 7, wire::encode_dpp_log(length, cat, {}, text), std::move(records)};
  };
  auto text = [](std::uint16_t core, std::uint32_t length, std::string_view text, Lines records) {
    return Datagram{core, 88, wire::encode_port_debug_text(length, text), std::move(records)};
  };
  auto header = [](std::uint16_t core, std::uint32_t cat, const wire::IpcMsgHeader& h,
                   std::string record) {
    return Datagram{core, 7, wire::encode_dpp_log(0, cat, h, "x"), {std::move(record)}};
  };
  wire::IpcMsgHeader h{.opc = 0x0080, .ver = 1, .size = 7, .src = 0xA, .dst = 0xBEEF};
  h.status = 0xFF, h.queue = 0xFD, h.frm_len = 0x1F, h.frm_ptr = 0xCAFE;
  wire::IpcMsgHeader framed = h;
  framed.opc = 0xFFFF, framed.ctrl = 0x04;
  const std::string rest = "Src: 0x000A  Dst: 0xBEEF  Size: 7  Ctrl: 0x0";
  // A TX header exactly as a DPP sends it, unread bytes included.
  Buf raw = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0,    0,    0,    9,    0,    0,
             0,    2,    0xAA, 0xAA, 0xAA, 0xAA, 0x01, 0x85, 0x02, 0x14, 0x00, 0x40, 0x12, 0x34,
             0xEE, 0xEE, 0x56, 0x78, 0x09, 0x03, 0x00, 0x80, 0xEE, 0xEE, 0xEE, 0xEE, 0x44, 0x55,
             0x66, 0x77, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 'x',  0};
  const std::string tx =
      "[DPP2] [TX] Opc: 261  Src: 0x1234  Dst: 0x5678  Size: 64  Ctrl: 0x14  Ver: 0x02  Status: "
      "0x09  FrmPtr: 0x44556677  FrmLen: 0x80  Q: 3";
  const std::vector<Datagram> datagrams = {
      // The short name, never the long one, tags a category's text.
      log(4, 5, "five", {"[DPP2] mem: five"}),
      log(5, 20, "twenty", {"[DPP2] tolk: twenty"}),
      log(0, 29, "state", {"[DPP1] fsm: state"}),
      log(0, 0, "zero", {"[DPP1] zero"}),  // no short name: plain
      // Bit 0x80 logs plainly, whatever the number; above 29 without it
      // nothing is logged.
      log(13, 0x81, "plain", {"[DPP4] plain"}),
      log(0, 30, "dropped", {}),
      log(2, 6, "100% %s %n", {"[DPP1] drv: 100% %s %n"}),  // a text is never a format
      // Categories 3 and 4 and per-port text: lines, bounded by length - 1;
      // empty lines vanish; newlines only make one record.
      log(12, 3, "rx one\n\nrx two\n", {"rx one", "rx two"}, 100),
      log(12, 4, "abcdefgh", {"abcd"}, 5),
      log(12, 4, "\n\n", {"", "", ""}, 100),
      log(12, 4, "", {""}, 1),
      log(12, 3, "text", {""}, 0),
      text(4, 100, "\nline one\n\n\nline two", {"line one", "line two"}),
      // Bounded by the 2240-byte receive buffer whatever the length says.
      log(0, 9, std::string(3000, 'y'), {"[DPP1] dmx: " + std::string(2188, 'y')}),
      log(0, 3, std::string(3000, 'y'), {std::string(2188, 'y')}, 0x80000000u),
      text(0, 0x80000000u, std::string(3000, 'z'), {std::string(2220, 'z')}),
      text(0, 2241, std::string(2300, 'w'), {std::string(2220, 'w')}),
      // Header lines: RX never with a queue, the frame only with ctrl 0x04;
      // TX always with the queue.
      header(0, 1, h, "[DPP1] [RX] Opc: 0  " + rest + "0  Ver: 0x01  Status: 0xFF"),
      header(3, 1, framed,
             "[DPP1] [RX] Opc: 65407  " + rest +
                 "4  Ver: 0x01  Status: 0xFF  FrmPtr: 0x0000CAFE  FrmLen: 0x1f"),
      header(9, 2, h, "[DPP3] [TX] Opc: 0  " + rest + "0  Ver: 0x01  Status: 0xFF  Q: 5"),
      {6, 1234, raw, {tx}},
  };
  const std::string plain = d().dir() + "/plain";  // a file named as a terminal is appended to
  touch(plain);
  set_debug(category(1, 5, {}, plain));
  for (std::size_t i = 0, seen = 0; i < datagrams.size(); ++i) {
    SCOPED_TRACE("datagram " + std::to_string(i));
    from_dpp(datagrams[i].core, datagrams[i].opcode, datagrams[i].payload);
    EXPECT_EQ(last(), "");
    const Lines all = facility();
    EXPECT_EQ(Lines(all.begin() + std::min(std::exchange(seen, all.size()), all.size()), all.end()),
              datagrams[i].records);
  }
  const std::string all = client::read_file(client::dbgfac_log_path(p(), "dpp_debug")).value_or("");
  EXPECT_EQ(client::read_file(plain), all);
}

// --- the log files ------------------------------------------------------------------

std::string readlink_of(const std::string& path) {
  char buf[4096];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? "<no link>" : std::string(buf, static_cast<std::size_t>(n));
}
// A file's lines: a plain time stamp first ("#### " and a ctime text), then
// the records given, with a later stamp allowed between them.
::testing::AssertionResult holds(const std::string& path, const Lines& records) {
  Lines lines = client::read_lines(path), got;
  if (lines.empty() || !lines[0].starts_with("#### ") || lines[0].size() != 29 ||
      lines[0][18] != ':' || lines[0][21] != ':')
    return ::testing::AssertionFailure() << ::testing::PrintToString(lines);
  for (const auto& l : lines)
    if (!l.starts_with("#### ")) got.push_back(l);
  if (got != records) return ::testing::AssertionFailure() << ::testing::PrintToString(lines);
  return ::testing::AssertionSuccess();
}

TEST_F(LogTest, FilesOpenUnderANameAndCloseAgain) {
  start();
  const std::string all_four = kHead + "1 2 3 4 \n\n";
  set_debug(dpp_map(1, 0, 1));
  ASSERT_EQ(client::make_dirs(client::fs_path(p(), "/var/log/external")), 0);
  ASSERT_EQ(::symlink("/nowhere", link("dbg.2").c_str()), 0);  // a stale link is replaced
  EXPECT_EQ(set_debug(files(1)), "");
  std::string none_yet;
  for (int n = 1; n <= 4; ++n) {
    const std::string name = "dbg." + std::to_string(n);
    EXPECT_EQ(client::read_file(file(name)), "") << name;
    EXPECT_EQ(readlink_of(link(name)), file(name)) << name;
    none_yet += logfile(n, name, 0, 0);
  }
  EXPECT_EQ(show(), none_yet + all_four);
  EXPECT_EQ(last(), "\n Display output files map:15 flag:0 plinder_dpps:15\n Display map:15");

  EXPECT_FALSE(client::path_exists(file("dbg.5")));
  record(0, "one");
  record(3, "two");
  from_dpp(9, 88, wire::encode_port_debug_text(100, "a\nb\n"));
  record(16, "DPP 5 has no file");
  EXPECT_EQ(facility(), Lines{"[DPP5] mem: DPP 5 has no file"});
  const std::string report = show();
  EXPECT_TRUE(holds(file("dbg.1"), {"[DPP1] mem: one", "[DPP1] mem: two"}));
  EXPECT_TRUE(holds(file("dbg.3"), {"a", "b"}));
  auto entry = [&](int n) {
    const std::string name = "dbg." + std::to_string(n);
    return logfile(n, name, client::read_lines(file(name)).size(),
                   client::read_file(file(name))->size());
  };
  EXPECT_EQ(report,
            entry(1) + logfile(2, "dbg.2", 0, 0) + entry(3) + logfile(4, "dbg.4", 0, 0) + all_four);
  // The same name changes nothing: no file is emptied, counters go on.
  EXPECT_EQ(set_debug(files(1)), "");
  EXPECT_EQ(show(), report);
  // Another name closes the old files, written out and kept with their
  // links; the new set starts empty.
  record(1, "three");
  EXPECT_EQ(set_debug(files(1, "alt")), "");
  EXPECT_TRUE(holds(file("dbg.1"), {"[DPP1] mem: one", "[DPP1] mem: two", "[DPP1] mem: three"}));
  EXPECT_EQ(readlink_of(link("dbg.1")), file("dbg.1"));
  EXPECT_EQ(readlink_of(link("alt.4")), file("alt.4"));
  record(0, "four");  // the new file starts with a time stamp of its own
  // Off: the files stay, written out; the records go to the facility.
  EXPECT_EQ(set_debug(files(0, "ignored")), "");
  EXPECT_TRUE(holds(file("alt.1"), {"[DPP1] mem: four"}));
  EXPECT_EQ(show(), all_four);
  record(12, "five");
  EXPECT_EQ(facility(), (Lines{"[DPP5] mem: DPP 5 has no file", "[DPP4] mem: five"}));
  EXPECT_EQ(set_debug(files(0)), "") << "an off request with no file open prints nothing";
  // Reopening a name empties its files. The report lists the files of DPPs
  // mapped and in logging only; a DPP left out still writes to its file.
  set_debug(files(1));
  EXPECT_EQ(client::read_file(file("dbg.1")), "");
  set_debug(dpp_map(0, 0x2));
  notify(7571, feature_rqst(wire::kFeaturePlinderOff, {2}));
  EXPECT_EQ(show(), logfile(1, "dbg.1", 0, 0) + logfile(4, "dbg.4", 0, 0) + kHead + "1 4 \n\n");
  record(4, "unlisted");
  set_debug(files(0));
  EXPECT_TRUE(holds(file("dbg.2"), {"[DPP2] mem: unlisted"}));
}

// DPP 1's link and DPP 2's file cannot be made: DPP 1 writes to its file all
// the same, DPP 2's records go to the facility, and the same name retries
// nothing.
TEST_F(LogTest, FilesAndLinksThatCannotBeMade) {
  start(Options().fail("fs_fopen@2,fs_symlink@1"));
  set_debug(dpp_map(1, 0, 1));
  EXPECT_EQ(set_debug(files(1)),
            "DPPDEBUG_MGR_ERR: Link creation failed for /cpp/plinder_dpp_logs/dbg.1 to "
            "/var/log/external/dbg.1\n"
            "DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/dbg.2 file\n");
  EXPECT_FALSE(client::path_exists(link("dbg.1")) || client::path_exists(file("dbg.2")));
  record(0, "kept");
  record(4, "to the facility");
  EXPECT_EQ(set_debug(files(1)), "");
  // DPP 1: a stamp line (30 bytes) and "[DPP1] mem: kept\n" (17).
  EXPECT_EQ(show(), logfile(1, "dbg.1", 2, 30 + 17) + logfile(3, "dbg.3", 0, 0) +
                        logfile(4, "dbg.4", 0, 0) + kHead + "1 2 3 4 \n\n");
  EXPECT_TRUE(holds(file("dbg.1"), {"[DPP1] mem: kept"}));
  EXPECT_EQ(facility(), Lines{"[DPP2] mem: to the facility"});
  // A name that would leave the log directory, and a link or a FIFO planted
  // where a file goes, are refused as files that cannot be created.
  ASSERT_EQ(::mkfifo(file("fifo.1").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((d().dir() + "/target").c_str(), file("link.1").c_str()), 0);
  for (std::string name : {"../escaped", "fifo", "link", ".."})
    EXPECT_TRUE(has(set_debug(files(1, name)),
                    "DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/" + name + ".1 file"))
        << name;
  EXPECT_FALSE(client::path_exists(client::fs_path(p(), "/cpp/escaped.1")) ||
               client::path_exists(d().dir() + "/target"));
}

// However the daemon ends, the records it took are in its files: SIGTERM and
// a signal that fails the wait (SIGHUP) end the loop, SIGINT ends at once.
TEST_F(LogTest, NoRecordIsLostOnTheWayOut) {
  for (auto [signo, status] : {std::pair{SIGTERM, 0}, {SIGINT, 255}, {SIGHUP, 0}}) {
    start();
    set_debug(dpp_map(1, 0x1));
    set_debug(files(1));
    record(0, "last words");
    // In the file soon, though no more records follow to fill the buffer.
    EXPECT_TRUE(
        client::wait_for([&] { return holds(file("dbg.1"), {"[DPP1] mem: last words"}); }, kWait));
    ASSERT_EQ(d().proc->signal(signo), 0);
    EXPECT_EQ(d().wait_exit(), status) << signo;
    EXPECT_TRUE(holds(file("dbg.1"), {"[DPP1] mem: last words"})) << signo;
    EXPECT_TRUE(d().out().ends_with("\nCleaning up and exiting...\n")) << signo;
    EXPECT_EQ(has(d().err(), "select: Interrupted system call"), signo != SIGINT) << signo;
    for (const auto& path :
         {client::vesk_path(p(), kSap), client::xipc_path(p(), client::kDaemonEndpoint)})
      EXPECT_FALSE(client::path_exists(path)) << signo << path;
  }
}

// The zone of the notification, not the one the daemon started with, shapes
// the time-stamp lines.
// The card root on a small filesystem that fills up, then has room again.
TEST_F(LogTest, AFullDiskLosesWholeRecordsAndSaysHowMany) {
  client::TempDir root("dvk-fs-");
  if (::system(("mount -t tmpfs -o size=64k tmpfs " + root.path + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(root.path.c_str(), MNT_DETACH); });
  start(Options().set("DRAVIK_FS_ROOT", root.path));
  set_debug(dpp_map(1, 0x1));
  set_debug(files(1));
  const std::string filler = root.path + "/filler";
  ASSERT_EQ(::system(("head -c 40000 /dev/zero > " + filler).c_str()), 0);
  const std::string pad(60, '.');
  int sent = 0;
  auto send = [&](int n) {  // in one burst, then one wait for the daemon to take them all
    for (int end = sent + n; sent < end; ++sent) {
      const Buf msg = wire::encode_dpp_log(0, 5, {}, std::to_string(sent) + pad);
      client::wait_for([&] { return client::dpp_send(p(), 0, 39, 0, 7, msg) != EAGAIN; }, kWait);
    }
    settle(n);
  };
  send(400);  // some 40 KB: more than the disk holds
  EXPECT_TRUE(has(d().out(), "DPPDEBUG_MGR_ERR: DPP-1 log file dbg.1: write failed (No space"));
  ::unlink(filler.c_str());
  send(20);
  std::size_t lost = 0;
  const auto at = d().out().find("dbg.1: writing again; ");
  ASSERT_NE(at, std::string::npos);
  std::sscanf(d().out().c_str() + at, "dbg.1: writing again; %zu records were lost", &lost);
  show();  // writes the buffer out
  // Every line is a whole record or a stamp, and every record not counted lost is there.
  std::size_t records = 0;
  for (const auto& l : client::read_lines(root.path + "/cpp/plinder_dpp_logs/dbg.1")) {
    if (l.starts_with("#### ")) continue;
    ++records;
    EXPECT_EQ(l, "[DPP1] mem: " +
                     std::to_string(std::atoi(l.c_str() + std::min<std::size_t>(12, l.size()))) +
                     pad);
  }
  EXPECT_GT(lost, 0u);
  EXPECT_EQ(records + lost, static_cast<std::size_t>(sent));
}

TEST_F(LogTest, TimeStampsFollowTheNotifiedZone) {
  start(Options().set("TZ", "XYZ+3"));
  set_debug(dpp_map(1, 0x1));
  notify(3102, Buf{'X', 'Y', 'Z', '-', '5', 0});
  // A zone file that is a FIFO would block the loop: refused, the zone kept.
  const std::string fifo = ":" + d().dir() + "/zone";
  ASSERT_EQ(::mkfifo(fifo.c_str() + 1, 0600), 0);
  notify(3102, Buf(fifo.c_str(), fifo.c_str() + fifo.size() + 1));
  EXPECT_EQ(last(),
            "DPPDEBUG_MGR_ERR: time zone " + fifo + " names no regular zone file, ignored\n");
  set_debug(files(1, "east"));
  const std::time_t before = std::time(nullptr);
  record(0, "five hours east");
  const std::time_t after = std::time(nullptr);
  show();
  EXPECT_TRUE(holds(file("east.1"), {"[DPP1] mem: five hours east"}));
  std::tm tm{};
  const std::string stamp = client::read_lines(file("east.1")).at(0);
  ASSERT_TRUE(::strptime(stamp.c_str() + 5, "%a %b %d %H:%M:%S %Y", &tm));
  EXPECT_GE(::timegm(&tm) - 5 * 3600, before);
  EXPECT_LE(::timegm(&tm) - 5 * 3600, after);
}

}  // namespace
}  // namespace e2e
