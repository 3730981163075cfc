// What no end-to-end run can steer: the time-stamp rule under a clock the
// test moves, the ring's wrap at exactly 2 MiB, and the release of files
// still open.
#include "dpplog/log_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

std::time_t fake_now = 1700000000;  // Tue Nov 14 22:13:20 2023 UTC
constexpr const char* kStamp0 = "#### Tue Nov 14 22:13:20 2023\n";

// DPP 1 of a one-DPP manager writes to a fresh temporary file.
class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    ASSERT_EQ(alloc_dpp_files_tables(1), 0);
    output_files[1] = file_ = tmpfile();
    fd_ = dup(fileno(file_));
    dpplog_now = [] { return fake_now; };
  }
  void TearDown() override {
    release_dpp_files_tables();
    close(fd_);
  }
  std::string content() {
    if (output_files != nullptr) fflush(output_files[1]);
    std::string s(static_cast<std::size_t>(lseek(fd_, 0, SEEK_END)), '\0');
    EXPECT_EQ(pread(fd_, s.data(), s.size(), 0), static_cast<ssize_t>(s.size()));
    return s;
  }
  FILE* file_ = nullptr;
  int fd_ = -1;
};

TEST_F(LogFileTest, TimeStampLinesFollowTheClock) {
  const struct {
    int advance;  // seconds the clock moves before the record
    const char* text;
  } steps[] = {{0, "a"},     // the file's first record: plain stamp
               {0, "b"},     // the same second shares it
               {1, "c"},     // one second on: plain stamp
               {5, "d\n"},   // five on: the gap; the record's own newline adds a line
               {-100, "e"},  // clock set back: no stamp
               {100, "f"},   // back at the last stamp, not past it: still none
               {2, "g"}};    // past it: the gap since the last stamp
  for (const auto& s : steps) {
    fake_now += s.advance;
    fprintf_klaxo(1, "%s", s.text);
  }
  fprintf_klaxo(2, "no such DPP");
  EXPECT_EQ(content(), std::string(kStamp0) +
                           "a\nb\n#### Tue Nov 14 22:13:21 2023\nc\n"
                           "#### [5 sec] Tue Nov 14 22:13:26 2023\nd\n\ne\nf\n"
                           "#### [2 sec] Tue Nov 14 22:13:28 2023\ng\n");
  EXPECT_EQ(last_lineno[1], 11);  // 7 records and 4 stamps
  EXPECT_EQ(last_time[1], 1700000008);
  // Released, the file is closed with its buffer written out.
  fprintf_klaxo(1, "last");
  release_dpp_files_tables();
  EXPECT_TRUE(content().ends_with("g\nlast\n"));
  EXPECT_FALSE(dpp_has_log_file(1));
}

TEST_F(LogFileTest, PositionOfExactly2MiBDoesNotWrapOneByteMoreDoes) {
  const std::string kilo(1023, 'k');  // 1024 bytes with the newline
  fake_now = 1700000000;
  while (ftell(file_) + 1024 <= kLogFileWrap) fprintf_klaxo(1, "%s", kilo.c_str());
  fprintf_klaxo(1, "%s", std::string(kLogFileWrap - ftell(file_) - 1, 'r').c_str());
  EXPECT_EQ(ftell(file_), 2097152);
  fprintf_klaxo(1, "%s", "");  // one newline: 2,097,153
  EXPECT_EQ(ftell(file_), 0);
  EXPECT_EQ(last_lineno[1], 0);
  // The file keeps its size; new records overwrite the oldest from the
  // start, and the stamps go on from the last one.
  fprintf_klaxo(1, "new");
  fake_now += 3;
  fprintf_klaxo(1, "later");
  const std::string head = "new\n#### [3 sec] Tue Nov 14 22:13:23 2023\nlater\n";
  const std::string all = content();
  EXPECT_EQ(all.size(), 2097153u);
  EXPECT_EQ(all.substr(0, head.size() + 3), head + "kkk");
  EXPECT_EQ(last_lineno[1], 3);
}

}  // namespace
