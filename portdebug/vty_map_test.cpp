#include "portdebug/vty_map.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Number of descriptors this process holds open.
int open_fd_count() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n - 1;  // the directory stream's own descriptor
}

std::vector<int> rows_in_use() {
  std::vector<int> rows;
  for (int i = 0; i < static_cast<int>(kVtyMapRows); ++i)
    if (cmdVTYmap[i].module != 0 || cmdVTYmap[i].mask != 0) rows.push_back(i);
  return rows;
}

// Every test starts and ends with a free map and two terminal stand-ins
// (regular files) in a directory of its own.
class VtyMap : public ::testing::Test {
 protected:
  void SetUp() override {
    initCmdVTYmap();
    char templ[] = "/tmp/dravik-vtymap-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    a_ = dir_ + "/a";
    b_ = dir_ + "/b";
    std::ofstream(a_).flush();
    std::ofstream(b_).flush();
  }
  void TearDown() override {
    stop_all();
    std::filesystem::remove_all(dir_);
  }
  static void stop_all() {
    for (VTYmapElement& row : cmdVTYmap)
      if (row.module != 0 || row.mask != 0) close(row.vtyfd);
    initCmdVTYmap();
  }
  std::string dir_, a_, b_;
};

TEST_F(VtyMap, AllocationMergeAndRelease) {
  const int fds = open_fd_count();
  // New keys are taken from the top; the same key merges without an open.
  ASSERT_EQ(storeInMap(0x1, 55, a_.c_str(), 0), 0);
  ASSERT_EQ(storeInMap(0x1, 66, a_.c_str(), 0), 0);
  ASSERT_EQ(storeInMap(0x4, 55, a_.c_str(), 0), 0);
  ASSERT_EQ(storeInMap(0x3, 55, b_.c_str(), 0), 0);
  ASSERT_EQ(storeInMap(0x1, 55, a_.c_str(), 3), 0);
  EXPECT_EQ(rows_in_use(), (std::vector<int>{96, 97, 98, 99}));
  EXPECT_EQ(cmdVTYmap[99].mask, 0x5u);
  EXPECT_EQ(cmdVTYmap[98].module, 66u);
  EXPECT_STREQ(cmdVTYmap[97].vty, b_.c_str());
  EXPECT_EQ(cmdVTYmap[96].port, 3u);
  EXPECT_EQ(open_fd_count(), fds + 4);

  // Bits not held, or a key with no row, change nothing; the other
  // terminal's row of the same module and port is left alone.
  freeEntry(0x8, 55, a_.c_str(), 0);
  freeEntry(0x1, 55, a_.c_str(), 1);
  freeEntry(0x1, 77, a_.c_str(), 0);
  freeEntry(0x1, 55, a_.c_str(), 0);
  EXPECT_EQ(cmdVTYmap[99].mask, 0x4u);
  EXPECT_EQ(cmdVTYmap[97].mask, 0x3u);
  EXPECT_EQ(rows_in_use().size(), 4u);

  // An emptied row is freed and closed, and is the next one taken even
  // though lower rows are free.
  freeEntry(0x1, 66, a_.c_str(), 0);
  EXPECT_EQ(rows_in_use(), (std::vector<int>{96, 97, 99}));
  EXPECT_EQ(open_fd_count(), fds + 3);
  ASSERT_EQ(storeInMap(0x2, 80, b_.c_str(), 7), 0);
  EXPECT_EQ(cmdVTYmap[98].module, 80u);
  EXPECT_EQ(cmdVTYmap[98].port, 7u);
  EXPECT_EQ(open_fd_count(), fds + 4);
}

TEST_F(VtyMap, LastMatchingRowAloneDecides) {
  auto place = [](int index, std::uint32_t module, std::uint32_t port, std::uint32_t mask) {
    cmdVTYmap[index].module = module;
    cmdVTYmap[index].port = port;
    cmdVTYmap[index].mask = mask;
    cmdVTYmap[index].vtyfd = -1;
  };
  place(10, 55, 0, 0x1);
  place(20, 55, 0, 0x2);
  place(30, 55, 1, 0x3);  // another port
  place(40, 66, 0, 0x3);  // another module
  EXPECT_EQ(notRegisteredMask(0x3, 55, 0), 0x1u);  // row 10's 0x1 does not count
  EXPECT_EQ(notRegisteredMask(0x3, 55, 1), 0x0u);
  EXPECT_EQ(notRegisteredMask(0x7, 66, 0), 0x4u);
  EXPECT_EQ(notRegisteredMask(0x3, 55, 2), 0x3u);  // no row: every bit
  initCmdVTYmap();
}

}  // namespace
