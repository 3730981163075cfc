#include "portdebug/vty_map.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "portdebug/test_support.h"

namespace {

using relay_test::DppFlagEndpoint;
using relay_test::make_terminal_file;
using relay_test::open_fd_count;

class VtyMap : public ::testing::Test {
 protected:
  void SetUp() override {
    relay_test::reset_map();
    dir_ = relay_test::scratch_dir();
    term_a_ = make_terminal_file(dir_ + "/vtyA");
    term_b_ = make_terminal_file(dir_ + "/vtyB");
  }
  void TearDown() override { relay_test::reset_map(); }

  static std::vector<int> rows_in_use() {
    std::vector<int> rows;
    for (int i = 0; i < static_cast<int>(kVtyMapRows); ++i)
      if (cmdVTYmap[i].module != 0 || cmdVTYmap[i].mask != 0) rows.push_back(i);
    return rows;
  }

  // Puts a row in place directly, with a handle the map may close.
  static void place(int index, std::uint32_t module, std::uint32_t port, std::uint32_t mask,
                    const char* vty = "/dev/null") {
    VTYmapElement& row = cmdVTYmap[index];
    row.module = module;
    row.port = port;
    row.mask = mask;
    std::snprintf(row.vty, sizeof row.vty, "%s", vty);
    row.vtyfd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  }

