// Exact bytes of every wire layout shared by the daemon and its peers, and the
// guarantee that no decoder or encoder leaves its buffer, whatever it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "wire/be.h"
#include "wire/debug_request.h"
#include "wire/dpp_flag_msg.h"
#include "wire/dpp_log_msg.h"
#include "wire/dpp_notify.h"
#include "wire/flag_update_msg.h"
#include "wire/set_debug_request.h"
#include "wire/vesk_frame.h"
#include "xipc/xipc_addr.h"

namespace wire {
namespace {

using Buf = std::vector<std::uint8_t>;
using Pieces = std::vector<std::pair<std::size_t, Buf>>;

// `size` zero bytes with each piece copied in at its offset.
Buf image(std::size_t size, const Pieces& pieces) {
  Buf b(size, 0);
  for (const auto& [off, bytes] : pieces) std::copy(bytes.begin(), bytes.end(), b.begin() + off);
  return b;
}

Buf text(std::string_view s, bool nul = true) {
  Buf b(s.begin(), s.end());
  if (nul) b.push_back(0);
  return b;
}

// One layout: `value` encodes to exactly `want`; decoding `want` and encoding
// again gives `want` back (every field is read from where it is written);
// every prefix decodes to fields that are either whole or zero, never bytes
// invented or read past the prefix; bytes after the layout are never read.
template <class T, class Enc, class Dec>
void check_layout(const char* name, const T& value, Enc enc, Dec dec, const Buf& want,
                  bool fixed_size = true) {
  SCOPED_TRACE(name);
  auto to_buf = [](const auto& c) { return Buf(c.begin(), c.end()); };
  EXPECT_EQ(to_buf(enc(value)), want) << name;
  EXPECT_EQ(to_buf(enc(dec(Bytes(want)))), want) << name << ": decoded and encoded again";
  for (std::size_t len = 0; len < want.size(); ++len) {
    Buf again = to_buf(enc(dec(Bytes(want.data(), len))));
    for (std::size_t i = 0; i < again.size(); ++i)
      ASSERT_TRUE(again[i] == 0 || (i < len && again[i] == want[i]))
          << name << ": prefix of " << len << " bytes gives byte " << i;
  }
  if (fixed_size) {
    Buf longer = want;
    longer.resize(want.size() + 64, 0x77);
    EXPECT_EQ(to_buf(enc(dec(Bytes(longer)))), want) << name << ": bytes past the layout";
  }
}

// --- be.h -----------------------------------------------------------------

TEST(WireTest, FieldsAreBigEndianAndNothingOutsideTheBufferIsTouched) {
  Buf backing(12, 0xEE);  // a guard region after the span proves nothing is written past it
  MutBytes m(backing.data(), 8);
  put_u16(m, 0, 0x1234);
  put_u32(m, 2, 0x89ABCDEF);
  put_u8(m, 6, 0x5A);
  put_u32(m, 5, 0x01020304);
  put_u16(m, 7, 0x0102);
  put_u8(m, 8, 1);
  put_u32(m, SIZE_MAX - 1, 1);
  put_raw(m, 6, "abc", 3);
  EXPECT_EQ(backing, (Buf{0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 0x5A, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  Bytes r(backing.data(), 8);
  EXPECT_EQ(get_u16(r, 0), 0x1234);
  EXPECT_EQ(get_u32(r, 2), 0x89ABCDEFu);
  EXPECT_EQ(get_u8(r, 6), 0x5A);
  EXPECT_EQ(get_u32(r, 5) | get_u16(r, 7) | get_u8(r, 8) | get_u32(r, SIZE_MAX - 2), 0u);
  std::uint8_t raw[5] = {9, 9, 9, 9, 9};  // the fifth byte is not asked for
  get_raw(r, 6, raw, 4);
  EXPECT_EQ(Buf(raw, raw + 5), (Buf{0x5A, 0xEE, 0, 0, 9}));
}

// --- frames and addresses -------------------------------------------------------

TEST(WireTest, VeskFramesAndTheXipcAddress) {
  VeskRequestFrame q{5000, vesk_frame::kFlagCorvan, 0xA1B2C3D4, {7, 8}};
  check_layout("request", q, encode_vesk_request, decode_vesk_request,
               {0, 0, 0x13, 0x88, 0, 0, 0, 2, 0xA1, 0xB2, 0xC3, 0xD4, 7, 8}, false);
  EXPECT_EQ(encode_vesk_request({1, vesk_frame::kFlagReject, 0, {}})[7], 1);  // the other flag bit
  VeskReplyFrame r{kReplyHeaderBytes, 1, 0x01020304, {0xAB}};
  check_layout("reply", r, encode_vesk_reply, decode_vesk_reply,
               {0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 4, 0xAB}, false);

  // The reserved fields are never written.
  const XipcAddr a{31, 0x0102, 39, 88, {0xFFFF, 0xFFFF, 0xFFFF}, 616, 1024, 0xFFFF};
  auto enc = [](const XipcAddr& x) {
    Buf b(20, 0);
    encode_xipc_addr(x, b);
    return b;
  };
  check_layout("XipcAddr", a, enc, decode_xipc_addr,
               {0, 31, 1, 2, 0, 39, 0, 88, 0, 0, 0, 0, 0, 0, 0x02, 0x68, 0x04, 0x00, 0, 0});
  EXPECT_EQ(decode_xipc_addr(Buf{0, 31, 0, 4, 0}).module, 0);  // half a field reads as zero
}

// --- requests to the daemon -------------------------------------------------------

TEST(WireTest, DebugRequestWithNamesOrWithTheFenkView) {
  DebugRequest r{.commandID = 25, .port = 5, .noFlag = 1, .term = "/dev/pts/3"};
  std::strcpy(r.init, "iqn.init"), std::strcpy(r.tgt, "iqn.tgt");
  check_layout("DebugRequest", r, encode_debug_request, decode_debug_request,
               image(624, {{0, {0, 0, 0, 25, 5, 1}},
                           {6, text("/dev/pts/3")},
                           {112, text("iqn.init")},
                           {368, text("iqn.tgt")}}));

  // Commands 92, 99-102 and 109-120 carry fenk and FC ids at 116-127 instead.
  r.commandID = 101;
  std::memset(r.init, 0, sizeof r.init);
  r.fenk = 0x11223344, r.init_fcid = 0x00A1B2C3, r.targ_fcid = 0x00D4E5F6;
  check_layout(
      "DebugRequest, fenk", r, encode_debug_request, decode_debug_request,
      image(624, {{0, {0, 0, 0, 101, 5, 1}},
                  {6, text("/dev/pts/3")},
                  {116, {0x11, 0x22, 0x33, 0x44, 0, 0xA1, 0xB2, 0xC3, 0, 0xD4, 0xE5, 0xF6}},
                  {368, text("iqn.tgt")}}));
}

TEST(WireTest, SetDebugReadsBytesFourToSevenByType) {
  // The mask and the level are not part of this type.
  SetDebugRequest r{.type = kSetDebugCategories, .on = 1, .flag = 5, .name = "/dev/pts/1"};
  r.dpp_mask = 0xFFFFFFFF, r.level = 0xFF, r.filters = {1, 2, 3, 0xA0B0C0D0};
  const Buf head = {1, 1, 0, 0, 5, 0, 0, 0, 0,    0,    0,    1,
                    0, 0, 0, 2, 0, 0, 0, 3, 0xA0, 0xB0, 0xC0, 0xD0};
  check_layout("categories", r, encode_set_debug, decode_set_debug,
               image(35, {{0, head}, {24, text("/dev/pts/1")}}), false);
  EXPECT_TRUE(decode_set_debug(encode_set_debug(r)).name_terminated);

  r = {.type = kSetDebugDppMap, .all = 1, .dpp_mask = 0x0000000A, .name = {}};
  check_layout("dpp map", r, encode_set_debug, decode_set_debug,
               image(25, {{0, {2, 0, 1, 0, 0, 0, 0, 0x0A}}}), false);
  r = {.type = kSetDebugLevel, .level = 7, .name = {}};
  check_layout("level", r, encode_set_debug, decode_set_debug,
               image(25, {{0, {3, 0, 0, 0, 0, 0, 0, 7}}}), false);
  EXPECT_EQ(decode_set_debug(encode_set_debug(r)).dpp_mask, 7u);  // the same four bytes

  // A name without a NUL ends with the payload and is read in place.
  Buf b = image(24, {{0, {kSetDebugOutputFile}}});
  for (char c : std::string("logname")) b.push_back(static_cast<std::uint8_t>(c));
  SetDebugRequest d = decode_set_debug(b);
  EXPECT_EQ(d.name, "logname");
  EXPECT_FALSE(d.name_terminated);
  EXPECT_EQ(d.name.data(), reinterpret_cast<const char*>(b.data() + 24));
  EXPECT_EQ(decode_set_debug(Buf{4, 1, 1, 0, 9}).dpp_mask, 0u);  // word not wholly inside
}

TEST(WireTest, DppNotifications) {
  EXPECT_EQ(encode_dpp_index(3), (Buf{0, 0, 0, 3}));
  EXPECT_EQ(decode_dpp_index(Buf{0, 0, 1, 2}), 0x102u);

  const DnldFeatureRqst q{.feature = kFeaturePlinderOff, .count = 3, .dpps = {0, 2, 3}};
  check_layout("feature request", q, encode_feature_rqst, decode_feature_rqst,
               image(60, {{0, {0x91, 0x81, 0, 0}}, {56, {3, 0, 2, 3}}}));
  const DnldFeatureComplete c{0x12345678, 2, {{{1, kFeatureStatusUp}, {0x0203, 0x04050607}}}};
  Buf complete = image(32, {{0, {0x12, 0x34, 0x56, 0x78}},
                            {12, {2}},
                            {16, {0, 1, 0, 0, 0, 0, 0, 2, 2, 3, 0, 0, 4, 5, 6, 7}}});
  check_layout("feature complete", c, encode_feature_complete, decode_feature_complete, complete);
}

// --- messages to and from the DPPs ----------------------------------------------

TEST(WireTest, FlagUpdateInItsThreeSessionViews) {
  FlagUpdateMsg m{.op = kFlagOpOff, .mask = 0x80000000, .module = 55};
  const Buf head = {0, 0, 0, 2, 0x80, 0, 0, 0, 0, 0, 0, 55};
  check_layout("sess_type 0", m, encode_flag_update, decode_flag_update, image(616, {{0, head}}));

  m.sess_type = 1;
  m.init.fill('i');  // a full 256-byte name
  std::memcpy(m.tgt.data(), "tgt", 3);
  check_layout(
      "sess_type 1", m, encode_flag_update, decode_flag_update,
      image(616, {{0, head}, {12, {0, 0, 0, 1}}, {16, Buf(256, 'i')}, {272, text("tgt")}}));

  m.sess_type = 2;
  m.init.fill('x');  // not part of this view: must not reach the wire
  std::tie(m.type, m.fenk, m.init_fcid, m.targ_fcid) = std::tuple(2, 7, 0x010203, 0x040506);
  check_layout(
      "sess_type 2", m, encode_flag_update, decode_flag_update,
      image(616, {{0, head}, {12, {0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 7, 0, 1, 2, 3, 0, 4, 5, 6}}}));
}

TEST(WireTest, DppFlagMsgOf472Bytes) {
  DppFlagMsg m{.num_categories = 29, .level = 6, .flags = 0x10000001, .filters = {{{1, 2, 3, 4}}}};
  m.filters[28] = {0xA, 0xB, 0xC, 0xDEADBEEF};
  static_assert(sizeof encode_dpp_flag(m) == 472);
  check_layout(
      "DppFlagMsg", m, encode_dpp_flag, decode_dpp_flag,
      image(472, {{0, {29, 6, 0, 0, 0x10, 0, 0, 1}},
                  {8, {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4}},
                  {456, {0, 0, 0, 0xA, 0, 0, 0, 0xB, 0, 0, 0, 0xC, 0xDE, 0xAD, 0xBE, 0xEF}}}));
}

TEST(WireTest, PortDebugTextAndLogRecords) {
  EXPECT_EQ(encode_port_debug_text(6, "line\n"),
            image(26, {{8, {0, 0, 0, 6}}, {20, text("line\n")}}));

  // The header of a TX record as a DPP sends it: 01 85 02 14 00 40 12 34, two
  // bytes not read, 56 78 09 03 00 80, four bytes not read, 44 55 66 77.
  const Buf header = {0x01, 0x85, 0x02, 0x14, 0x00, 0x40, 0x12, 0x34, 0xEE, 0xEE, 0x56,
                      0x78, 0x09, 0x03, 0x00, 0x80, 0xEE, 0xEE, 0xEE, 0xEE, 0x44, 0x55,
                      0x66, 0x77, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  IpcMsgHeader h = decode_ipc_header(image(52, {{20, header}}));
  // Decoded and encoded again: the same bytes, the unread ones zero.
  Buf unread = header;
  std::replace(unread.begin(), unread.end(), std::uint8_t{0xEE}, std::uint8_t{0});
  EXPECT_EQ(encode_dpp_log(0x80000000, 0x81, h, "hi"),
            image(55, {{8, {0x80, 0, 0, 0, 0, 0, 0, 0x81}}, {20, unread}, {52, text("hi")}}));

  // A header block that ends after `status` reads the rest as zero, and an
  // offset near the top of the address space does not wrap into the buffer.
  h = decode_ipc_header(Buf(20 + 13, 0xFF));
  EXPECT_EQ(h.status, 0xFF);
  EXPECT_EQ(h.queue, 0);
  EXPECT_EQ(h.frm_ptr, 0u);
  h = decode_ipc_header(Buf(52, 0xFF), SIZE_MAX - 4);
  EXPECT_EQ(h.opc, 0);
  EXPECT_EQ(h.frm_ptr, 0u);
}

}  // namespace
}  // namespace wire
