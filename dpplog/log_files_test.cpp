// Per-DPP log files: time stamps, the 2 MiB ring, and opening/closing sets.
#include "dpplog/log_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "dpplog/manager.h"
#include "dpplog/test_support.h"

namespace dpplog_test {
namespace {

constexpr const char* kStamp0 = "#### Tue Nov 14 22:13:20 2023\n";  // fake_now at start

class LogFilesTest : public ManagerTest {
 protected:
  void open_set(const std::string& name, int card = 41) {
    ASSERT_EQ(start(card), 0);
    stdout_of([&] { set_output_file(wire::decode_set_debug(set_output(true, name))); });
    ASSERT_NE(output_files[1], nullptr);
  }
  std::string file(const std::string& name) {
    for (int n = 1; n <= num_dpps; ++n)
      if (output_files[n]) fflush(output_files[n]);
    return read_file(card_path("/cpp/plinder_dpp_logs/" + name));
  }
};

TEST_F(LogFilesTest, FirstRecordGetsPlainStampAndSecondShareIt) {
  open_set("dbg");
  fprintf_klaxo(1, "first %d", 1);
  fprintf_klaxo(1, "%s", "second");
  EXPECT_EQ(file("dbg.1"), std::string(kStamp0) + "first 1\nsecond\n");
  EXPECT_EQ(last_lineno[1], 3);
  EXPECT_EQ(last_time[1], 1700000000);
}

TEST_F(LogFilesTest, OneSecondLaterPlainStampFiveSecondsLaterGap) {
  open_set("dbg");
  fprintf_klaxo(1, "a");
  fake_now += 1;
  fprintf_klaxo(1, "b");
  fake_now += 5;
  fprintf_klaxo(1, "c");
  EXPECT_EQ(file("dbg.1"), std::string(kStamp0) + "a\n#### Tue Nov 14 22:13:21 2023\nb\n" +
                               "#### [5 sec] Tue Nov 14 22:13:26 2023\nc\n");
  EXPECT_EQ(last_lineno[1], 6);
}

TEST_F(LogFilesTest, ClockSetBackWritesNoStampUntilItPassesTheLastOne) {
  open_set("dbg");
  fprintf_klaxo(1, "a");
  fake_now -= 100;
  fprintf_klaxo(1, "b");
  fake_now += 100;  // back at the last stamp: still not later
  fprintf_klaxo(1, "c");
  fake_now += 2;
  fprintf_klaxo(1, "d");
  EXPECT_EQ(file("dbg.1"),
            std::string(kStamp0) + "a\nb\nc\n#### [2 sec] Tue Nov 14 22:13:22 2023\nd\n");
}

TEST_F(LogFilesTest, RecordWithItsOwnNewlineCountsAsOneLine) {
  open_set("dbg");
  fprintf_klaxo(1, "%s", "x\n");
  EXPECT_EQ(file("dbg.1"), std::string(kStamp0) + "x\n\n");
  EXPECT_EQ(last_lineno[1], 2);
}

TEST_F(LogFilesTest, TimeZoneOfTheProcessShapesTheStamp) {
  open_set("dbg");
  setenv("TZ", "EST5", 1);
  tzset();
  fprintf_klaxo(1, "a");
  EXPECT_EQ(file("dbg.1"), "#### Tue Nov 14 17:13:20 2023\na\n");
}

// Fills DPP 1's file with one stamp (30 bytes) and records up to `target`.
void fill_to(long target) {
  const std::string kilo(1023, 'k');  // 1024 bytes with its newline
  fprintf_klaxo(1, "%s", kilo.c_str());
  while (ftell(output_files[1]) + 1024 <= target) fprintf_klaxo(1, "%s", kilo.c_str());
  const long rest = target - ftell(output_files[1]);
  if (rest > 0) fprintf_klaxo(1, "%s", std::string(rest - 1, 'r').c_str());
}

TEST_F(LogFilesTest, PositionOfExactly2MiBDoesNotWrapOneByteMoreDoes) {
  open_set("dbg");
  fill_to(kLogFileWrap);
  EXPECT_EQ(ftell(output_files[1]), 2097152);
  const int lines = last_lineno[1];
  EXPECT_GT(lines, 2000);
  fprintf_klaxo(1, "%s", "");  // one newline: 2,097,153
  EXPECT_EQ(ftell(output_files[1]), 0);
  EXPECT_EQ(last_lineno[1], 0);

  // The file keeps its size; new records overwrite the oldest from the start,
  // and the stamp rules go on from the last stamp.
  fprintf_klaxo(1, "new");
  fake_now += 3;
  fprintf_klaxo(1, "later");
  const std::string content = file("dbg.1");
  ASSERT_EQ(content.size(), 2097153u);
  const std::string head = "new\n#### [3 sec] Tue Nov 14 22:13:23 2023\nlater\n";
  EXPECT_EQ(content.substr(0, head.size()), head);
  EXPECT_EQ(content.substr(head.size(), 3), "kkk");  // older bytes remain
  EXPECT_EQ(last_lineno[1], 3);
}

TEST_F(LogFilesTest, RecordEndingPastTheLimitWraps) {
  open_set("dbg");
  fill_to(kLogFileWrap - 10);
  fprintf_klaxo(1, "%s", "0123456789ab");  // ends at 2,097,155
  EXPECT_EQ(ftell(output_files[1]), 0);
  EXPECT_EQ(last_lineno[1], 0);
  EXPECT_EQ(file("dbg.1").size(), 2097155u);
}

TEST_F(LogFilesTest, OnRequestOpensFileAndLinkPerDpp) {
  ASSERT_EQ(start(40), 0);
  std::string out =
      stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  EXPECT_EQ(out, "");
  EXPECT_STREQ(output_filename, "dbg");
  for (int n = 1; n <= 4; ++n) {
    const std::string name = "dbg." + std::to_string(n);
    EXPECT_STREQ(filenames[n], name.c_str());
    EXPECT_EQ(last_lineno[n], 0);
    struct stat f {
    }, l{};
    ASSERT_EQ(stat(card_path("/cpp/plinder_dpp_logs/" + name).c_str(), &f), 0);
    ASSERT_EQ(stat(card_path("/var/log/external/" + name).c_str(), &l), 0) << "link " << name;
    EXPECT_EQ(f.st_ino, l.st_ino);
  }
}

TEST_F(LogFilesTest, StaleLinkIsReplaced) {
  ASSERT_EQ(start(41), 0);
  const std::string other = card_path("/cpp/other");
  ASSERT_EQ(symlink(other.c_str(), card_path("/var/log/external/dbg.1").c_str()), 0);
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  struct stat f {
  }, l{};
  ASSERT_EQ(stat(card_path("/cpp/plinder_dpp_logs/dbg.1").c_str(), &f), 0);
  ASSERT_EQ(stat(card_path("/var/log/external/dbg.1").c_str(), &l), 0);
  EXPECT_EQ(f.st_ino, l.st_ino);
}

TEST_F(LogFilesTest, SameNameAgainChangesNothing) {
  open_set("dbg");
  fprintf_klaxo(1, "kept");
  FILE* before = output_files[1];
  std::string out =
      stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(output_files[1], before);
  EXPECT_EQ(last_lineno[1], 2);
  fprintf_klaxo(1, "more");
  EXPECT_EQ(file("dbg.1"), std::string(kStamp0) + "kept\nmore\n");
}

TEST_F(LogFilesTest, OtherNameClosesOldSetAndOpensNewOne) {
  open_set("dbg");
  fprintf_klaxo(1, "old");  // still in the stream's buffer
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "trc"))); });
  EXPECT_STREQ(output_filename, "trc");
  EXPECT_STREQ(filenames[1], "trc.1");
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")), std::string(kStamp0) + "old\n");
  EXPECT_TRUE(std::filesystem::is_symlink(card_path("/var/log/external/dbg.1")));
  fprintf_klaxo(1, "new");
  EXPECT_EQ(file("trc.1"), std::string(kStamp0) + "new\n");
}

