#include "portdebug/show.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "portdebug/cmd_table.h"
#include "portdebug/test_support.h"
#include "portdebug/vty_map.h"

namespace {

using relay_test::make_terminal_file;
using relay_test::read_file;

// printMask's output for one subscription.
std::string listing(std::uint32_t mask, std::uint32_t module, std::int32_t port) {
  char* text = nullptr;
  std::size_t size = 0;
  FILE* stream = open_memstream(&text, &size);
  printMask(mask, module, port, stream);
  std::fclose(stream);
  std::string out(text, size);
  std::free(text);
  return out;
}

bool buf_is_zero() {
  for (char c : buf)
    if (c != 0) return false;
  return true;
}

TEST(PrintMask, AllOfAModuleWhoseAllRowComesFirst) {
  EXPECT_EQ(listing(0xFFFFFFFF, 55, 1), "\tdebug nivo ipstack all port 1\n");
  EXPECT_EQ(listing(0xFFFFFFFF, 66, 4), "\tdebug nivo iscsi all port 4\n");
}

TEST(PrintMask, AllOfAModuleWhoseAllRowComesLater) {
  EXPECT_EQ(listing(0xFFFFFFFF, 80, 3),
            "\tdebug nivo crypto flow port 3\n"
            "\tdebug nivo crypto ipsec port 3\n"
            "\tdebug nivo crypto error port 3\n"
            "\tdebug nivo crypto api port 3\n"
            "\tdebug nivo crypto exc port 3\n"
            "\tdebug nivo crypto ipsec-detail port 3\n");
}

TEST(PrintMask, FirstFittingRowTakesTheBits) {
  // 0x6 is ctlpkt-detail, but ctlpkt (0x2) comes first and 0x4 fits no row.
  EXPECT_EQ(listing(0x6, 77, 1), "\tdebug nivo fcip ctlpkt port 1\n");
  // Bit 0x00400000 of module 55 is shown with row 19's text, also for command 40.
  EXPECT_EQ(listing(cmdMaskTable[40].mask, 55, 2), "\tdebug nivo ipstack tcp port 2 sack\n");
  // Bits of another module are not shown.
  EXPECT_EQ(listing(0x1, 81, 1), "\tdebug nivo quellan fsm port 1\n");
  EXPECT_EQ(listing(0x80000000, 81, 1), "");
}

TEST(PrintMask, FenkFormatsShowThePortFirstAndZeros) {
  for (int id : {103, 105, 106, 107, 108})
    EXPECT_EQ(listing(cmdMaskTable[id].mask, 83, 3),
              "\tdebug pemra lrtp fenk 3 init_fcid 0 targ_fcid 0 ctl dpp 0\n")
        << id;
  EXPECT_EQ(listing(0x00EF001C, 83, 2),
            "\tdebug pemra adap i-t-nexus dpp 2\n"
            "\tdebug pemra adap i-t-nexus-fsm dpp 2\n"
            "\tdebug pemra adap qit-hash dpp 2\n"
            "\tdebug pemra adap xipc-flow dpp 2\n"
            "\tdebug pemra adap pkt-flow dpp 2\n"
            "\tdebug pemra lrtp fenk 2 init_fcid 0 targ_fcid 0 pkt-flow dpp 0\n"
            "\tdebug pemra lrtp fenk 2 init_fcid 0 targ_fcid 0 ctl dpp 0\n");
}

TEST(PrintMask, NothingForAnEmptyMaskOrTable) {
  EXPECT_EQ(listing(0, 55, 1), "");
  const std::uint32_t saved = cmdMaskTableSize;
  cmdMaskTableSize = 1;
  EXPECT_EQ(listing(0xFFFFFFFF, 55, 1), "");
  cmdMaskTableSize = 19;  // the scan ends before row 19
  EXPECT_EQ(listing(0x00400000, 55, 1), "");
  cmdMaskTableSize = 1000;  // never read past the table's rows
  EXPECT_EQ(listing(0x00400000, 55, 1), "\tdebug nivo ipstack tcp port 1 sack\n");
  EXPECT_EQ(listing(0x1, 0, 1), "");  // rows 124/125 have no text
  cmdMaskTableSize = saved;
}

class ShowDebugCmds : public ::testing::Test {
 protected:
  void SetUp() override {
    relay_test::reset_map();
    std::memset(buf, 0, sizeof buf);
    dir_ = relay_test::scratch_dir();
    here_ = make_terminal_file(dir_ + "/here");
    there_ = make_terminal_file(dir_ + "/there");
  }
  void TearDown() override { relay_test::reset_map(); }
  std::string dir_, here_, there_;
};

TEST_F(ShowDebugCmds, ListsEveryRowUnderItsTerminal) {
  ASSERT_EQ(storeInMap(0x00400000, 55, here_.c_str(), 0), 0);  // row 99
  ASSERT_EQ(storeInMap(0x2, 81, there_.c_str(), 1), 0);         // row 98
  ASSERT_EQ(storeInMap(0x6, 77, here_.c_str(), 3), 0);          // row 97
  EXPECT_EQ(showDebugCmds(here_.c_str()), 0);
  EXPECT_EQ(read_file(here_),
            "Current vty(" + here_ + "):\n\tdebug nivo fcip ctlpkt port 4\n" +
                "Other vty(" + there_ + "):\n\tdebug nivo quellan fsm-detail port 2\n" +
                "Current vty(" + here_ + "):\n\tdebug nivo ipstack tcp port 1 sack\n");
  EXPECT_TRUE(buf_is_zero());
  EXPECT_EQ(read_file(there_), "");
}

TEST_F(ShowDebugCmds, EmptyMapWritesNothing) {
  EXPECT_EQ(showDebugCmds(here_.c_str()), 0);
  EXPECT_EQ(read_file(here_), "");
  EXPECT_TRUE(buf_is_zero());
}

TEST_F(ShowDebugCmds, RowsWithoutBitsAreNotListed) {
  ASSERT_EQ(storeInMap(0, 55, there_.c_str(), 0), 0);  // in use, but no bits
  EXPECT_EQ(showDebugCmds(here_.c_str()), 0);
  EXPECT_EQ(read_file(here_), "");
  EXPECT_EQ(showDebugCmds((dir_ + "/no/such").c_str()), 0);
  EXPECT_TRUE(buf_is_zero());
}

TEST_F(ShowDebugCmds, AppendsAndCreatesLikeFopenA) {
  ASSERT_EQ(storeInMap(0x1, 55, here_.c_str(), 0), 0);
  const std::string fresh = dir_ + "/fresh";
  EXPECT_EQ(showDebugCmds(fresh.c_str()), 0);
  EXPECT_EQ(showDebugCmds(fresh.c_str()), 0);
  const std::string once = "Other vty(" + here_ + "):\n\tdebug nivo ipstack eth port 1\n";
  EXPECT_EQ(read_file(fresh), once + once);
}

TEST_F(ShowDebugCmds, WritesToAPseudoTerminal) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  ASSERT_EQ(storeInMap(0xFFFFFFFF, 82, name, 0), 0);
  EXPECT_EQ(showDebugCmds(name), 0);
  const std::string expected =
      std::string("Current vty(") + name + "):\r\n\tdebug nivo cloud all port 1\r\n";
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (got.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) != 1) continue;
    char chunk[256];
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n > 0) got.append(chunk, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, expected);
  relay_test::reset_map();
  close(slave);
  close(master);
}

