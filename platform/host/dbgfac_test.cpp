#include "platform/dbgfac.h"

#include <pty.h>
#include <sys/stat.h>
#include <termios.h>

#include <chrono>

#include "platform/host/test_support.h"

namespace {

constexpr const char* kFacility = "dpp_debug";

// Reads from fd until `want` has arrived or two seconds have passed.
std::string read_until(int fd, const std::string& want) {
  std::string got;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (got.find(want) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) != 1) continue;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

class DbgfacTest : public host_test::PlatformTest {
 protected:
  std::string log() const { return read_file(path("dbgfac/dpp_debug.log")); }
  std::string vtys() const { return read_file(path("dbgfac/dpp_debug.vtys")); }
  static int vty(int op, const std::string& path) {
    return dbgfac_vty_notify(-1, op, kFacility, path.c_str());
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
  EXPECT_EQ(text.substr(13, cut - 13), big.substr(0, cut - 13));
  EXPECT_EQ(text.substr(cut + 1), "next\n");
}

// Terminal writes never block the daemon: one that does not read, or whose
// reader left, or that cannot be opened, costs the others nothing.
TEST_F(DbgfacTest, TerminalsReceiveEachRecordWhileAddedAndStuckOnesAreSkipped) {
  char name[128];
  termios raw{};
  cfmakeraw(&raw);  // no newline translation: the master sees the bytes written
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, name, &raw, nullptr), 0);
  fds_.insert(fds_.end(), {master, slave});
  std::string unopened = path("unopened"), full = path("full");
  ASSERT_EQ(mkfifo(unopened.c_str(), 0600), 0);  // no reader: cannot be opened for writing
  ASSERT_EQ(mkfifo(full.c_str(), 0600), 0);
  int reader = open(full.c_str(), O_RDONLY | O_NONBLOCK);  // never reads until the end
  ASSERT_GE(reader, 0);
  for (std::string t : {std::string("/nonexistent/tty"), unopened, full})
    ASSERT_EQ(vty(DBGFAC_VTY_ADD, t), 0) << t;

  auto start = std::chrono::steady_clock::now();
  std::string record(3000, 'r');
  for (int i = 0; i < 40; ++i) klaxo(1, kFacility, 0, "%s", record.c_str());  // > a pipe's buffer
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(read_until(reader, record + "\n").substr(0, 3001), record + "\n");
  close(reader);
  ASSERT_EQ(vty(DBGFAC_VTY_ADD, name), 0);
  klaxo(1, kFacility, 0, "line %d", 1);  // the FIFO has no reader now: no SIGPIPE
  EXPECT_EQ(read_until(master, "line 1\n"), "line 1\n");
  ASSERT_EQ(vty(DBGFAC_VTY_REMOVE, name), 0);
  klaxo(1, kFacility, 0, "while removed");
  ASSERT_EQ(vty(DBGFAC_VTY_ADD, name), 0);
  klaxo(1, kFacility, 0, "back");
  EXPECT_EQ(read_until(master, "back\n"), "back\n");
  EXPECT_EQ(log().size(), 40 * 3001u + 7 + 14 + 5);
  EXPECT_TRUE(log().ends_with(record + "\nline 1\nwhile removed\nback\n"));
}

TEST_F(DbgfacTest, TerminalListFileFollowsAddsAndRemoves) {
  EXPECT_EQ(vty(DBGFAC_VTY_ADD, "/dev/pts/1\n/x"), -1);  // would break the list's lines
  for (const char* t : {"/dev/pts/3", "/dev/pts/7", "/dev/pts/3"}) ASSERT_EQ(vty(DBGFAC_VTY_ADD, t), 0);
  EXPECT_EQ(vtys(), "/dev/pts/3\n/dev/pts/7\n");
  ASSERT_EQ(vty(DBGFAC_VTY_REMOVE, "/dev/pts/3"), 0);
  ASSERT_EQ(vty(DBGFAC_VTY_REMOVE, "/dev/pts/9"), 0);
  EXPECT_EQ(vtys(), "/dev/pts/7\n");
  ASSERT_EQ(vty(DBGFAC_VTY_REMOVE, "/dev/pts/7"), 0);
  EXPECT_EQ(vtys(), "");
}

}  // namespace
