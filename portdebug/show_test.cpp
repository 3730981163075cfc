#include "portdebug/show.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "portdebug/cmd_table.h"
#include "portdebug/vty_map.h"

namespace {

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

TEST(PrintMask, FirstFittingRowTakesTheBits) {
  const std::string lrtp_ctl = "\tdebug pemra lrtp fenk 2 init_fcid 0 targ_fcid 0 ctl dpp 0\n";
  const struct {
    std::uint32_t mask, module;
    std::string want;
  } cases[] = {
      // The "all" row comes first in module 55, after the single rows in 80.
      {0xFFFFFFFF, 55, "\tdebug nivo ipstack all port 2\n"},
      {0xFFFFFFFF, 80,
       "\tdebug nivo crypto flow port 2\n\tdebug nivo crypto ipsec port 2\n"
       "\tdebug nivo crypto error port 2\n\tdebug nivo crypto api port 2\n"
       "\tdebug nivo crypto exc port 2\n\tdebug nivo crypto ipsec-detail port 2\n"},
      // 0x6 is ctlpkt-detail, but ctlpkt (0x2) comes first and 0x4 fits no row.
      {0x6, 77, "\tdebug nivo fcip ctlpkt port 2\n"},
      // Command 40's bit is shown with row 19's text, 103-108's with row 102's.
      {0x00400000, 55, "\tdebug nivo ipstack tcp port 2 sack\n"},
      {0x00800000, 83, lrtp_ctl},
      // adap all: rows 93-97, then 99 and 102; 0x4, 0x8 and 0x10 fit no row.
      {0x00EF001C, 83,
       "\tdebug pemra adap i-t-nexus dpp 2\n\tdebug pemra adap i-t-nexus-fsm dpp 2\n"
       "\tdebug pemra adap qit-hash dpp 2\n\tdebug pemra adap xipc-flow dpp 2\n"
       "\tdebug pemra adap pkt-flow dpp 2\n"
       "\tdebug pemra lrtp fenk 2 init_fcid 0 targ_fcid 0 pkt-flow dpp 0\n" + lrtp_ctl},
      {0x80000000, 81, ""},
      {0, 55, ""},
      {0x1, 0, ""},  // rows 124 and 125 have no text
  };
  for (const auto& c : cases)
    EXPECT_EQ(listing(c.mask, c.module, 2), c.want) << std::hex << c.mask << " " << c.module;
}

TEST(PrintMask, ScanFollowsTheTableSize) {
  const std::uint32_t saved = cmdMaskTableSize;
  cmdMaskTableSize = 1;
  EXPECT_EQ(listing(0xFFFFFFFF, 55, 1), "");
  cmdMaskTableSize = 19;  // the scan ends before row 19
  EXPECT_EQ(listing(0x00400000, 55, 1), "");
  cmdMaskTableSize = 1000;  // never read past the table's rows
  EXPECT_EQ(listing(0x00400000, 55, 1), "\tdebug nivo ipstack tcp port 1 sack\n");
  cmdMaskTableSize = saved;
}

// Fills rows 0 to rows-1 with one "ipstack eth" subscription each, so that
// every row lists a pair of "      vty(<vty>):\n" (13 + vty characters) and
// "\tdebug nivo ipstack eth port 1\n" (31 characters), and lists into buf.
std::size_t list_rows(std::size_t rows, std::size_t first_vty_len, std::size_t last_vty_len) {
  initCmdVTYmap();
  for (std::size_t i = 0; i < rows; ++i) {
    VTYmapElement& row = cmdVTYmap[i];
    row.module = 55;
    row.mask = 0x1;
    row.port = 0;
    const std::size_t len = i == 0 ? first_vty_len : i == rows - 1 ? last_vty_len : 56;
    std::memset(row.vty, 'a' + static_cast<char>(i % 26), len);
    row.vty[len] = '\0';
    row.vtyfd = -1;
  }
  std::memset(buf, 0, sizeof buf);  // as the request handler does
  tamo_printMask();
  initCmdVTYmap();
  return strnlen(buf, sizeof buf);
}

TEST(TamoPrintMask, ListingUsesTheReplyUpToItsLastByte) {
  // 50 pairs of 4999 characters in all: every one fits, the NUL in the last byte.
  EXPECT_EQ(list_rows(50, 55, 56), 4999u);
  EXPECT_EQ(buf[4998], '\n');
  // 50 pairs of 5000 characters: the 50th terminal line still fits whole, its
  // command (31 characters) would leave no room for the NUL, so the listing
  // stops there; the 51st terminal line, which would fit, is not squeezed in.
  EXPECT_EQ(list_rows(51, 56, 1), 4969u);
  EXPECT_EQ(std::string(buf + 4900, 69), "      vty(" + std::string(56, 'x') + "):\n");
  // A 99-character path makes a terminal piece longer than 99: it is cut.
  EXPECT_EQ(list_rows(1, 99, 99), 130u);
  EXPECT_EQ(std::string(buf),
            "      vty(" + std::string(89, 'a') + "\tdebug nivo ipstack eth port 1\n");
}

}  // namespace