TEST_F(ShowDebugCmds, UnopenableTerminalGetsTheListingInTheReply) {
  ASSERT_EQ(storeInMap(0x5, 66, here_.c_str(), 0), 0);            // row 99
  ASSERT_EQ(storeInMap(0x00800000, 83, there_.c_str(), 2), 0);     // row 98
  std::memset(buf, 'x', sizeof buf);  // cleared before the listing
  EXPECT_EQ(showDebugCmds((dir_ + "/no/such/dir").c_str()), 0);
  const std::string expected =
      "      vty(" + there_ + "):\n\tdebug pemra lrtp fenk 3 init_fcid 0 targ_fcid 0 ctl dpp 0\n" +
      "      vty(" + here_ + "):\n\tdebug nivo iscsi event port 1\n" +
      "      vty(" + here_ + "):\n\tdebug nivo iscsi fsm port 1\n";
  EXPECT_EQ(std::string(buf), expected);
  for (std::size_t i = expected.size(); i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0) << i;
}

TEST_F(ShowDebugCmds, PiecesAreCutTo99Characters) {
  VTYmapElement& row = cmdVTYmap[0];
  row.module = 55;
  row.mask = 0x1;
  row.port = 0;
  std::memset(row.vty, 'v', sizeof row.vty - 1);
  row.vty[sizeof row.vty - 1] = '\0';
  row.vtyfd = -1;
  tamo_printMask();
  // "      vty(" + 99 characters is already past 99: cut without its newline.
  const std::string vty_piece = "      vty(" + std::string(89, 'v');
  EXPECT_EQ(std::string(buf), vty_piece + "\tdebug nivo ipstack eth port 1\n");
  row.module = 0;
  row.mask = 0;
}