  std::string dir_, term_a_, term_b_;
};

TEST_F(VtyMap, NewRowsAreTakenFromTheTopAndFreedRowsFirst) {
  const int fds = open_fd_count();
  ASSERT_EQ(storeInMap(0x1, 55, term_a_.c_str(), 0), 0);
  ASSERT_EQ(storeInMap(0x1, 66, term_a_.c_str(), 0), 0);
  ASSERT_EQ(storeInMap(0x1, 77, term_a_.c_str(), 0), 0);
  EXPECT_EQ(rows_in_use(), (std::vector<int>{97, 98, 99}));
  EXPECT_EQ(cmdVTYmap[99].module, 55u);
  EXPECT_EQ(cmdVTYmap[98].module, 66u);
  EXPECT_EQ(cmdVTYmap[97].module, 77u);
  EXPECT_STREQ(cmdVTYmap[97].vty, term_a_.c_str());
  EXPECT_EQ(open_fd_count(), fds + 3);

  freeEntry(0x1, 66, term_a_.c_str(), 0);
  EXPECT_EQ(rows_in_use(), (std::vector<int>{97, 99}));
  EXPECT_EQ(open_fd_count(), fds + 2);  // the freed row's handle is closed

  ASSERT_EQ(storeInMap(0x2, 80, term_b_.c_str(), 3), 0);
  EXPECT_EQ(rows_in_use(), (std::vector<int>{97, 98, 99}));
  EXPECT_EQ(cmdVTYmap[98].module, 80u);
  EXPECT_EQ(cmdVTYmap[98].port, 3u);
  EXPECT_STREQ(cmdVTYmap[98].vty, term_b_.c_str());
}

TEST_F(VtyMap, SameKeyMergesWithoutReopening) {
  const int fds = open_fd_count();
  ASSERT_EQ(storeInMap(0x1, 55, term_a_.c_str(), 2), 0);
  ASSERT_EQ(storeInMap(0x4, 55, term_a_.c_str(), 2), 0);
  EXPECT_EQ(rows_in_use(), std::vector<int>{99});
  EXPECT_EQ(cmdVTYmap[99].mask, 0x5u);
  EXPECT_EQ(open_fd_count(), fds + 1);

  // Another port, module or terminal is another key.
  ASSERT_EQ(storeInMap(0x1, 55, term_a_.c_str(), 3), 0);
  ASSERT_EQ(storeInMap(0x1, 66, term_a_.c_str(), 2), 0);
  ASSERT_EQ(storeInMap(0x1, 55, term_b_.c_str(), 2), 0);
  EXPECT_EQ(rows_in_use().size(), 4u);
}

TEST_F(VtyMap, ReleasingOneTerminalLeavesTheOther) {
  ASSERT_EQ(storeInMap(0x3, 55, term_a_.c_str(), 0), 0);
  ASSERT_EQ(storeInMap(0x3, 55, term_b_.c_str(), 0), 0);
  freeEntry(0x1, 55, term_a_.c_str(), 0);
  EXPECT_EQ(cmdVTYmap[99].mask, 0x2u);  // partly released, still in use
  EXPECT_EQ(cmdVTYmap[98].mask, 0x3u);

  freeEntry(0x8, 55, term_a_.c_str(), 0);  // bits it does not hold
  EXPECT_EQ(cmdVTYmap[99].mask, 0x2u);
  freeEntry(0x2, 55, term_a_.c_str(), 1);  // no row with that key
  freeEntry(0x2, 66, term_a_.c_str(), 0);
  EXPECT_EQ(rows_in_use(), (std::vector<int>{98, 99}));

  freeEntry(0x2, 55, term_a_.c_str(), 0);
  EXPECT_EQ(rows_in_use(), std::vector<int>{98});
  EXPECT_EQ(cmdVTYmap[98].mask, 0x3u);
}

TEST_F(VtyMap, LastMatchingRowAloneDecides) {
  place(10, 55, 0, 0x1);
  place(20, 55, 0, 0x2);
  place(30, 55, 1, 0x3);  // another port
  place(40, 66, 0, 0x3);  // another module
  EXPECT_EQ(notRegisteredMask(0x3, 55, 0), 0x1u);
  EXPECT_EQ(notRegisteredMask(0x3, 55, 1), 0x0u);
  EXPECT_EQ(notRegisteredMask(0x7, 66, 0), 0x4u);
  EXPECT_EQ(notRegisteredMask(0x3, 55, 2), 0x3u);  // no row: every bit
  EXPECT_EQ(notRegisteredMask(0x3, 81, 0), 0x3u);
}

TEST_F(VtyMap, FullMapRefusesNewKeysWithoutLeakingAHandle) {
  for (std::uint32_t port = 0; port < kVtyMapRows; ++port)
    ASSERT_EQ(storeInMap(0x1, 55, term_a_.c_str(), port), 0) << port;
  const int fds = open_fd_count();

  testing::internal::CaptureStdout();
  EXPECT_EQ(storeInMap(0x1, 55, term_b_.c_str(), 0), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "VTYmapElement array full\n");
  EXPECT_EQ(open_fd_count(), fds);

  // A terminal that cannot be opened is reported as such, even when full.
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(storeInMap(0x1, 55, (dir_ + "/missing").c_str(), 0), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("open vty failed: ", 0), 0u);
  EXPECT_EQ(open_fd_count(), fds);

  EXPECT_EQ(storeInMap(0x2, 55, term_a_.c_str(), 7), 0);  // an existing key still merges
  EXPECT_EQ(cmdVTYmap[92].port, 7u);  // rows were taken from 99 downwards
  EXPECT_EQ(cmdVTYmap[92].mask, 0x3u);
  EXPECT_EQ(open_fd_count(), fds);
}

TEST_F(VtyMap, TerminalsThatCannotBeStored) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(storeInMap(0x1, 55, (dir_ + "/missing").c_str(), 0), -1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "open vty failed: " + std::string(std::strerror(ENOENT)) + "\n");
  struct stat st;
  EXPECT_NE(stat((dir_ + "/missing").c_str(), &st), 0);  // never created

  // A FIFO nobody reads must not stall the daemon: the open fails at once.
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  alarm(10);  // a blocking open would otherwise hang the test run
  EXPECT_EQ(storeInMap(0x1, 55, fifo.c_str(), 0), -1);
  alarm(0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "open vty failed: " + std::string(std::strerror(ENXIO)) + "\n");

