#include "platform/dbgfac.h"

#include <pty.h>
#include <sys/stat.h>
#include <termios.h>

#include <chrono>

#include "platform/host/test_support.h"

namespace {

using host_test::read_until;

constexpr const char* kFacility = "dpp_debug";

// A pseudo-terminal: the daemon writes to the slave's path, the test reads
// the master.
struct Pty {
  int master = -1;
  int slave = -1;
  std::string name;
  Pty() {
    char n[128];
    termios raw{};
    cfmakeraw(&raw);  // no newline translation: the master sees the bytes written
    EXPECT_EQ(openpty(&master, &slave, n, &raw, nullptr), 0);
    name = n;
  }
  ~Pty() {
    close(slave);
    close(master);
  }
};

class DbgfacTest : public host_test::PlatformTest {
 protected:
  std::string log() const { return read_file(path("dbgfac/dpp_debug.log")); }
  std::string vtys() const { return read_file(path("dbgfac/dpp_debug.vtys")); }
};

TEST_F(DbgfacTest, InitSucceeds) { EXPECT_EQ(dbgfac_init(kFacility, 0, 3), 0); }

TEST_F(DbgfacTest, RecordsAreAppendedWholeWithANewline) {
  klaxo(1, kFacility, 0, "DPP %d: %s", 2, "hello");
  klaxo(1, kFacility, 0, "%s", "second");
  klaxo(1, "other", 0, "elsewhere");
  EXPECT_EQ(log(), "DPP 2: hello\nsecond\n");
  EXPECT_EQ(read_file(path("dbgfac/other.log")), "elsewhere\n");
}

TEST_F(DbgfacTest, OverlongRecordIsCutAndStillEndsTheLine) {
  std::string big(10000, 'z');
  klaxo(1, kFacility, 0, "%s", big.c_str());
  klaxo(1, kFacility, 0, "next");
  std::string text = log();
  auto first_end = text.find('\n');
  ASSERT_NE(first_end, std::string::npos);
  EXPECT_GT(first_end, 1000u);
  EXPECT_LT(first_end, big.size());
  EXPECT_EQ(text.substr(0, first_end), big.substr(0, first_end));
  EXPECT_EQ(text.substr(first_end + 1), "next\n");
}

TEST_F(DbgfacTest, FacilityNameThatIsNotAFileNameWritesNothing) {
  klaxo(1, "../escape", 0, "x");
  EXPECT_FALSE(exists(path("escape.log")));
  EXPECT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, "a/b", "/dev/null"), -1);
}

TEST_F(DbgfacTest, AddedTerminalReceivesEachRecord) {
  Pty tty;
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, tty.name.c_str()), 0);
  klaxo(1, kFacility, 0, "line %d", 1);
  klaxo(1, kFacility, 0, "line %d", 2);
  EXPECT_EQ(read_until(tty.master, "line 2\n"), "line 1\nline 2\n");
  EXPECT_EQ(log(), "line 1\nline 2\n");
}

TEST_F(DbgfacTest, RemovedTerminalReceivesNothingMore) {
  Pty tty;
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, tty.name.c_str()), 0);
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_REMOVE, kFacility, tty.name.c_str()), 0);
  klaxo(1, kFacility, 0, "while removed");
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, tty.name.c_str()), 0);
  klaxo(1, kFacility, 0, "back");
  EXPECT_EQ(read_until(tty.master, "back\n"), "back\n");
}

TEST_F(DbgfacTest, TerminalsThatCannotBeOpenedAreSkipped) {
  Pty tty;
  std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // no reader: cannot be opened for writing
  for (std::string vty : {std::string("/nonexistent/tty"), fifo, tty.name})
    ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, vty.c_str()), 0) << vty;
  klaxo(1, kFacility, 0, "reached");
  EXPECT_EQ(read_until(tty.master, "reached\n"), "reached\n");
  EXPECT_EQ(log(), "reached\n");
}

TEST_F(DbgfacTest, TerminalThatDoesNotReadNeverBlocksTheRecords) {
  std::string full = path("full");
  ASSERT_EQ(mkfifo(full.c_str(), 0600), 0);
  int reader = open(full.c_str(), O_RDONLY | O_NONBLOCK);  // opened, never read
  ASSERT_GE(reader, 0);
  fds_.push_back(reader);
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, full.c_str()), 0);

  auto start = std::chrono::steady_clock::now();
  std::string record(3000, 'r');
  for (int i = 0; i < 40; ++i) klaxo(1, kFacility, 0, "%s", record.c_str());  // > a pipe's buffer
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(log().size(), 40 * 3001u);
  // What fitted arrived in whole records' bytes, in order.
  std::string got = read_until(reader, std::string(3000, 'r') + "\n");
  EXPECT_EQ(got.substr(0, 3001), record + "\n");
}

TEST_F(DbgfacTest, TerminalWhoseReaderLeftDoesNotEndTheProcess) {
  std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, fifo.c_str()), 0);
  klaxo(1, kFacility, 0, "while read");
  EXPECT_EQ(read_until(reader, "while read\n"), "while read\n");
  close(reader);
  klaxo(1, kFacility, 0, "after");  // the FIFO has no reader now: skipped
  EXPECT_EQ(log(), "while read\nafter\n");
}

TEST_F(DbgfacTest, TerminalListFileFollowsAddsAndRemoves) {
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, "/dev/pts/3"), 0);
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, "/dev/pts/7"), 0);
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, "/dev/pts/3"), 0);
  EXPECT_EQ(vtys(), "/dev/pts/3\n/dev/pts/7\n");
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_REMOVE, kFacility, "/dev/pts/3"), 0);
  EXPECT_EQ(vtys(), "/dev/pts/7\n");
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_REMOVE, kFacility, "/dev/pts/9"), 0);
  EXPECT_EQ(vtys(), "/dev/pts/7\n");
  ASSERT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_REMOVE, kFacility, "/dev/pts/7"), 0);
  EXPECT_EQ(vtys(), "");
  EXPECT_TRUE(exists(path("dbgfac/dpp_debug.vtys")));
}

TEST_F(DbgfacTest, UnknownOperationOrUnusablePathIsRefused) {
  EXPECT_EQ(dbgfac_vty_notify(-1, 926, kFacility, "/dev/pts/1"), -1);
  EXPECT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, ""), -1);
  EXPECT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, kFacility, "/dev/pts/1\n/x"), -1);
  EXPECT_FALSE(exists(path("dbgfac/dpp_debug.vtys")));
}

}  // namespace
