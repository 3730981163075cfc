#include "portdebug/flag_update.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "portdebug/test_support.h"

namespace {

using relay_test::DppFlagEndpoint;

wire::DebugRequest request_for(std::int32_t id) {
  wire::DebugRequest r;
  r.commandID = id;
  r.fenk = 7;
  r.init_fcid = 0x10203;
  r.targ_fcid = 0xA0B0C;
  return r;
}

class FlagUpdate : public ::testing::Test {
 protected:
  void SetUp() override { relay_test::ensure_xipc_socket(); }
};

TEST_F(FlagUpdate, DatagramWithoutFilterGoesToThePortsCore) {
  DppFlagEndpoint core5(5);
  ASSERT_EQ(updateDebugFlagOnSibyte(0x00400000, 55, 5, 1, nullptr), 0);
  auto r = core5.next();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->length, 616u);
  EXPECT_EQ(r->from.family, 31u);
  EXPECT_EQ(r->from.opcode, 88u);
  EXPECT_EQ(r->from.length, 616u);
  // op 1, mask 0x00400000, module 55, sess_type 0, then zeros.
  const std::uint8_t head[16] = {0, 0, 0, 1, 0, 0x40, 0, 0, 0, 0, 0, 55, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(r->raw, head, sizeof head), 0);
  for (std::size_t i = 16; i < 616; ++i) ASSERT_EQ(r->raw[i], 0) << i;
  EXPECT_TRUE(core5.idle());
}

TEST_F(FlagUpdate, SendFailureIsReported) {
  // Nothing is bound at core 200: the DPP is not up.
  testing::internal::CaptureStdout();
  EXPECT_EQ(updateDebugFlagOnSibyte(0x1, 55, 200, 1, nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "updateDebugFlagOnSibyte : sendto failed, retval: -1\n");
}

TEST_F(FlagUpdate, NamesTravelOnlyWhenBothAreGiven) {
  wire::DebugRequest r = request_for(25);
  std::snprintf(r.init, sizeof r.init, "iqn.init");
  std::snprintf(r.tgt, sizeof r.tgt, "iqn.tgt");
  r.init[200] = 'z';  // bytes after the name's NUL travel as they are
  wire::FlagUpdateMsg m;
  testing::internal::CaptureStdout();
  getParameterFromRequest(r, m);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "getParameterFromRequest: Get parameter init iqn.init, tgt iqn.tgt\n");
  EXPECT_EQ(m.sess_type, 1u);
  EXPECT_EQ(std::memcmp(m.init.data(), r.init, 256), 0);
  EXPECT_EQ(std::memcmp(m.tgt.data(), r.tgt, 256), 0);

  r.commandID = 33;
  wire::FlagUpdateMsg m33;
  testing::internal::CaptureStdout();
  getParameterFromRequest(r, m33);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(m33.sess_type, 1u);

  r.commandID = 25;
  r.tgt[0] = '\0';
  wire::FlagUpdateMsg empty;
  testing::internal::CaptureStdout();
  getParameterFromRequest(r, empty);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(empty.sess_type, 0u);
  EXPECT_EQ(empty.init, decltype(empty.init){});

  r = request_for(26);  // a names field on another command is not read
  std::snprintf(r.init, sizeof r.init, "a");
  std::snprintf(r.tgt, sizeof r.tgt, "b");
  wire::FlagUpdateMsg other;
  getParameterFromRequest(r, other);
  EXPECT_EQ(other.sess_type, 0u);
}

TEST_F(FlagUpdate, FenkCommandsCarryTheirTypeAndWords) {
  const struct {
    std::int32_t id;
    std::uint32_t type;
  } cases[] = {{92, 1},  {99, 2},  {100, 2}, {101, 2}, {102, 2}, {109, 3},
               {110, 3}, {111, 4}, {115, 4}, {120, 4}};
  for (const auto& c : cases) {
    wire::FlagUpdateMsg m;
    testing::internal::CaptureStdout();
    getParameterFromRequest(request_for(c.id), m);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(m.sess_type, 2u) << c.id;
    EXPECT_EQ(m.type, c.type) << c.id;
    EXPECT_EQ(m.fenk, 7u) << c.id;
    EXPECT_EQ(m.init_fcid, 0x10203u) << c.id;
    EXPECT_EQ(m.targ_fcid, 0xA0B0Cu) << c.id;
    EXPECT_EQ(out, c.type == 2 ? "getParameterFromRequest sess_type: 2 type: 2 QIT: [7 "
                                 "0x10203 0xa0b0c]\n"
                               : "")
        << c.id;
  }
  for (std::int32_t id : {1, 24, 91, 93, 98, 103, 108, 121, 126, -1, -92}) {
    wire::FlagUpdateMsg m;
    getParameterFromRequest(request_for(id), m);
    EXPECT_EQ(m.sess_type, 0u) << id;
    EXPECT_EQ(m.type, 0u) << id;
  }
}

TEST_F(FlagUpdate, FilterIsEncodedIntoTheDatagram) {
  DppFlagEndpoint core1(1);
  const wire::DebugRequest request = request_for(101);
  testing::internal::CaptureStdout();
  ASSERT_EQ(updateDebugFlagOnSibyte(0x02000000, 83, 1, 2, &request), 0);
  testing::internal::GetCapturedStdout();
  auto r = core1.next();
  ASSERT_TRUE(r);
  // op 2, mask, module 83, sess_type 2, type 2, fenk 7, the two FC ids.
  const std::uint8_t head[32] = {0, 0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 83, 0, 0, 0, 2,
                                 0, 0, 0, 2, 0, 0, 0, 7, 0, 1, 2, 3, 0, 0x0A, 0x0B, 0x0C};
  EXPECT_EQ(std::memcmp(r->raw, head, sizeof head), 0);
  for (std::size_t i = 32; i < 616; ++i) ASSERT_EQ(r->raw[i], 0) << i;
}

}  // namespace