TEST_F(LogFilesTest, OffClosesSetAndReopeningEmptiesTheFiles) {
  open_set("dbg");
  fprintf_klaxo(1, "old");
  std::string out =
      stdout_of([] { set_output_file(wire::decode_set_debug(set_output(false, ""))); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(output_files[1], nullptr);
  EXPECT_EQ(filenames[1], nullptr);
  EXPECT_EQ(output_filename, nullptr);
  EXPECT_FALSE(dpp_has_log_file(1));
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")), std::string(kStamp0) + "old\n");

  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  EXPECT_EQ(file("dbg.1"), "");
}

TEST_F(LogFilesTest, OffWithNothingOpenPrintsNothing) {
  ASSERT_EQ(start(40), 0);
  EXPECT_EQ(stdout_of([] { set_output_file(wire::decode_set_debug(set_output(false, "x"))); }), "");
  EXPECT_EQ(output_filename, nullptr);
}

TEST_F(LogFilesTest, FileThatCannotBeOpenedLeavesThatDppOnKlaxo) {
  ASSERT_EQ(start(40), 0);
  fail("fs_fopen@2");
  std::string out =
      stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  EXPECT_EQ(out, "DPPDEBUG_MGR_ERR: Unable to Create /cpp/plinder_dpp_logs/dbg.2 file\n");
  EXPECT_EQ(output_files[2], nullptr);
  EXPECT_EQ(filenames[2], nullptr);
  EXPECT_NE(output_files[3], nullptr);
  EXPECT_STREQ(output_filename, "dbg");
  // Same name again: nothing is retried, DPP 2 stays without a file.
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  EXPECT_EQ(output_files[2], nullptr);
}

TEST_F(LogFilesTest, NoFileOpenedLeavesNameUnsetSoTheSameRequestRetries) {
  ASSERT_EQ(start(41), 0);
  fail("fs_fopen@1");
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  EXPECT_EQ(output_filename, nullptr);
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  EXPECT_NE(output_files[1], nullptr);
  EXPECT_STREQ(output_filename, "dbg");
}

TEST_F(LogFilesTest, LinkFailureIsReportedAndFileStillUsed) {
  ASSERT_EQ(start(41), 0);
  fail("fs_symlink");
  std::string out =
      stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  EXPECT_EQ(out,
            "DPPDEBUG_MGR_ERR: Link creation failed for /cpp/plinder_dpp_logs/dbg.1 to "
            "/var/log/external/dbg.1\n");
  EXPECT_TRUE(dpp_has_log_file(1));
  EXPECT_STREQ(filenames[1], "dbg.1");
}

TEST_F(LogFilesTest, RecordsAreNotFlushedPerRecord) {
  open_set("dbg");
  fprintf_klaxo(1, "buffered");
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")), "");
}

}  // namespace
}  // namespace dpplog_test
