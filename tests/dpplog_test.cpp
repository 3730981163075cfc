// The DPP debug log manager from outside: its start and start-up failures,
// SET_DEBUG of every type with the exact DppFlagMsg each change sends, the
// show report, DPP up/down and feature downloads, the intake of DPP
// datagrams into the debug facility, and the per-DPP log files.
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
using Blocks = std::vector<std::pair<int, Filters>>;
const std::string kHead = "\nDebug level: 6 (INFO)\n\nDPP instances: ";
constexpr std::uint32_t kManagerOpcodes[] = {7522, 7521, 7571, 7572, 7573, 3102};

wire::SetDebugRequest category(std::uint8_t on, std::uint8_t flag, Filters f = {},
                               std::string_view name = "/dev/null") {
  return {.type = 1, .on = on, .flag = flag, .filters = f, .name = name};
}
wire::SetDebugRequest all_categories(std::uint8_t on, std::string_view name = "/dev/null") {
  return {.type = 1, .on = on, .all = 1, .name = name};
}
wire::SetDebugRequest dpp_map(std::uint8_t on, std::uint32_t mask, std::uint8_t all = 0) {
  return {.type = 2, .on = on, .all = all, .dpp_mask = mask, .name = "/dev/null"};
}
wire::SetDebugRequest files(std::uint8_t on, std::string_view name = "dbg") {
  return {.type = 4, .on = on, .name = name};
}
std::string sending(std::uint32_t flags, int level, int dpp) {
  char line[96];
  std::snprintf(line, sizeof line, "DPPDEBUG_MGR_INFO: Sending flag 0x%X level %d to DPP %d\n",
                flags, level, dpp);
  return line;
}
// The DppFlagMsg with these flags, level and filter blocks (category, words).
Buf flag_msg(std::uint32_t flags, std::uint8_t level, const Blocks& blocks = {}) {
  wire::DppFlagMsg m{.num_categories = 29, .level = level, .flags = flags, .filters = {}};
  for (const auto& [cat, words] : blocks) m.filters[cat - 1] = words;
  auto b = wire::encode_dpp_flag(m);
  return {b.begin(), b.end()};
}
Buf feature_rqst(std::uint32_t feature, std::vector<std::uint8_t> dpps) {
  wire::DnldFeatureRqst r{.feature = feature, .count = static_cast<std::uint8_t>(dpps.size())};
  std::copy(dpps.begin(), dpps.end(), r.dpps.begin());
  return wire::encode_feature_rqst(r);
}
Buf feature_complete(std::uint32_t feature, std::vector<wire::DnldFeatureEntry> entries) {
  wire::DnldFeatureComplete c{.feature = feature, .count = static_cast<std::uint8_t>(entries.size())};
  std::copy(entries.begin(), entries.end(), c.entries.begin());
  return wire::encode_feature_complete(c);
}
std::string logfile_line(int dpp, std::string_view name, std::size_t lines, std::size_t size) {
  return "DPP-" + std::to_string(dpp) + " logfile: " + std::string(name) + " (line#: " +
         std::to_string(lines) + ", size: " + std::to_string(size) + ")\n";
}

