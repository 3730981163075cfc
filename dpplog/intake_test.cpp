// The intake of DPP datagrams: decoding, the header line, line splitting and
// where each record goes.
#include "dpplog/intake.h"

#include <string>

#include "dpplog/log_files.h"
#include "dpplog/log_lines.h"
#include "dpplog/manager.h"
#include "dpplog/test_support.h"
#include "frame/frame.h"
#include "wire/dpp_log_msg.h"

namespace dpplog_test {
namespace {

class IntakeTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    ASSERT_EQ(start(40), 0);
  }
  // Sends a datagram from (core, module) with the given opcode and runs the
  // intake once; returns its result.
  int deliver(std::uint16_t core, std::uint16_t opcode, const Bytes& payload,
              std::uint16_t module = 39) {
    int from = xipc_endpoint(core, module, static_cast<std::uint16_t>(100 + xipc_fds_.size()));
    send_to_daemon(from, opcode, payload);
    int rc = -2;
    last_out_ = stdout_of([&] { rc = processKORUXIPCmsg(sd); });
    return rc;
  }
  int log_msg(std::uint16_t core, std::uint32_t category, const std::string& text,
              std::uint32_t length = 0, const wire::IpcMsgHeader& h = {}) {
    return deliver(core, 7, wire::encode_dpp_log(length, category, h, text));
  }
  int port_text(std::uint16_t core, std::uint32_t length, const std::string& text) {
    return deliver(core, 88, wire::encode_port_debug_text(length, text));
  }
  std::string last_out_;
};

TEST_F(IntakeTest, HeaderLineOfTheWorkedExample) {
  // 01 85 02 14 00 40 12 34 -- -- 56 78 09 03 00 80 -- -- -- -- 44 55 66 77
  Bytes msg = wire::encode_dpp_log(0, 2, {}, "");
  const std::uint8_t header[] = {0x01, 0x85, 0x02, 0x14, 0x00, 0x40, 0x12, 0x34,
                                 0xEE, 0xEE, 0x56, 0x78, 0x09, 0x03, 0x00, 0x80,
                                 0xEE, 0xEE, 0xEE, 0xEE, 0x44, 0x55, 0x66, 0x77};
  std::copy(std::begin(header), std::end(header), msg.begin() + 20);
  EXPECT_EQ(deliver(4, 7, msg), 0);
  EXPECT_EQ(klaxo_log(),
            "[DPP2] [TX] Opc: 261  Src: 0x1234  Dst: 0x5678  Size: 64  Ctrl: 0x14  Ver: 0x02  "
            "Status: 0x09  FrmPtr: 0x44556677  FrmLen: 0x80  Q: 3\n");
}

TEST_F(IntakeTest, RxHeaderHasFrameFieldsOnlyWithCtrlBitAndNeverAQueue) {
  wire::IpcMsgHeader h;
  h.opc = 0x0080;
  h.queue = 0xFF;
  log_msg(0, 1, "", 0, h);
  h.ctrl = 0x04;
  h.opc = 0xFFFF;
  h.frm_ptr = 0xAB;
  h.frm_len = 0xBEEF;
  log_msg(0, 1, "", 0, h);
  EXPECT_EQ(klaxo_log(),
            "[DPP1] [RX] Opc: 0  Src: 0x0000  Dst: 0x0000  Size: 0  Ctrl: 0x00  Ver: 0x00  "
            "Status: 0x00\n"
            "[DPP1] [RX] Opc: 65407  Src: 0x0000  Dst: 0x0000  Size: 0  Ctrl: 0x04  Ver: 0x00  "
            "Status: 0x00  FrmPtr: 0x000000AB  FrmLen: 0xbeef\n");
}

TEST_F(IntakeTest, LongestHeaderLineFitsItsBuffer) {
  char line[256];
  wire::IpcMsgHeader h{0xFFFF, 0xFF, 0xFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFF, 0xFF, 0xFFFF, 0xFFFFFFFF};
  EXPECT_EQ(std::string(format_ipc_header_line(line, sizeof line, 65535 / 4 + 1, 2, h)).size(),
            144u);
}

TEST_F(IntakeTest, CategoriesPickTheirForm) {
  log_msg(13, 0, "zero");     // core 13 is DPP 4
  log_msg(0, 14, "misc");     // no short name
  log_msg(0, 5, "mem text");  // short name "mem"
  log_msg(0, 20, "tolk text");
  log_msg(0, 26, "galt");
  log_msg(0, 0x81, "plain");  // bit 0x80: plain, whatever the number
  EXPECT_EQ(klaxo_log(),
            "[DPP4] zero\n[DPP1] misc\n[DPP1] mem: mem text\n[DPP1] tolk: tolk text\n"
            "[DPP1] galt obj: galt\n[DPP1] plain\n");
}

