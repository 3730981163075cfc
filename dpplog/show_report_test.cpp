// The show report's pieces that only the manager's state pins down, and its
// cut at 4095 characters. (Its text after real requests is checked end to
// end.)
#include "dpplog/show_report.h"

#include <string>

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
  // The report and its length, its map lines kept off the output.
  static std::string report() {
    std::size_t n = 0;
    stdout_of([&] { n = build_show_report(); });
    EXPECT_EQ(n, std::string(show_buf).size());
    return show_buf;
  }
};

TEST_F(ShowReportTest, FilesCountUnwrittenBytesAndOverriddenCategoriesAreLeftOut) {
  stdout_of([] { set_output_file(output_request(true, "dbg")); });
  dppmap = 0x5;
  fprintf_klaxo(1, "hello");  // a stamp (30 bytes) and the record (6), still buffered
  cur_flag = 0x5 | 1u << 28;  // 3 overrides 1
  cur_filters[0][0] = 9;
  cur_filters[2][0] = 1;
  cur_filters[2][3] = 0x10;
  cur_filters[28][1] = 0xFFFFFFFF;
  debug_level = 200;
  EXPECT_EQ(report(),
            "DPP-1 logfile: dbg.1 (line#: 2, size: 36)\n"
            "DPP-3 logfile: dbg.3 (line#: 0, size: 0)\n"
            "\nDebug level: 200 (UNKNOWN)\n\nDPP instances: 1 3 \n\n"
            "rx ipc message is on\n"
            "    filter 1 is 0x00000001 (1)\n"
            "    filter 4 is 0x00000010 (16)\n"
            "fsm is on\n"
            "    filter 2 is 0xFFFFFFFF (-1)\n");
  // The size was measured without moving the write position.
  fprintf_klaxo(1, "again");
  fflush(output_files[1]);
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")),
            "#### Tue Nov 14 22:13:20 2023\nhello\nagain\n");

  // With the overriding category off, the overridden one is listed.
  cur_flag = 0x1;
  EXPECT_NE(report().find("rx ipc message header is on\n    filter 1 is 0x00000009 (9)\n"),
            std::string::npos);
}

TEST_F(ShowReportTest, EveryCategoryOnIsCutAt4095) {
  cur_flag = kAllCategories;
  for (auto& block : cur_filters)
    for (auto& w : block) w = 0x80000000u;
  std::string full = "\nDebug level: 6 (INFO)\n\nDPP instances: \n\n";
  for (int n = 3; n <= 29; ++n) {
    full += std::string(debug_flag_entries[n].long_name) + " is on\n";
    for (int w = 1; w <= 4; ++w)
      full += "    filter " + std::to_string(w) + " is 0x80000000 (-2147483648)\n";
  }
  ASSERT_GT(full.size(), 4096u);
  EXPECT_EQ(report(), full.substr(0, 4095));
}

}  // namespace
}  // namespace dpplog_test
