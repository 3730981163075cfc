// The DPP log intake seen from outside: DPPs (module 39) send per-port debug
// text (opcode 88) and log records of every category to the daemon's XIPC
// endpoint; with no log file open, each record comes out as one record of the
// debug facility "dpp_debug" (dbgfac/dpp_debug.log, a newline after each).
#include <string>
#include <vector>

#include "tests/dpplog_e2e_support.h"
#include "wire/dpp_log_msg.h"

namespace e2e {
namespace {

constexpr std::uint16_t kLogOpcode = 7;  // any sender opcode but 88

// One datagram from a DPP core, and the facility records it must give.
struct Datagram {
  std::uint16_t core;
  std::uint16_t opcode;
  Buf payload;
  std::vector<std::string> records;
};

Datagram log(std::uint16_t core, std::uint32_t category, std::string_view text,
             std::vector<std::string> records, std::uint32_t length = 0) {
  return {core, kLogOpcode, wire::encode_dpp_log(length, category, {}, text), std::move(records)};
}

Datagram header(std::uint16_t core, std::uint32_t category, const wire::IpcMsgHeader& h,
                std::string line) {
  return {core, kLogOpcode, wire::encode_dpp_log(0, category, h, "not read"), {std::move(line)}};
}

Datagram port_text(std::uint16_t core, std::uint32_t length, std::string_view text,
                   std::vector<std::string> records) {
  return {core, 88, wire::encode_port_debug_text(length, text), std::move(records)};
}

// Sends every datagram in order to a fresh daemon; once it has handled them
// all, the facility's log holds exactly their records.
void expect_records(const std::vector<Datagram>& datagrams) {
  DaemonProcess d;
  ASSERT_TRUE(d.wait_ready());
  std::string expected;
  for (const auto& g : datagrams) {
    EXPECT_EQ(dpp_send_paced(d, g.core, g.opcode, g.payload), 0);
    for (const auto& r : g.records) expected += r + "\n";
  }
  EXPECT_TRUE(d.wait_idle(1 + datagrams.size()));
  EXPECT_TRUE(d.running());
  EXPECT_EQ(client::read_file(client::dbgfac_log_path(d.platform(), "dpp_debug")), expected);
}

TEST(DppLogIntakeTest, EveryCategoryFormToTheDebugFacility) {
  std::vector<Datagram> g = {
      // The short name, never the long one, tags a category's text.
      log(4, 5, "five", {"[DPP2] mem: five"}),
      log(5, 20, "twenty", {"[DPP2] tolk: twenty"}),
      log(6, 26, "obj", {"[DPP2] galt obj: obj"}),
      log(7, 27, "intf", {"[DPP2] galt_plinder_intf: intf"}),
      log(0, 29, "state", {"[DPP1] fsm: state"}),
      // No short name: plain.
      log(0, 0, "zero", {"[DPP1] zero"}),
      log(8, 14, "misc", {"[DPP3] misc"}),
      // Bit 0x80 logs plainly, whatever the number; above 29 without it
      // nothing is logged and the next datagram is read as usual.
      log(13, 0x81, "plain", {"[DPP4] plain"}),
      log(0, 0x80 | 30, "plain 30", {"[DPP1] plain 30"}),
      log(0, 30, "dropped", {}),
      log(0, 0x100, "dropped", {}),
      log(0, 0xFFFFFF7F, "dropped", {}),
      // A text is a value, never a format.
      log(2, 6, "100% %s %n", {"[DPP1] drv: 100% %s %n"}),
      // Categories 3 and 4: the text's lines, bounded by length - 1 (the
      // splitting's edge cases are checked on the intake itself).
      log(12, 3, "rx one\n\nrx two\n", {"rx one", "rx two"}, 100),
      log(12, 4, "abcdefgh", {"abcd"}, 5),
      // A text is bounded by the 2240-byte receive buffer, whatever length says.
      log(0, 9, std::string(3000, 'y'), {"[DPP1] dmx: " + std::string(2188, 'y')}),
      log(0, 3, std::string(3000, 'y'), {std::string(2188, 'y')}, 0x80000000u),
      // Per-port text (opcode 88) is split into lines the same way.
      port_text(4, 100, "line one\n\nline two\n", {"line one", "line two"}),
  };
  expect_records(g);
}

TEST(DppLogIntakeTest, IpcHeaderLines) {
  wire::IpcMsgHeader h{.opc = 0x0080, .ver = 1, .ctrl = 0x00, .size = 7, .src = 0xA,
                       .dst = 0xBEEF, .status = 0xFF, .queue = 0xFD, .frm_len = 0x1F,
                       .frm_ptr = 0xCAFE};
  wire::IpcMsgHeader framed = h;
  framed.opc = 0xFFFF;
  framed.ctrl = 0x04;
  std::vector<Datagram> g = {
      // RX: never a queue; the frame fields only with ctrl bit 0x04.
      header(0, 1, h,
             "[DPP1] [RX] Opc: 0  Src: 0x000A  Dst: 0xBEEF  Size: 7  Ctrl: 0x00  Ver: 0x01  "
             "Status: 0xFF"),
      header(3, 1, framed,
             "[DPP1] [RX] Opc: 65407  Src: 0x000A  Dst: 0xBEEF  Size: 7  Ctrl: 0x04  Ver: 0x01  "
             "Status: 0xFF  FrmPtr: 0x0000CAFE  FrmLen: 0x1f"),
      // TX: always the queue, its low three bits.
      header(9, 2, h,
             "[DPP3] [TX] Opc: 0  Src: 0x000A  Dst: 0xBEEF  Size: 7  Ctrl: 0x00  Ver: 0x01  "
             "Status: 0xFF  Q: 5"),
  };
  expect_records(g);
}

// The header bytes exactly as a DPP sends them, bytes that are not read
// included, from any of DPP 2's cores.
TEST(DppLogIntakeTest, HeaderLineFromRawBytesToTheLetter) {
  Buf msg = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA,  // not read
             0,    0,    0,    9,                             // length, not read here
             0,    0,    0,    2,                             // category 2: TX header
             0xAA, 0xAA, 0xAA, 0xAA,                          // not read
             0x01, 0x85, 0x02, 0x14, 0x00, 0x40, 0x12, 0x34, 0xEE, 0xEE, 0x56, 0x78,
             0x09, 0x03, 0x00, 0x80, 0xEE, 0xEE, 0xEE, 0xEE, 0x44, 0x55, 0x66, 0x77,
             0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,
             'n', 'o', 't', ' ', 'r', 'e', 'a', 'd', 0};
  const std::string line =
      "[DPP2] [TX] Opc: 261  Src: 0x1234  Dst: 0x5678  Size: 64  Ctrl: 0x14  Ver: 0x02  "
      "Status: 0x09  FrmPtr: 0x44556677  FrmLen: 0x80  Q: 3";
  std::vector<Datagram> g;
  for (std::uint16_t core = 4; core <= 7; ++core) g.push_back({core, 1234, msg, {line}});
  expect_records(g);
}

}  // namespace
}  // namespace e2e