TEST_F(IntakeTest, CategoryAbove29IsDroppedAndNextDatagramIsRead) {
  EXPECT_EQ(log_msg(0, 30, "gone"), 0);
  EXPECT_EQ(log_msg(0, 0x100, "gone too"), 0);
  EXPECT_EQ(log_msg(0, 9, "next"), 0);
  EXPECT_EQ(klaxo_log(), "[DPP1] dmx: next\n");
}

TEST_F(IntakeTest, TextCategoriesAreSplitIntoLinesBoundByLength) {
  log_msg(0, 3, "rx one\nrx two\n", 100);
  log_msg(0, 4, "abcdefgh", 5);
  EXPECT_EQ(klaxo_log(), "rx one\nrx two\nabcd\n");
}

TEST_F(IntakeTest, PortTextSplittingRules) {
  port_text(0, 100, "line one\n\nline two\n");  // two records
  port_text(0, 100, "\n\n");                    // one record holding both newlines
  port_text(0, 1, "");                          // one empty record
  port_text(0, 5, "abcdefgh");                  // first four characters
  EXPECT_EQ(klaxo_log(), "line one\nline two\n\n\n\n\nabcd\n");
}

TEST_F(IntakeTest, LengthZeroLogsOneEmptyRecord) {
  port_text(0, 0, "text");
  EXPECT_EQ(klaxo_log(), "\n");
}

TEST_F(IntakeTest, LongDatagramIsCutAtTheReceiveBuffer) {
  const std::string text(3000, 'x');
  EXPECT_EQ(port_text(0, 0x80000000u, text), 0);
  EXPECT_EQ(klaxo_log(), std::string(2220, 'x') + "\n");
}

TEST_F(IntakeTest, LengthAbove2240BoundsTextAt2239Characters) {
  const std::string text(3000, 'y');
  logDppTextLines(text.c_str(), 1, 0x80000000u);
  logDppTextLines(text.c_str(), 1, 2241);
  const std::string line = std::string(2239, 'y') + "\n";
  EXPECT_EQ(klaxo_log(), line + line);
}

TEST_F(IntakeTest, UnknownModuleEndsTheIntake) {
  EXPECT_EQ(deliver(0, 88, wire::encode_port_debug_text(10, "hi"), 38), -1);
  EXPECT_EQ(last_out_, "Received a unknown message from module: 38 opcode: 88 \n");
  EXPECT_EQ(klaxo_log(), "");
}

TEST_F(IntakeTest, FailedReceiveEndsTheIntake) {
  fail("xipc_recvfrom");
  int rc = 0;
  std::string out = stdout_of([&] { rc = processKORUXIPCmsg(sd); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(out, "Error from recvfrom, byte count -1\n");
}

TEST_F(IntakeTest, RecordsGoToTheDppsFileOnceOpen) {
  port_text(4, 100, "before");
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  port_text(4, 100, "after one\nafter two");
  log_msg(0, 0x80, "dpp one");
  fflush(output_files[1]);
  fflush(output_files[2]);
  EXPECT_EQ(klaxo_log(), "before\n");
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.2")),
            "#### Tue Nov 14 22:13:20 2023\nafter one\nafter two\n");
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")),
            "#### Tue Nov 14 22:13:20 2023\n[DPP1] dpp one\n");
}

class OneDppIntakeTest : public IntakeTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    ASSERT_EQ(start(41), 0);
  }
};

TEST_F(OneDppIntakeTest, DppBeyondTheCardGoesToKlaxo) {
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  log_msg(4, 0x80, "from two");
  log_msg(60, 0x80, "from sixteen");
  fflush(output_files[1]);
  EXPECT_EQ(klaxo_log(), "[DPP2] from two\n[DPP16] from sixteen\n");
  EXPECT_EQ(read_file(card_path("/cpp/plinder_dpp_logs/dbg.1")), "");
}

TEST_F(OneDppIntakeTest, AfterReleaseEveryRecordGoesToKlaxo) {
  stdout_of([] { set_output_file(wire::decode_set_debug(set_output(true, "dbg"))); });
  stdout_of([] { cleanup_koru(); });
  EXPECT_EQ(log_msg(0, 0x80, "released"), 0);
  EXPECT_EQ(port_text(0, 100, "a\nb"), 0);
  EXPECT_EQ(klaxo_log(), "[DPP1] released\na\nb\n");
}

}  // namespace
}  // namespace dpplog_test
