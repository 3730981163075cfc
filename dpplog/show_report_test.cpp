// The show report: its pieces, its cut at 4095 characters, and its reply.
#include "dpplog/show_report.h"

#include <string>

#include "dpplog/control.h"
#include "dpplog/log_files.h"
#include "dpplog/manager.h"
#include "dpplog/test_support.h"

namespace dpplog_test {
namespace {

class ShowReportTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    ASSERT_EQ(start(40), 0);
  }
  // Sends a show request and returns the reply's payload.
  Bytes show() {
    handle(kOpcodeShowDebug, {});
    wire::VeskReplyFrame r;
    EXPECT_TRUE(reply(&r));
    EXPECT_EQ(r.header, wire::kReplyHeaderBytes);
    EXPECT_EQ(r.opcode, kOpcodeShowDebug);
    return r.payload;
  }
  // Builds the report into show_buf, keeping its debug lines off the output.
  static void report() {
    stdout_of([] { build_show_report(); });
  }
  static std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
  void set(const Bytes& payload) {
    handle(kOpcodeSetDebug, payload);
    wire::VeskReplyFrame r;
    EXPECT_TRUE(reply(&r));
  }
};

TEST_F(ShowReportTest, RightAfterStartIs41CharactersAndItsNul) {
  const Bytes b = show();
  const std::string expected = "\nDebug level: 6 (INFO)\n\nDPP instances: \n\n";
  ASSERT_EQ(expected.size(), 41u);
  EXPECT_EQ(text(b), expected + std::string(1, '\0'));
}

TEST_F(ShowReportTest, MapLinesGoToStandardOutputOnly) {
  set(set_dpp_map(true, false, 0x3));
  std::string out = handle(kOpcodeShowDebug, {});
  EXPECT_EQ(out, "\n Display output files map:3 flag:0 plinder_dpps:15");
  EXPECT_STREQ(show_buf, "\nDebug level: 6 (INFO)\n\nDPP instances: 1 2 \n\n");
}

TEST_F(ShowReportTest, InstancesAreThePlinderDppsInTheMap) {
  set(set_dpp_map(true, true, 0));
  plinder_dpps = 0xA;
  report();
  EXPECT_NE(std::string(show_buf).find("DPP instances: 2 4 \n\n"), std::string::npos);
}

TEST_F(ShowReportTest, OverriddenCategoryIsNotListed) {
  set(set_categories(true, false, 3, "/dev/pts/1", {1, 0, 0, 0x10}));
  set(set_categories(true, false, 29, "/dev/pts/1", {0, 0xFFFFFFFF, 0, 0}));
  report();
  EXPECT_STREQ(show_buf,
               "\nDebug level: 6 (INFO)\n\nDPP instances: \n\n"
               "rx ipc message is on\n"
               "    filter 1 is 0x00000001 (1)\n"
               "    filter 4 is 0x00000010 (16)\n"
               "fsm is on\n"
               "    filter 2 is 0xFFFFFFFF (-1)\n");
  // Once the overriding category is off, the other is listed again.
  set(set_categories(false, false, 3, "/dev/pts/1"));  // clears 3 and 1
  set(set_categories(true, false, 1, "/dev/pts/1", {2, 0, 0, 0}));
  report();
  EXPECT_NE(
      std::string(show_buf).find("rx ipc message header is on\n    filter 1 is 0x00000002 (2)\n"),
      std::string::npos);
}

TEST_F(ShowReportTest, LevelNames) {
  set(set_level(7));
  report();
  EXPECT_EQ(std::string(show_buf).rfind("\nDebug level: 7 (DEBUG)\n\n", 0), 0u);
  set(set_level(0));
  report();
  EXPECT_EQ(std::string(show_buf).rfind("\nDebug level: 0 (EMERG)\n\n", 0), 0u);
  set(set_level(200));
  report();
  EXPECT_EQ(std::string(show_buf).rfind("\nDebug level: 200 (UNKNOWN)\n\n", 0), 0u);
}

TEST_F(ShowReportTest, EveryCategoryOnIsCutAt4095) {
  for (int f = 1; f <= 29; ++f) {
    const std::uint32_t w = 0x80000000u;
    set(set_categories(true, false, static_cast<std::uint8_t>(f), "/dev/pts/1", {w, w, w, w}));
  }
  std::string full = "\nDebug level: 6 (INFO)\n\nDPP instances: \n\n";
  for (int n = 3; n <= 29; ++n) {
    full += std::string(debug_flag_entries[n].long_name) + " is on\n";
    for (int w = 1; w <= 4; ++w)
      full += "    filter " + std::to_string(w) + " is 0x80000000 (-2147483648)\n";
  }
  ASSERT_GT(full.size(), 4096u);
  const Bytes b = show();
  ASSERT_EQ(b.size(), 4096u);
  EXPECT_EQ(b.back(), 0);
  EXPECT_EQ(text(b).substr(0, 4095), full.substr(0, 4095));
}

TEST_F(ShowReportTest, OpenLogFilesOfTheMapWithLinesAndSize) {
  set(set_output(true, "dbg"));
  set(set_dpp_map(true, false, 0x5));
  fprintf_klaxo(1, "hello");  // stamp (30 bytes) and record (6), unflushed
  report();
  EXPECT_EQ(std::string(show_buf).rfind("DPP-1 logfile: dbg.1 (line#: 2, size: 36)\n"
                                        "DPP-3 logfile: dbg.3 (line#: 0, size: 0)\n"
                                        "\nDebug level: 6 (INFO)\n\nDPP instances: 1 3 \n\n",
                                        0),
            0u)
      << show_buf;
  // The measurement leaves the stream at its write position.
  fprintf_klaxo(1, "again");
  fflush(output_files[1]);
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")),
            "#### Tue Nov 14 22:13:20 2023\nhello\nagain\n");
}

TEST_F(ShowReportTest, LogFilesAreListedOnlyWhileASetIsOpen) {
  set(set_dpp_map(true, false, 0x1));
  set(set_output(true, "dbg"));
  set(set_output(false, ""));
  std::string out = handle(kOpcodeShowDebug, {});
  EXPECT_EQ(out.find("Display map"), std::string::npos);
  EXPECT_EQ(std::string(show_buf).find("logfile"), std::string::npos);
}

}  // namespace
}  // namespace dpplog_test
