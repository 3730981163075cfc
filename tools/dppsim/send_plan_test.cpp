// "dppsim send" command lines: the sender core and length field of what it
// sends, and the lines it refuses. (The records' contents are checked where
// the main job's session shows them in the log files.)
#include "tools/dppsim/send_plan.h"

#include <gtest/gtest.h>

#include "wire/be.h"

namespace dppsim {
namespace {

TEST(SendPlan, RecordsComeFromTheDppsCoreWithTheirLength) {
  for (const auto& [argv, core, length, seq, text] :
       std::vector<std::tuple<std::vector<std::string>, int, std::uint32_t, int, std::string>>{
           {{"text", "--dpp", "2", "--core", "3", "hello"}, 7, 6, 1, "hello"},
           {{"text", "--dpp=1", "--length", "3", "abcdef"}, 0, 3, 1, "abcdef"},
           {{"log", "--dpp", "4", "--category", "0x85", "--count", "3", "rec {n}"}, 12, 7, 10,
            "rec 10"}}) {
    auto p = plan_send(argv);
    ASSERT_TRUE(std::holds_alternative<SendPlan>(p)) << std::get<SendUsage>(p).message;
    const SendPlan& s = std::get<SendPlan>(p);
    EXPECT_EQ(sender_core(s), core) << text;
    EXPECT_EQ(wire::get_u32(payload_for(s, seq), 8), length) << text;
    EXPECT_EQ(text_for(s, seq), text);
  }
}

TEST(SendPlan, BadCommandLinesAreRefused) {
  for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
           {}, {"fax", "--dpp", "1", "x"}, {"text", "hello"}, {"text", "--dpp", "0", "hello"},
           {"text", "--dpp", "1", "--core", "4", "hello"}, {"text", "--dpp", "1"},
           {"text", "--dpp", "1", "a", "b"}, {"text", "--dpp", "1", "--category", "3", "x"},
           {"ipc", "--dpp", "1"}, {"ipc", "rx", "--dpp", "1", "--ver", "256"},
           {"ipc", "rx", "--dpp", "1", "text"}, {"text", "--dpp", "1", "--count", "0", "x"},
           {"text", "--dpp", "1", "--rate", "-1", "x"}, {"text", "--dpp", "1", "--rate", "fast", "x"},
           {"text", "--dpp", "1", "x", "--count"}})
    EXPECT_TRUE(std::holds_alternative<SendUsage>(plan_send(argv))) << ::testing::PrintToString(argv);
}

}  // namespace
}  // namespace dppsim
