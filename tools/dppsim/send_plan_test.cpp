// "dppsim send" command lines and the exact records they send.
#include "tools/dppsim/send_plan.h"

#include <gtest/gtest.h>

#include "wire/be.h"

namespace dppsim {
namespace {

SendPlan must_plan(const std::vector<std::string>& argv) {
  auto p = plan_send(argv);
  if (auto* u = std::get_if<SendUsage>(&p)) {
    ADD_FAILURE() << "refused: " << u->message;
    return {};
  }
  return std::get<SendPlan>(p);
}

std::string text_at(const std::vector<std::uint8_t>& b, std::size_t off) {
  std::string s;
  for (std::size_t i = off; i < b.size() && b[i]; ++i) s += static_cast<char>(b[i]);
  return s;
}

TEST(SendPlan, TextComesFromTheDppsCoreWithItsLengthCountingTheNul) {
  SendPlan p = must_plan({"text", "--dpp", "2", "--core", "3", "hello"});
  EXPECT_EQ(sender_core(p), 7);
  EXPECT_EQ(sender_opcode(p), 88);
  auto b = payload_for(p, 1);
  EXPECT_EQ(wire::get_u32(b, 8), 6u);
  EXPECT_EQ(text_at(b, 20), "hello");
  EXPECT_EQ(b.size(), 20u + 6u);

  p = must_plan({"text", "--dpp=1", "--length", "3", "abcdef"});
  EXPECT_EQ(sender_core(p), 0);
  EXPECT_EQ(wire::get_u32(payload_for(p, 1), 8), 3u);
}

TEST(SendPlan, LogRecordsCarryTheirCategoryAndTheSequenceNumber) {
  SendPlan p = must_plan({"log", "--dpp", "4", "--category", "0x85", "--count", "3", "rec {n}"});
  EXPECT_EQ(sender_core(p), 12);
  EXPECT_EQ(sender_opcode(p), 33);
  EXPECT_EQ(p.count, 3u);
  auto b = payload_for(p, 2);
  EXPECT_EQ(wire::get_u32(b, 12), 0x85u);
  EXPECT_EQ(text_at(b, 52), "rec 2");
  EXPECT_EQ(wire::get_u32(b, 8), 6u);
  EXPECT_EQ(text_for(p, 10), "rec 10");
}

TEST(SendPlan, IpcRecordsCarryTheHeaderFields) {
  SendPlan p = must_plan({"ipc",     "tx",     "--dpp",     "2",      "--opc",     "0x185",
                          "--ver",   "2",      "--ctrl",    "0x14",   "--size",    "64",
                          "--src",   "0x1234", "--dst",     "0x5678", "--status",  "9",
                          "--queue", "0x03",   "--frm-len", "0x80",   "--frm-ptr", "0x44556677"});
  EXPECT_EQ(p.category, 2u);
  auto b = payload_for(p, 1);
  EXPECT_EQ(wire::get_u32(b, 12), 2u);
  wire::IpcMsgHeader h = wire::decode_ipc_header(b);
  EXPECT_EQ(h.opc, 0x185);
  EXPECT_EQ(h.ver, 2);
  EXPECT_EQ(h.ctrl, 0x14);
  EXPECT_EQ(h.size, 64);
  EXPECT_EQ(h.src, 0x1234);
  EXPECT_EQ(h.dst, 0x5678);
  EXPECT_EQ(h.status, 9);
  EXPECT_EQ(h.queue, 3);
  EXPECT_EQ(h.frm_len, 0x80);
  EXPECT_EQ(h.frm_ptr, 0x44556677u);
  EXPECT_EQ(must_plan({"ipc", "rx", "--dpp", "1"}).category, 1u);
}

TEST(SendPlan, BadCommandLinesAreRefused) {
  for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
           {},
           {"fax", "--dpp", "1", "x"},
           {"text", "hello"},                // no --dpp
           {"text", "--dpp", "5", "hello"},  // DPPs 1-4
           {"text", "--dpp", "0", "hello"},
           {"text", "--dpp", "1", "--core", "4", "hello"},
           {"text", "--dpp", "1"},            // no text
           {"text", "--dpp", "1", "a", "b"},  // two texts
           {"log", "--dpp", "1", "x"},        // no category
           {"text", "--dpp", "1", "--category", "3", "x"},
           {"ipc", "--dpp", "1"},  // rx or tx
           {"ipc", "rx", "--dpp", "1", "--ver", "256"},
           {"ipc", "rx", "--dpp", "1", "text"},
           {"text", "--dpp", "1", "--count", "0", "x"},
           {"text", "--dpp", "1", "--rate", "-1", "x"},
           {"text", "--dpp", "1", "--rate", "fast", "x"},
           {"text", "--dpp", "1", "x", "--count"}})
    EXPECT_TRUE(std::holds_alternative<SendUsage>(plan_send(argv)))
        << ::testing::PrintToString(argv);
}

}  // namespace
}  // namespace dppsim