  // A path that would not fit vty with its NUL is refused, one that does is kept.
  std::string fits = dir_ + "/";
  fits.append(kVtyPathSize - 1 - fits.size(), 'p');
  ASSERT_EQ(fits.size(), 99u);
  make_terminal_file(fits);
  const std::string too_long = fits + "q";
  make_terminal_file(too_long);
  const int fds = open_fd_count();
  EXPECT_EQ(storeInMap(0x1, 55, too_long.c_str(), 0), -1);
  EXPECT_EQ(open_fd_count(), fds);
  EXPECT_TRUE(rows_in_use().empty());
  EXPECT_EQ(storeInMap(0x1, 55, fits.c_str(), 0), 0);
  EXPECT_STREQ(cmdVTYmap[99].vty, fits.c_str());
}

TEST_F(VtyMap, ReleasingEverythingSwitchesOffWhatNoLaterRowHolds) {
  relay_test::ensure_xipc_socket();
  DppFlagEndpoint port0(0), port4(4);
  place(10, 55, 0, 0x3);
  place(20, 55, 0, 0x1);
  place(30, 83, 4, 0x00800000);
  const int fds = open_fd_count();

  stopDebugMsgFlow();

  auto first = port0.next();
  auto second = port0.next();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->msg.mask, 0x2u);  // row 20 still held 0x1
  EXPECT_EQ(second->msg.mask, 0x1u);
  for (const auto* r : {&*first, &*second}) {
    EXPECT_EQ(r->length, 616u);
    EXPECT_EQ(r->from.opcode, 88u);
    EXPECT_EQ(r->from.length, 616u);
    EXPECT_EQ(r->msg.op, 2u);
    EXPECT_EQ(r->msg.module, 55u);
    EXPECT_EQ(r->msg.sess_type, 0u);
    for (std::size_t i = 16; i < 616; ++i) ASSERT_EQ(r->raw[i], 0) << i;
  }
  auto other = port4.next();
  ASSERT_TRUE(other);
  EXPECT_EQ(other->msg.module, 83u);
  EXPECT_EQ(other->msg.mask, 0x00800000u);
  EXPECT_TRUE(port0.idle());
  EXPECT_TRUE(port4.idle());
  EXPECT_TRUE(rows_in_use().empty());
  EXPECT_EQ(open_fd_count(), fds - 3);

  stopDebugMsgFlow();  // nothing left: nothing sent, nothing closed again
  EXPECT_TRUE(port0.idle());
  EXPECT_EQ(open_fd_count(), fds - 3);
}

TEST_F(VtyMap, BitsHeldTwiceAreSentOffTwice) {
  relay_test::ensure_xipc_socket();
  DppFlagEndpoint port0(0);
  place(10, 55, 0, 0x1);
  place(20, 55, 0, 0x1);
  place(30, 55, 0, 0x2);
  stopDebugMsgFlow();
  std::vector<std::uint32_t> sent;
  while (auto r = port0.next()) {
    sent.push_back(r->msg.mask);
    if (port0.idle()) break;
  }
  EXPECT_EQ(sent, (std::vector<std::uint32_t>{0x1, 0x1, 0x2}));
}

TEST_F(VtyMap, PrintMapShowsRowsInUseWithSignedMask) {
  place(5, 55, 0, 0xFFFFFFFF, "/dev/pts/3");
  place(7, 83, 2, 0x00800000, "/dev/pts/4");
  cmdVTYmap[9].module = 0;  // free rows are not shown, whatever they hold
  cmdVTYmap[9].mask = 0;
  std::snprintf(cmdVTYmap[9].vty, sizeof cmdVTYmap[9].vty, "stale");
  const int fd5 = cmdVTYmap[5].vtyfd, fd7 = cmdVTYmap[7].vtyfd;
  testing::internal::CaptureStdout();
  printMap();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Index: 5   mask: -1   module: 55   Port: 0  VTY: /dev/pts/3  VTYfd: " +
                std::to_string(fd5) + "\n" +
                "Index: 7   mask: 8388608   module: 83   Port: 2  VTY: /dev/pts/4  VTYfd: " +
                std::to_string(fd7) + "\n");
}

}  // namespace