class LogTest : public DaemonTest {
 protected:
  // A SET_DEBUG, answered with its empty reply under its opcode and tag;
  // what the daemon printed for it.
  std::string set_debug(const wire::SetDebugRequest& r) { return set_debug(wire::encode_set_debug(r)); }
  std::string set_debug(const Buf& payload) {
    auto r = ask(5000, payload, 0x5E7D);
    EXPECT_TRUE(r && r->header == wire::kReplyHeaderBytes && r->opcode == 5000 && r->tag == 0x5E7D &&
                r->payload.empty());
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
  // Fake log services for DPPs 1 to 4 (module 66 at core 4 x (n-1)).
  void bind_dpps(int n = 4) {
    for (int i = 0; i < n; ++i) dpp[i] = endpoint(static_cast<std::uint16_t>(4 * i), 66);
  }
  // Exactly the DPPs in `to` (bit n-1 for DPP n) were each sent this one
  // message since the last check; the others nothing.
  ::testing::AssertionResult got(std::uint32_t to, const Buf& msg, std::size_t times = 1) {
    for (int n = 1; n <= 4; ++n)
      if (dpp[n - 1])
        if (auto ok = got_frames(*dpp[n - 1], 33, std::vector(to & 1u << (n - 1) ? times : 0, msg)); !ok)
          return ok << " (DPP " << n << ")";
    return ::testing::AssertionSuccess();
  }
  void record(std::uint16_t core, std::string_view text) {
    from_dpp(core, 7, wire::encode_dpp_log(0, 5, {}, text));
  }
  std::string file(std::string_view name) { return d().card_path("/cpp/plinder_dpp_logs/" + std::string(name)); }
  std::string link(std::string_view name) { return d().card_path("/var/log/external/" + std::string(name)); }
  Lines facility() { return client::dbgfac_log_lines(p()); }

  std::array<std::unique_ptr<client::FakeDppEndpoint>, 4> dpp;
};

// --- start-up ------------------------------------------------------------------

// The category table's check: rows 1 to 29 OK, rows 3 and 4 announcing the
// categories they override first; then `tail`.
std::string start_lines(const std::string& tail) {
  std::string out;
  for (int n = 1; n <= 29; ++n) {
    if (n == 3 || n == 4)
      out += "DPPDEBUG_MGR_INFO: " + std::to_string(n - 2) + " is overridden by " + std::to_string(n) + "\n";
    out += "DPPDEBUG_MGR_INFO: flag " + std::to_string(n) + " is OK\n";
  }
  return out + tail + std::string(kReady) + "\n";
}
// What the daemon printed after its XIPC socket's line.
std::string manager_lines(const std::string& out) {
  auto at = out.find('\n', out.find("Created socket : "));
  return at == out.npos ? out : out.substr(at + 1);
}

TEST_F(LogTest, StartTellsEveryDppOfTheCardOnceAndRegistersSixOpcodes) {
  start({}, true);
  dpp[0] = endpoint(0, 66);
  dpp[1] = endpoint(4, 66);
  dpp[3] = endpoint(12, 66);  // DPP 3 has none: its send fails, the next goes on
  ASSERT_TRUE(d().open_gate());
  ASSERT_TRUE(d().idle(1));
  EXPECT_EQ(manager_lines(d().out()),
            start_lines("DPPDEBUG_MGR_INFO: vesk bind successful\nDPPDEBUG_MGR_DBG: Initializing xipc address\n" +
                        sending(0, 6, 1) + sending(0, 6, 2) + sending(0, 6, 4)));
  EXPECT_EQ(d().err(), "send xipc message: No such file or directory\n");
  EXPECT_TRUE(got(0xB, flag_msg(0, 6)));
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_TRUE(client::path_exists(client::vesk_reg_path(p(), op, kSap))) << op;
  for (std::uint32_t op : {5000, 5001})
    EXPECT_FALSE(client::path_exists(client::vesk_reg_path(p(), op, kSap))) << op;
}

TEST(LogStart, OneDppCardsTellDppOneOnly) {
  for (const char* card : {"41", "42", "43", "163"}) {
    Daemon d(std::string(card) == "163" ? Options().card(card).with_args({}) : Options().card(card), true);
    client::FakeDppEndpoint dpp1(d.p, {0, 66, 0}), dpp2(d.p, {4, 66, 0});
    ASSERT_TRUE(d.open_gate());
    ASSERT_TRUE(std::string(card) == "163" ? d.shaken() : d.idle(1));
    ASSERT_TRUE(client::request(d.p, kSap, 5001, {}, kWait));  // the loop has begun
    EXPECT_TRUE(got_frames(dpp1, 33, {flag_msg(0, 6)})) << card;
    EXPECT_TRUE(dpp2.drain().empty()) << card;
  }
}

TEST(LogStart, CreatesTheLogDirectoryOrLeavesAnExistingOneAlone) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st {};
  {
    Daemon d;
    ASSERT_TRUE(d.idle(1));
    ASSERT_EQ(::stat(d.card_path("/cpp/plinder_dpp_logs").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 01777, 01777 & ~mask);  // every bit but the set-ids, less the umask
  }
  client::TempDir root("dvkr-");
  const std::string dir = root.path + "/cpp/plinder_dpp_logs";
  ASSERT_EQ(client::make_dirs(dir), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
  Daemon d(Options().set("DRAVIK_FS_ROOT", root.path));
  ASSERT_TRUE(d.idle(1));
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(LogTest, WithoutALogDirectoryTheDaemonServesWithoutAManager) {
  start(Options().fail("fs_mkdir"));
  EXPECT_EQ(manager_lines(d().out()), start_lines("DPPDEBUG_MGR_INFO: Unable to Create DPP Debug log dir\n"));
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_FALSE(client::path_exists(client::vesk_reg_path(p(), op, kSap))) << op;
  // Every request is still answered; nothing reaches a DPP or a file.
  bind_dpps(1);
  set_debug(all_categories(1));
  set_debug(dpp_map(1, 0, 1));
  set_debug({.type = 3, .level = 7, .name = ""});
  set_debug(files(1));
  EXPECT_FALSE(client::path_exists(file("dbg.1")));
  EXPECT_FALSE(has(d().out(), "Sending flag"));
  tell(7521, wire::encode_dpp_index(0));
  const std::string head = "\nDebug level: 7 (DEBUG)\n\nDPP instances: \n\n";
  EXPECT_TRUE(show().starts_with(head + "rx ipc message is on\n"));
  record(0, "to the facility");
  EXPECT_EQ(facility(), Lines{"[DPP1] mem: to the facility"});
  EXPECT_TRUE(got(0, {}));
}

TEST_F(LogTest, AStatFailureDoesNotStopTheStart) {
  start(Options().fail("fs_stat"));
  EXPECT_TRUE(has(d().out(), "DPPDEBUG_MGR_INFO: vesk bind successful\n"));
  EXPECT_FALSE(client::path_exists(d().card_path("/cpp/plinder_dpp_logs")));
  EXPECT_TRUE(has(set_debug(files(1)), "DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/dbg.4 file\n"));
}

// dbgfac_init fails after the handle was registered: releasing the manager
// releases the daemon's own handle with it, so the daemon binds its SAP again
// (for 922 only) and goes on serving.
TEST_F(LogTest, DebugFacilityFailureLeavesTheDaemonServing) {
  start(Options().fail("dbgfac_init"), true);
  bind_dpps(1);
  ASSERT_TRUE(d().open_gate());
  ASSERT_TRUE(d().idle(1));
  EXPECT_EQ(manager_lines(d().out()),
            start_lines("DPPDEBUG_MGR_INFO: vesk bind successful\nBound to SAP: 930\n"));
  EXPECT_EQ(d().err(), "");
  EXPECT_TRUE(client::path_exists(client::vesk_reg_path(p(), 922, kSap)));
  for (std::uint32_t op : kManagerOpcodes)
    EXPECT_FALSE(client::path_exists(client::vesk_reg_path(p(), op, kSap))) << op;
  EXPECT_EQ(show(), kHead + "\n\n");
  set_debug({.type = 3, .level = 7, .name = ""});
  EXPECT_TRUE(got(0, {}));
}

TEST(LogStart, EachRegistrationFailureEndsTheProcess) {
  const char* names[] = {"DPP_DOWN", "DPP_UP", "DPP_DNLD_NEW_FEATURE_RQST", "DPP_DNLD_NEW_FEATURE_COMPLETE",
                         "DPP_DNLD_NEW_FEATURE_FAILED", "VESK_OPC_CLOCK_SET_TIMEZONE_NOTIF"};
  for (int i = 0; i < 6; ++i) {
    Daemon d(Options().fail("vesk_options_set:" + std::to_string(kManagerOpcodes[i])));
    EXPECT_EQ(d.wait_exit(), 255);
    EXPECT_EQ(d.err(), std::string("Unable to regiser ") + names[i] + ": Input/output error\n");
    EXPECT_TRUE(d.out().ends_with("DPPDEBUG_MGR_INFO: flag 29 is OK\n")) << d.out();
    for (int j = 0; j <= i; ++j)  // those before it were made, in order
      EXPECT_EQ(client::path_exists(client::vesk_reg_path(d.p, kManagerOpcodes[j], kSap)), j < i);
  }
}

// --- SET_DEBUG and the report ---------------------------------------------------

TEST_F(LogTest, CategoriesWithOverrideAndFiltersReachTheMappedDpps) {
  start();
  bind_dpps();
  EXPECT_EQ(set_debug(dpp_map(1, 0x5)),
            "DPPDEBUG_MGR_INFO: new dppmap: 5\ndppmap is set:5"
            "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n");
  EXPECT_TRUE(got(0, {})) << "no category is on: a map change sends nothing";
  EXPECT_EQ(client::dbgfac_vtys(p()), Lines{"/dev/null"});

  const Filters f{1, 0, 0, 0x10};
  EXPECT_EQ(set_debug(category(1, 3, f)),
            "DPPDEBUG_MGR_INFO: Overriding flag 1 filters by 3\n"
            "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n"
            "\n setting flags cur_flag:5 dppmap:5" + sending(0x5, 6, 1) + sending(0x5, 6, 3));
  EXPECT_TRUE(got(0x5, flag_msg(0x5, 6, {{1, f}, {3, f}})));
  EXPECT_EQ(show(), kHead + "1 3 \n\nrx ipc message is on\n"
                            "    filter 1 is 0x00000001 (1)\n    filter 4 is 0x00000010 (16)\n");
  // Category 1 off while 3 stays on: only bit 0 goes, nothing is notified.
  EXPECT_EQ(set_debug(category(0, 1)), "\n setting flags cur_flag:4 dppmap:5" + sending(0x4, 6, 1) + sending(0x4, 6, 3));
  EXPECT_TRUE(got(0x5, flag_msg(0x4, 6, {{3, f}})));
  EXPECT_EQ(show(), kHead + "1 3 \n\nrx ipc message is on\n"
                            "    filter 1 is 0x00000001 (1)\n    filter 4 is 0x00000010 (16)\n");
  // Category 3 off takes the one it overrides with it.
  set_debug(category(1, 3, f));
  EXPECT_TRUE(got(0x5, flag_msg(0x5, 6, {{1, f}, {3, f}})));
  EXPECT_EQ(set_debug(category(0, 3)), "DPPDEBUG_MGR_INFO: Turning off flag 1 (overridden by 3\n"
                                       "\n setting flags cur_flag:0 dppmap:5" + sending(0, 6, 1) + sending(0, 6, 3));
  EXPECT_TRUE(got(0x5, flag_msg(0, 6)));
  // A category whose overrider is off is listed with its own filters.
  const Filters g{0x80000000u, 0, 7, 0xFFFFFFFF};
  set_debug(category(1, 2, g, "/dev/zero"));
  EXPECT_TRUE(got(0x5, flag_msg(0x2, 6, {{2, g}})));
  set_debug(category(1, 29, g, "/dev/zero"));
  EXPECT_TRUE(got(0x5, flag_msg(0x10000002, 6, {{2, g}, {29, g}})));
  EXPECT_EQ(show(), kHead + "1 3 \n\ntx ipc message header is on\n"
                            "    filter 1 is 0x80000000 (-2147483648)\n    filter 3 is 0x00000007 (7)\n"
                            "    filter 4 is 0xFFFFFFFF (-1)\nfsm is on\n"
                            "    filter 1 is 0x80000000 (-2147483648)\n    filter 3 is 0x00000007 (7)\n"
                            "    filter 4 is 0xFFFFFFFF (-1)\n");
  // All on: every category, every filter 0; all off keeps the filters,
  // removes the terminal and sends flags 0.
  EXPECT_EQ(set_debug(all_categories(1)), "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n"
                                          "\n setting flags cur_flag:536870911 dppmap:5" +
                                              sending(0x1FFFFFFF, 6, 1) + sending(0x1FFFFFFF, 6, 3));
  EXPECT_TRUE(got(0x5, flag_msg(0x1FFFFFFF, 6)));
  const std::string report = show();
  EXPECT_TRUE(report.starts_with(kHead + "1 3 \n\nrx ipc message is on\ntx ipc message is on\n"
                                         "memory management is on\ndriver rx")) << report;
  EXPECT_TRUE(report.ends_with("galt km is on\nfsm is on\n")) << report;
  EXPECT_EQ(count_of(report, " is on\n"), 27u);
  EXPECT_FALSE(has(report, "filter"));
  EXPECT_EQ(set_debug(all_categories(0, "/dev/zero")),
            "DPPDEBUG_MGR_INFO: Notifying syslogd to remove vty /dev/zero\n"
            "\n setting flags cur_flag:0 dppmap:5" + sending(0, 6, 1) + sending(0, 6, 3));
  EXPECT_EQ(client::dbgfac_vtys(p()), Lines{"/dev/null"});
  EXPECT_TRUE(got(0x5, flag_msg(0, 6)));
  EXPECT_EQ(show(), kHead + "1 3 \n\n");
}

TEST_F(LogTest, MapChangesSendTurningOnAndOffPairs) {
  start();
  bind_dpps();
  const Filters f{0, 0, 0, 0x55};
  set_debug(category(1, 12, f));  // the map is empty: nothing is sent
  EXPECT_EQ(set_debug(dpp_map(1, 0x1)), "DPPDEBUG_MGR_INFO: new dppmap: 1\nDPPDEBUG_MGR_DBG: Turning on DPP map 1\n" +
                                            sending(0x800, 6, 1) + "DPPDEBUG_MGR_DBG: Turning off DPP map 0\n"
                                            "dppmap is set:1DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n");
  EXPECT_TRUE(got(0x1, flag_msg(0x800, 6, {{12, f}})));
  EXPECT_EQ(set_debug(dpp_map(1, 0, 1)), "DPPDEBUG_MGR_INFO: new dppmap: F\nDPPDEBUG_MGR_DBG: Turning on DPP map E\n" +
                                             sending(0x800, 6, 2) + sending(0x800, 6, 3) + sending(0x800, 6, 4) +
                                             "DPPDEBUG_MGR_DBG: Turning off DPP map 0\n"
                                             "dppmap is set:15DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n");
  EXPECT_TRUE(got(0xE, flag_msg(0x800, 6, {{12, f}})));
  // Removing some sends them empty flags and notifies nothing.
  EXPECT_EQ(set_debug(dpp_map(0, 0x6)), "DPPDEBUG_MGR_INFO: new dppmap: 9\nDPPDEBUG_MGR_DBG: Turning on DPP map 0\n"
                                        "DPPDEBUG_MGR_DBG: Turning off DPP map 6\n" +
                                            sending(0, 6, 2) + sending(0, 6, 3) + "dppmap is set:9");
  EXPECT_TRUE(got(0x6, flag_msg(0, 6)));
  // Bits beyond the card's DPPs change nothing.
  EXPECT_EQ(set_debug(dpp_map(1, 0xF0)), "DPPDEBUG_MGR_INFO: new dppmap: 9\ndppmap is set:9"
                                         "DPPDEBUG_MGR_INFO: Notifying syslogd to add vty /dev/null\n");
  EXPECT_EQ(show(), kHead + "1 4 \n\nvirtualization state machine is on\n    filter 4 is 0x00000055 (85)\n");
  EXPECT_EQ(set_debug(dpp_map(0, 0, 1)), "DPPDEBUG_MGR_INFO: new dppmap: 0\nDPPDEBUG_MGR_DBG: Turning on DPP map 0\n"
                                         "DPPDEBUG_MGR_DBG: Turning off DPP map 9\n" +
                                             sending(0, 6, 1) + sending(0, 6, 4) +
                                             "dppmap is set:0DPPDEBUG_MGR_INFO: Notifying syslogd to remove vty /dev/null\n");
  EXPECT_TRUE(got(0x9, flag_msg(0, 6)));
  EXPECT_EQ(client::dbgfac_vtys(p()), Lines{});
}

TEST_F(LogTest, LevelUnknownTypesAndCategoriesAndRejectedRequests) {
  start();
  bind_dpps();
  set_debug(dpp_map(1, 0x3));
  EXPECT_EQ(set_debug({.type = 3, .on = 1, .all = 1, .level = 7, .name = "/dev/full"}),
            "DPPDEBUG_MGR_INFO: Debug level changed to 7\n" + sending(0, 7, 1) + sending(0, 7, 2));
  EXPECT_TRUE(got(0x3, flag_msg(0, 7)));
  EXPECT_EQ(client::dbgfac_vtys(p()), Lines{"/dev/null"});  // the level names no terminal
  EXPECT_EQ(show(), "\nDebug level: 7 (DEBUG)\n\nDPP instances: 1 2 \n\n");
  set_debug({.type = 3, .level = 9, .name = ""});  // stored and sent unchanged
  EXPECT_TRUE(got(0x3, flag_msg(0, 9)));
  EXPECT_EQ(show(), "\nDebug level: 9 (UNKNOWN)\n\nDPP instances: 1 2 \n\n");
  set_debug({.type = 3, .level = 0, .name = ""});
  EXPECT_TRUE(got(0x3, flag_msg(0, 0)));
  EXPECT_TRUE(show().starts_with("\nDebug level: 0 (EMERG)\n"));

  EXPECT_EQ(set_debug({.type = 9, .on = 1, .name = "/dev/null"}), "DPPDEBUG_MGR_ERR: Unknown SET_DEBUG type 9\n\n");
  EXPECT_EQ(set_debug(Buf{}), "DPPDEBUG_MGR_ERR: Unknown SET_DEBUG type 0\n\n");  // empty: zeros
  for (std::uint8_t flag : {0, 30, 255})
    EXPECT_EQ(set_debug(category(1, flag, {1, 2, 3, 4})),
              "DPPDEBUG_MGR_ERR: Invalid flag " + std::to_string(flag) + " in SET_DEBUG, ignored\n");
  // A rejected SET_DEBUG or show is neither handled nor answered.
  tell(5000, wire::encode_set_debug(all_categories(1)), wire::vesk_frame::kFlagReject);
  tell(5001, {}, wire::vesk_frame::kFlagReject);
  EXPECT_EQ(last(), "");
  // Requests without a reply address are handled all the same.
  tell(5000, wire::encode_set_debug({.type = 2, .on = 1, .all = 1, .name = ""}));
  tell(5001);
  EXPECT_TRUE(has(last(), "\n Display output files map:15 flag:0 plinder_dpps:15"));
  EXPECT_TRUE(got(0, {}));
  EXPECT_EQ(show(), "\nDebug level: 0 (EMERG)\n\nDPP instances: 1 2 3 4 \n\n");
}

TEST_F(LogTest, UpDownAndFeatureDownloadsFollowTheStateTable) {
  start();
  bind_dpps();
  constexpr std::uint32_t kPlinderOff = wire::kFeaturePlinderOff, kOther = 0x12345678;
  const Filters f{3, 0, 0, 0};
  const Buf flags = flag_msg(0x20, 6, {{6, f}});
  set_debug(category(1, 6, f));
  set_debug(dpp_map(1, 0x7));  // DPPs 1 to 3 mapped, 4 not
  EXPECT_TRUE(got(0x7, flags));
  auto up = [&](std::uint32_t d) { return notify(7521, wire::encode_dpp_index(d)), last(); };
  auto down = [&](std::uint32_t d) { return notify(7522, wire::encode_dpp_index(d)), last(); };
  const std::string in_logging = "1 2 3 \n\ndriver rx is on\n    filter 1 is 0x00000003 (3)\n";

  EXPECT_EQ(up(1), sending(0x20, 6, 2));  // the current flags, once
  EXPECT_EQ(up(1), "");
  EXPECT_EQ(down(1), "");
  EXPECT_EQ(up(1), sending(0x20, 6, 2));
  EXPECT_TRUE(got(0x2, flags, 2));
  // Outside the map: up without flags; beyond the card or 31: no DPP.
  for (std::uint32_t i : {3u, 9u, 31u, 32u, 0xFFFFFFFFu}) EXPECT_EQ(up(i) + down(i), "") << i;
  EXPECT_EQ(show(), kHead + in_logging);

  // The plinder-off download takes DPPs 1 and 2 out of logging; its
  // completion leaves them out, and DPP_UP cannot bring them back.
  notify(7571, feature_rqst(kPlinderOff, {0, 1}));
  EXPECT_EQ(show(), kHead + "3 \n\ndriver rx is on\n    filter 1 is 0x00000003 (3)\n");
  notify(7572, feature_complete(kPlinderOff, {{0, 2}, {1, 2}}));
  EXPECT_EQ(up(0), "");
  EXPECT_TRUE(show().starts_with(kHead + "3 \n\n"));
  // Another feature's completion: status 2 returns DPP 2 and brings it up
  // (flags sent); another status returns DPP 1 to logging, but not up.
  notify(7572, feature_complete(kOther, {{1, 2}, {0, 1}}));
  EXPECT_EQ(last(), sending(0x20, 6, 2));
  EXPECT_TRUE(got(0x2, flags));
  EXPECT_EQ(show(), kHead + in_logging);
  EXPECT_EQ(up(0), sending(0x20, 6, 1));
  // Another feature's request only takes the DPP down; a failed download and
  // an empty request change nothing.
  notify(7571, feature_rqst(kOther, {0, 200}));
  EXPECT_EQ(show(), kHead + in_logging);
  EXPECT_EQ(up(0), sending(0x20, 6, 1));
  EXPECT_TRUE(got(0x1, flags, 2));
  notify(7573, feature_rqst(kPlinderOff, {0, 1, 2, 3}));
  notify(7571, feature_rqst(kPlinderOff, {}));
  EXPECT_EQ(up(0), "");
  EXPECT_EQ(show(), kHead + in_logging);
  // Indexes 255 down to 32 in a download name no DPP.
  std::vector<std::uint8_t> high;
  for (int i = 255; i >= 32; --i) high.push_back(static_cast<std::uint8_t>(i));
  notify(7571, feature_rqst(kPlinderOff, high));
  notify(7572, feature_complete(7, {{0xFFFF, 2}, {32, 2}, {31, 2}}));
  EXPECT_EQ(show(), kHead + in_logging);
  EXPECT_TRUE(got(0, {}));
}

// --- the intake -------------------------------------------------------------------

TEST_F(LogTest, EveryCategoryFormReachesTheDebugFacility) {
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
  const wire::IpcMsgHeader h{.opc = 0x0080, .ver = 1, .ctrl = 0x00, .size = 7, .src = 0xA, .dst = 0xBEEF,
                             .status = 0xFF, .queue = 0xFD, .frm_len = 0x1F, .frm_ptr = 0xCAFE};
  wire::IpcMsgHeader framed = h;
  framed.opc = 0xFFFF;
  framed.ctrl = 0x04;
  const std::string head = "Src: 0x000A  Dst: 0xBEEF  Size: 7  Ctrl: 0x0";
  // A TX header exactly as a DPP sends it, unread bytes included.
  Buf raw = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0, 0, 0, 9, 0, 0, 0, 2, 0xAA, 0xAA, 0xAA, 0xAA,
             0x01, 0x85, 0x02, 0x14, 0x00, 0x40, 0x12, 0x34, 0xEE, 0xEE, 0x56, 0x78, 0x09, 0x03, 0x00, 0x80,
             0xEE, 0xEE, 0xEE, 0xEE, 0x44, 0x55, 0x66, 0x77, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 'x', 0};
  const std::vector<Datagram> datagrams = {
      // The short name, never the long one, tags a category's text.
      log(4, 5, "five", {"[DPP2] mem: five"}),
      log(5, 20, "twenty", {"[DPP2] tolk: twenty"}),
      log(6, 26, "obj", {"[DPP2] galt obj: obj"}),
      log(7, 27, "intf", {"[DPP2] galt_plinder_intf: intf"}),
      log(0, 29, "state", {"[DPP1] fsm: state"}),
      log(0, 0, "zero", {"[DPP1] zero"}),  // no short name: plain
      log(8, 14, "misc", {"[DPP3] misc"}),
      // Bit 0x80 logs plainly, whatever the number; above 29 without it
      // nothing is logged.
      log(13, 0x81, "plain", {"[DPP4] plain"}),
      log(0, 0x80 | 30, "plain 30", {"[DPP1] plain 30"}),
      log(0, 30, "dropped", {}),
      log(0, 0xFFFFFF7F, "dropped", {}),
      log(2, 6, "100% %s %n", {"[DPP1] drv: 100% %s %n"}),  // a text is never a format
      // Categories 3 and 4 and per-port text (opcode 88): lines, bounded by
      // length - 1; empty lines vanish; newlines only make one record.
      log(12, 3, "rx one\n\nrx two\n", {"rx one", "rx two"}, 100),
      log(12, 4, "abcdefgh", {"abcd"}, 5),
      log(12, 4, "\n\n", {"", "", ""}, 100),
      log(12, 4, "", {""}, 1),
      log(12, 3, "text", {""}, 0),
      {4, 88, wire::encode_port_debug_text(100, "\nline one\n\n\nline two"), {"line one", "line two"}},
      // Bounded by the 2240-byte receive buffer whatever the length says.
      log(0, 9, std::string(3000, 'y'), {"[DPP1] dmx: " + std::string(2188, 'y')}),
      log(0, 3, std::string(3000, 'y'), {std::string(2188, 'y')}, 0x80000000u),
      {0, 88, wire::encode_port_debug_text(0x80000000u, std::string(3000, 'z')), {std::string(2220, 'z')}},
      {0, 88, wire::encode_port_debug_text(2241, std::string(2300, 'w')), {std::string(2220, 'w')}},
      // Header lines: RX never with a queue, the frame only with ctrl 0x04;
      // TX always with the queue.
      {0, 7, wire::encode_dpp_log(0, 1, h, "x"), {"[DPP1] [RX] Opc: 0  " + head + "0  Ver: 0x01  Status: 0xFF"}},
      {3, 7, wire::encode_dpp_log(0, 1, framed, "x"),
       {"[DPP1] [RX] Opc: 65407  " + head + "4  Ver: 0x01  Status: 0xFF  FrmPtr: 0x0000CAFE  FrmLen: 0x1f"}},
      {9, 7, wire::encode_dpp_log(0, 2, h, "x"), {"[DPP3] [TX] Opc: 0  " + head + "0  Ver: 0x01  Status: 0xFF  Q: 5"}},
      {6, 1234, raw, {"[DPP2] [TX] Opc: 261  Src: 0x1234  Dst: 0x5678  Size: 64  Ctrl: 0x14  Ver: 0x02  "
                      "Status: 0x09  FrmPtr: 0x44556677  FrmLen: 0x80  Q: 3"}},
  };
  Pty vty;  // a terminal of the facility receives every record too
  set_debug(category(1, 5, {}, vty.path));
  Lines expected;
  for (const auto& g : datagrams) {
    from_dpp(g.core, g.opcode, g.payload);
    EXPECT_EQ(last(), "");
    expected.insert(expected.end(), g.records.begin(), g.records.end());
  }
  EXPECT_EQ(facility(), expected);
  const std::string all = client::read_file(client::dbgfac_log_path(p(), "dpp_debug")).value_or("");
  EXPECT_EQ(vty.read_until(all.substr(all.size() - 20)), all);
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
  if (lines.empty() || !lines[0].starts_with("#### ") || lines[0].size() != 29 || lines[0][18] != ':' || lines[0][21] != ':')
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
  ASSERT_EQ(client::make_dirs(d().card_path("/var/log/external")), 0);
  ASSERT_EQ(::symlink("/nowhere", link("dbg.2").c_str()), 0);  // a stale link is replaced

  EXPECT_EQ(set_debug(files(1)), "");
  std::string none_yet;
  for (int n = 1; n <= 4; ++n) {
    const std::string name = "dbg." + std::to_string(n);
    EXPECT_EQ(client::read_file(file(name)), "") << name;
    EXPECT_EQ(readlink_of(link(name)), file(name)) << name;
    none_yet += logfile_line(n, name, 0, 0);
  }
  EXPECT_EQ(show(), none_yet + all_four);
  EXPECT_EQ(last(), "\n Display output files map:15 flag:0 plinder_dpps:15\n Display map:15");

  record(0, "one");
  record(3, "two");
  from_dpp(9, 88, wire::encode_port_debug_text(100, "a\nb\n"));
  EXPECT_EQ(client::read_file(file("dbg.1")), "");  // still in the streams' buffers
  EXPECT_TRUE(facility().empty());
  const std::string report = show();  // the report's seeks write them out
  EXPECT_TRUE(holds(file("dbg.1"), {"[DPP1] mem: one", "[DPP1] mem: two"}));
  EXPECT_TRUE(holds(file("dbg.3"), {"a", "b"}));
  EXPECT_EQ(client::read_file(link("dbg.1")), client::read_file(file("dbg.1")));
  const auto lines1 = client::read_lines(file("dbg.1")).size(), lines3 = client::read_lines(file("dbg.3")).size();
  EXPECT_EQ(report, logfile_line(1, "dbg.1", lines1, client::read_file(file("dbg.1"))->size()) +
                        logfile_line(2, "dbg.2", 0, 0) +
                        logfile_line(3, "dbg.3", lines3, client::read_file(file("dbg.3"))->size()) +
                        logfile_line(4, "dbg.4", 0, 0) + all_four);

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
  record(12, "four");
  // Off: the files stay, written out; the records go to the facility.
  EXPECT_EQ(set_debug(files(0, "ignored")), "");
  EXPECT_TRUE(holds(file("alt.4"), {"[DPP4] mem: four"}));
  EXPECT_EQ(show(), all_four);
  record(12, "five");
  EXPECT_EQ(facility(), Lines{"[DPP4] mem: five"});
  EXPECT_EQ(set_debug(files(0)), "") << "an off request with no file open prints nothing";
  // Reopening a name empties its files.
  set_debug(files(1));
  EXPECT_EQ(client::read_file(file("dbg.1")), "");
  // The report lists the files of DPPs mapped and in logging only; a DPP
  // left out still writes to its file.
  set_debug({.type = 2, .on = 0, .dpp_mask = 0x2, .name = ""});
  notify(7571, feature_rqst(wire::kFeaturePlinderOff, {2}));
  EXPECT_EQ(show(), logfile_line(1, "dbg.1", 0, 0) + logfile_line(4, "dbg.4", 0, 0) + kHead + "1 4 \n\n");
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
  EXPECT_EQ(set_debug(files(1)), "DPPDEBUG_MGR_ERR: Link creation failed for /cpp/plinder_dpp_logs/dbg.1 to "
                                 "/var/log/external/dbg.1\n"
                                 "DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/dbg.2 file\n");
  EXPECT_FALSE(client::path_exists(link("dbg.1")));
  EXPECT_FALSE(client::path_exists(file("dbg.2")));
  record(0, "kept");
  record(4, "to the facility");
  EXPECT_EQ(set_debug(files(1)), "");
  // DPP 1: a stamp line (30 bytes) and "[DPP1] mem: kept\n" (17).
  EXPECT_EQ(show(), logfile_line(1, "dbg.1", 2, 30 + 17) + logfile_line(3, "dbg.3", 0, 0) +
                        logfile_line(4, "dbg.4", 0, 0) + kHead + "1 2 3 4 \n\n");
  EXPECT_TRUE(holds(file("dbg.1"), {"[DPP1] mem: kept"}));
  EXPECT_EQ(facility(), Lines{"[DPP2] mem: to the facility"});

  // A name leading out of the card's directories is refused like any
  // unwritable path, and is tried again the next time.
  std::string refused;
  for (int n = 1; n <= 4; ++n)
    refused += "DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/../../../../esc." + std::to_string(n) + " file\n";
  EXPECT_EQ(set_debug(files(1, "../../../../esc")), refused);
  EXPECT_EQ(set_debug(files(1, "../../../../esc")), refused);
  EXPECT_FALSE(client::path_exists(d().dir() + "/esc.1"));
}

// On a one-DPP card only DPP 1 has a file; records of DPP numbers above the
// card's go to the facility.
TEST_F(LogTest, OneDppCardAndDppNumbersBeyondIt) {
  start(Options().card("41"));
  set_debug(dpp_map(1, 0, 1));
  EXPECT_EQ(set_debug(files(1, "one")), "");
  EXPECT_FALSE(client::path_exists(file("one.2")));
  record(4, "beyond");
  record(15, "far beyond");
  record(0, "mine");
  from_dpp(4, 88, wire::encode_port_debug_text(50, "port text\n"));
  const std::string report = show();
  EXPECT_EQ(report, logfile_line(1, "one.1", 2, client::read_file(file("one.1"))->size()) + kHead + "1 \n\n");
  EXPECT_TRUE(holds(file("one.1"), {"[DPP1] mem: mine"}));
  EXPECT_EQ(facility(), (Lines{"[DPP2] mem: beyond", "[DPP4] mem: far beyond", "port text"}));
}

// The zone of the notification, not the one the daemon started with, shapes
// the time-stamp lines.
TEST_F(LogTest, TimeStampsFollowTheNotifiedZone) {
  start(Options().set("TZ", "XYZ+3"));
  set_debug(dpp_map(1, 0x1));
  notify(3102, Buf{'X', 'Y', 'Z', '-', '5', 0});
  set_debug(files(1, "east"));
  const std::time_t before = std::time(nullptr);
  record(0, "five hours east");
  const std::time_t after = std::time(nullptr);
  show();
  EXPECT_TRUE(holds(file("east.1"), {"[DPP1] mem: five hours east"}));
  std::tm tm{};
  const std::string stamp = client::read_lines(file("east.1")).at(0);
  ASSERT_TRUE(::strptime(stamp.c_str() + 5, "%a %b %d %H:%M:%S %Y", &tm));
  const std::time_t east = ::timegm(&tm) - 5 * 3600;
  EXPECT_GE(east, before);
  EXPECT_LE(east, after);
}

TEST_F(LogTest, NamesAndTextsAsLongAsThePayload) {
  start();
  for (std::uint8_t type : {1, 2, 4}) {  // a name filling the whole payload
    Buf name(wire::vesk_frame::kMaxPayload, 'n');
    std::tie(name[0], name[1], name[2]) = std::tuple(type, 1, 0);
    set_debug(name);
    name[1] = 0;
    set_debug(name);
  }
  tell(3102, Buf(wire::vesk_frame::kMaxPayload, 'Z'));
  const std::string long_name(5000, 'L');
  set_debug(files(1, long_name));  // no file, no link, nothing outside
  set_debug(category(1, 5, {}, long_name));  // longer than a terminal path: not added
  EXPECT_TRUE(client::dbgfac_vtys(p()).empty());
  EXPECT_EQ(show(), kHead + "\n\nmemory management is on\n");
}

}  // namespace
}  // namespace e2e
