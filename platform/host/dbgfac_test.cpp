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
  static int vty(int op, const std::string& path) {
    return dbgfac_vty_notify(-1, op, kFacility, path.c_str());
  }
  // A FIFO opened for reading and never read (closed at the end of the test).
  int fifo_reader(const std::string& at) {
    EXPECT_EQ(mkfifo(at.c_str(), 0600), 0);
    int reader = open(at.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_GE(reader, 0);
    return reader;
  }
};

TEST_F(DbgfacTest, RecordsAreAppendedWholeWithANewlineAndOverlongOnesCut) {
  klaxo(1, kFacility, 0, "DPP %d: %s", 2, "hello");
  klaxo(1, "other", 0, "elsewhere");
  klaxo(1, "../escape", 0, "x");  // not a file name: written nowhere
  std::string big(10000, 'z');
  klaxo(1, kFacility, 0, "%s", big.c_str());
  klaxo(1, kFacility, 0, "next");
  EXPECT_EQ(read_file(path("dbgfac/other.log")), "elsewhere\n");
  EXPECT_FALSE(exists(path("escape.log")));
  std::string text = log();
  ASSERT_TRUE(text.starts_with("DPP 2: hello\nzzz")) << text.substr(0, 20);
  auto cut = text.find('\n', 13);
  EXPECT_GT(cut, 1000u);
  EXPECT_LT(cut - 13, big.size());
  EXPECT_EQ(text.substr(13, cut - 13), big.substr(0, cut - 13));
  EXPECT_EQ(text.substr(cut + 1), "next\n");
}

TEST_F(DbgfacTest, TerminalsReceiveEachRecordWhileAddedAndUnusableOnesAreSkipped) {
  Pty tty;
  std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // no reader: cannot be opened for writing
  for (std::string t : {std::string("/nonexistent/tty"), fifo, tty.name})
    ASSERT_EQ(vty(DBGFAC_VTY_ADD, t), 0) << t;
  klaxo(1, kFacility, 0, "line %d", 1);
  klaxo(1, kFacility, 0, "line %d", 2);
  EXPECT_EQ(read_until(tty.master, "line 2\n"), "line 1\nline 2\n");
  ASSERT_EQ(vty(DBGFAC_VTY_REMOVE, tty.name), 0);
  klaxo(1, kFacility, 0, "while removed");
  ASSERT_EQ(vty(DBGFAC_VTY_ADD, tty.name), 0);
  klaxo(1, kFacility, 0, "back");
  EXPECT_EQ(read_until(tty.master, "back\n"), "back\n");
  EXPECT_EQ(log(), "line 1\nline 2\nwhile removed\nback\n");
}

TEST_F(DbgfacTest, TerminalThatDoesNotReadOrWhoseReaderLeftNeverStopsTheRecords) {
  std::string full = path("full");
  int reader = fifo_reader(full);
  ASSERT_EQ(vty(DBGFAC_VTY_ADD, full), 0);
  auto start = std::chrono::steady_clock::now();
  std::string record(3000, 'r');
  for (int i = 0; i < 40; ++i) klaxo(1, kFacility, 0, "%s", record.c_str());  // > a pipe's buffer
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(log().size(), 40 * 3001u);
  // What fitted arrived in whole records' bytes, in order.
  EXPECT_EQ(read_until(reader, record + "\n").substr(0, 3001), record + "\n");
  close(reader);
  klaxo(1, kFacility, 0, "after");  // the FIFO has no reader now: skipped, no SIGPIPE
  EXPECT_TRUE(log().ends_with(record + "\nafter\n"));
}

TEST_F(DbgfacTest, TerminalListFileFollowsAddsAndRemoves) {
  EXPECT_EQ(vty(926, "/dev/pts/1"), -1);  // no such operation
  EXPECT_EQ(vty(DBGFAC_VTY_ADD, ""), -1);
  EXPECT_EQ(vty(DBGFAC_VTY_ADD, "/dev/pts/1\n/x"), -1);
  EXPECT_EQ(dbgfac_vty_notify(-1, DBGFAC_VTY_ADD, "a/b", "/dev/null"), -1);
  EXPECT_FALSE(exists(path("dbgfac/dpp_debug.vtys")));

  for (const char* t : {"/dev/pts/3", "/dev/pts/7", "/dev/pts/3"}) ASSERT_EQ(vty(DBGFAC_VTY_ADD, t), 0);
  EXPECT_EQ(vtys(), "/dev/pts/3\n/dev/pts/7\n");
  ASSERT_EQ(vty(DBGFAC_VTY_REMOVE, "/dev/pts/3"), 0);
  ASSERT_EQ(vty(DBGFAC_VTY_REMOVE, "/dev/pts/9"), 0);
  EXPECT_EQ(vtys(), "/dev/pts/7\n");
  ASSERT_EQ(vty(DBGFAC_VTY_REMOVE, "/dev/pts/7"), 0);
  EXPECT_EQ(vtys(), "");
  EXPECT_TRUE(exists(path("dbgfac/dpp_debug.vtys")));
}

}  // namespace
