// The intake's bounds and its splitting of DPP text into records. (Category
// forms and header lines are checked end to end.)
#include "dpplog/intake.h"

#include <string>

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
};

TEST_F(IntakeTest, TextIsSplitIntoLinesWithinItsBounds) {
  const std::string long_text(3000, 'y');
  struct Case {
    std::string text;
    std::uint32_t length;
    std::string records;  // the facility's records, each with its newline
  };
  const Case cases[] = {
      {"line one\n\nline two\n", 100, "line one\nline two\n"},  // empty lines vanish
      {"\nlead\n\n\ntrail", 100, "lead\ntrail\n"},
      {"\n\n", 100, "\n\n\n"},           // newlines only: one record holding them
      {"", 1, "\n"},                     // empty text: one empty record
      {"text", 0, "\n"},                 // no room even for the NUL: one empty record
      {"abcdefgh", 5, "abcd\n"},         // length - 1 characters
      {"abc", 4, "abc\n"},
      {long_text, 2240, std::string(2239, 'y') + "\n"},
      {long_text, 2241, std::string(2239, 'y') + "\n"},
      {long_text, 0x80000000u, std::string(2239, 'y') + "\n"},
  };
  std::string expected;
  for (const Case& c : cases) {
    logDppTextLines(c.text.c_str(), 1, c.length);
    expected += c.records;
    ASSERT_EQ(klaxo_log(), expected) << "text of " << c.text.size() << ", length " << c.length;
  }
}

TEST_F(IntakeTest, DatagramIsCutAtTheReceiveBuffer) {
  // 2240 bytes received, 20 of them the length and the rest of the header.
  send_to_daemon(0, 88, wire::encode_port_debug_text(0x80000000u, std::string(3000, 'x')));
  EXPECT_EQ(stdout_of([] { EXPECT_EQ(processKORUXIPCmsg(sd), 0); }), "");
  EXPECT_EQ(klaxo_log(), std::string(2220, 'x') + "\n");
}

TEST_F(IntakeTest, LongestHeaderLineFitsItsBuffer) {
  char line[256];
  const wire::IpcMsgHeader h{0xFFFF, 0xFF, 0xFF,   0xFFFF, 0xFFFF,
                             0xFFFF, 0xFF, 0xFF,   0xFFFF, 0xFFFFFFFF};
  EXPECT_EQ(std::string(format_ipc_header_line(line, sizeof line, 65535 / 4 + 1, 2, h)).size(),
            144u);
}

TEST_F(IntakeTest, FailedReceiveEndsTheIntake) {
  fail("xipc_recvfrom");
  int rc = 0;
  EXPECT_EQ(stdout_of([&] { rc = processKORUXIPCmsg(sd); }),
            "Error from recvfrom, byte count -1\n");
  EXPECT_EQ(rc, -1);
}

}  // namespace
}  // namespace dpplog_test
