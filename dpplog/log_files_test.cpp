// Per-DPP log files with a controllable clock: the time-stamp rule and the
// 2 MiB ring. (Opening, closing and links are checked end to end.)
#include "dpplog/log_files.h"

#include <string>

#include "dpplog/manager.h"
#include "dpplog/test_support.h"

namespace dpplog_test {
namespace {

constexpr const char* kStamp0 = "#### Tue Nov 14 22:13:20 2023\n";  // fake_now at start

class LogFilesTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    ASSERT_EQ(start(41), 0);
    stdout_of([] { set_output_file(output_request(true, "dbg")); });
    ASSERT_TRUE(dpp_has_log_file(1));
  }
  std::string file() {
    fflush(output_files[1]);
    return read_file(card_path("/cpp/plinder_dpp_logs/dbg.1"));
  }
};

TEST_F(LogFilesTest, TimeStampLinesFollowTheClock) {
  struct Step {
    int advance;  // seconds the clock moves before the record
    const char* text;
  };
  const Step steps[] = {
      {0, "a"},     // first record of the file: plain stamp
      {0, "b"},     // same second: shares it
      {1, "c"},     // one second on: plain stamp
      {5, "d\n"},   // five on: the gap; a record's own newline adds an empty line
      {-100, "e"},  // clock set back: no stamp
      {100, "f"},   // back at the last stamp, not past it: still none
      {2, "g"},     // past it: the gap since the last stamp
  };
  for (const Step& s : steps) {
    fake_now += s.advance;
    fprintf_klaxo(1, "%s", s.text);
  }
  EXPECT_EQ(file(), std::string(kStamp0) +
                        "a\nb\n#### Tue Nov 14 22:13:21 2023\nc\n"
                        "#### [5 sec] Tue Nov 14 22:13:26 2023\nd\n\ne\nf\n"
                        "#### [2 sec] Tue Nov 14 22:13:28 2023\ng\n");
  EXPECT_EQ(last_lineno[1], 11);  // 7 records and 4 stamps
  EXPECT_EQ(last_time[1], 1700000008);
}

// Fills DPP 1's file with a stamp (30 bytes) and records up to `target`.
void fill_to(long target) {
  const std::string kilo(1023, 'k');  // 1024 bytes with its newline
  fprintf_klaxo(1, "%s", kilo.c_str());
  while (ftell(output_files[1]) + 1024 <= target) fprintf_klaxo(1, "%s", kilo.c_str());
  const long rest = target - ftell(output_files[1]);
  if (rest > 0) fprintf_klaxo(1, "%s", std::string(rest - 1, 'r').c_str());
}

TEST_F(LogFilesTest, PositionOfExactly2MiBDoesNotWrapOneByteMoreDoes) {
  fill_to(0x200000);
  EXPECT_EQ(ftell(output_files[1]), 2097152);
  EXPECT_GT(last_lineno[1], 2000);
  fprintf_klaxo(1, "%s", "");  // one newline: 2,097,153
  EXPECT_EQ(ftell(output_files[1]), 0);
  EXPECT_EQ(last_lineno[1], 0);

  // The file keeps its size; new records overwrite the oldest from the start,
  // and the stamp rules go on from the last stamp.
  fprintf_klaxo(1, "new");
  fake_now += 3;
  fprintf_klaxo(1, "later");
  const std::string content = file();
  ASSERT_EQ(content.size(), 2097153u);
  const std::string head = "new\n#### [3 sec] Tue Nov 14 22:13:23 2023\nlater\n";
  EXPECT_EQ(content.substr(0, head.size()), head);
  EXPECT_EQ(content.substr(head.size(), 3), "kkk");  // older bytes remain
  EXPECT_EQ(last_lineno[1], 3);
}

TEST_F(LogFilesTest, RecordEndingPastTheLimitWraps) {
  fill_to(0x200000 - 10);
  fprintf_klaxo(1, "%s", "0123456789ab");  // ends at 2,097,155
  EXPECT_EQ(ftell(output_files[1]), 0);
  EXPECT_EQ(last_lineno[1], 0);
  EXPECT_EQ(file().size(), 2097155u);
}

}  // namespace
}  // namespace dpplog_test