TEST_F(ShowDebugCmds, FullMapListingStaysInsideTheReply) {
  // 100 rows of "crypto all": 600 commands, far beyond 5000 bytes.
  for (std::size_t i = 0; i < kVtyMapRows; ++i) {
    VTYmapElement& row = cmdVTYmap[i];
    row.module = 80;
    row.mask = 0xFFFFFFFF;
    row.port = static_cast<std::uint32_t>(i % 4);
    std::snprintf(row.vty, sizeof row.vty, "/dev/pts/%zu", i);
    row.vtyfd = -1;
  }
  std::memset(buf, 0, sizeof buf);
  tamo_printMask();
  const std::size_t len = strnlen(buf, sizeof buf);
  ASSERT_LT(len, sizeof buf);  // ends in a NUL inside buf

  // The text is made of whole pieces, in map order, up to the first piece
  // that would not fit with the closing NUL.
  const char* crypto[] = {"flow", "ipsec", "error", "api", "exc", "ipsec-detail"};
  std::string expected;
  std::size_t next_piece = 0;
  for (std::size_t i = 0; i < kVtyMapRows && next_piece == 0; ++i)
    for (const char* name : crypto) {
      const std::string pieces[] = {"      vty(/dev/pts/" + std::to_string(i) + "):\n",
                                    std::string("\tdebug nivo crypto ") + name + " port " +
                                        std::to_string(i % 4 + 1) + "\n"};
      for (const std::string& piece : pieces) {
        if (next_piece != 0) break;
        if (expected.size() + piece.size() >= sizeof buf)
          next_piece = piece.size();
        else
          expected += piece;
      }
      if (next_piece != 0) break;
    }
  EXPECT_EQ(std::string(buf, len), expected);
  EXPECT_GE(len + next_piece, sizeof buf);  // the next piece would not have fit
  for (std::size_t i = len; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0) << i;
  relay_test::reset_map();
}

TEST_F(ShowDebugCmds, ListingUsesTheReplyUpToItsLastByte) {
  // Each row lists one command: a pair of "      vty(<vty>):\n" (13 + vty
  // characters) and "\tdebug nivo ipstack eth port 1\n" (31 characters).
  auto fill = [](std::size_t rows, std::size_t first_vty_len, std::size_t last_vty_len) {
    relay_test::reset_map();
    for (std::size_t i = 0; i < rows; ++i) {
      VTYmapElement& row = cmdVTYmap[i];
      row.module = 55;
      row.mask = 0x1;
      row.port = 0;
      std::size_t len = 56;  // a pair of 100
      if (i == 0) len = first_vty_len;
      if (i == rows - 1) len = last_vty_len;
      std::memset(row.vty, 'a' + static_cast<char>(i % 26), len);
      row.vty[len] = '\0';
      row.vtyfd = -1;
    }
    std::memset(buf, 0, sizeof buf);
    tamo_printMask();
    return strnlen(buf, sizeof buf);
  };
  // 50 pairs of 4999 characters in all: every one fits, the NUL in the last byte.
  EXPECT_EQ(fill(50, 55, 56), 4999u);
  EXPECT_EQ(buf[4999], 0);
  // 50 pairs of 5000 characters: the 50th terminal line still fits whole, its
  // command (31 characters) would leave no room for the NUL, so the listing
  // stops there; the 51st terminal line (14 characters), which would fit the
  // 31 bytes left, is not squeezed in after it.
  EXPECT_EQ(fill(51, 56, 1), 4969u);
  EXPECT_EQ(std::string(buf + 4900, 69), "      vty(" + std::string(56, 'x') + "):\n");
  for (std::size_t i = 4969; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0) << i;
  relay_test::reset_map();
}

}  // namespace
