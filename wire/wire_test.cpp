// Exact bytes of every wire layout shared by the daemon and its peers, and the
// guarantee that no decoder or encoder leaves its buffer, whatever it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
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

Buf slice(const Buf& b, std::size_t off, std::size_t n) {
  return Buf(b.begin() + off, b.begin() + off + n);
}

bool all_zero(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t c) { return c == 0; });
}

// --- be.h -----------------------------------------------------------------

TEST(BigEndianTest, FieldsAreBigEndianAtTheirOffsets) {
  Buf b(8, 0);
  put_u16(b, 0, 0x1234);
  put_u32(b, 2, 0x89ABCDEF);
  put_u8(b, 6, 0x5A);
  EXPECT_EQ(b, (Buf{0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 0x5A, 0}));
  EXPECT_EQ(get_u16(b, 0), 0x1234);
  EXPECT_EQ(get_u32(b, 2), 0x89ABCDEFu);
  EXPECT_EQ(get_u8(b, 6), 0x5A);
}

TEST(BigEndianTest, FieldsOutsideTheBufferReadZeroAndAreNotWritten) {
  // A guard region after the span proves that nothing is written past it.
  Buf backing(12, 0xEE);
  MutBytes b(backing.data(), 4);
  put_u32(b, 1, 0x01020304);
  put_u16(b, 3, 0x0102);
  put_u8(b, 4, 1);
  put_u32(b, SIZE_MAX - 1, 1);
  EXPECT_TRUE(std::all_of(backing.begin(), backing.end(), [](auto c) { return c == 0xEE; }));
  Bytes r(backing.data(), 4);
  EXPECT_EQ(get_u32(r, 1), 0u);
  EXPECT_EQ(get_u16(r, 3), 0u);
  EXPECT_EQ(get_u8(r, 4), 0u);
  EXPECT_EQ(get_u32(r, SIZE_MAX - 2), 0u);
  EXPECT_EQ(get_u32(Bytes{}, 0), 0u);
  std::uint8_t raw[4] = {9, 9, 9, 9};
  get_raw(r, 2, raw, 4);
  EXPECT_EQ(Buf(raw, raw + 4), (Buf{0xEE, 0xEE, 0, 0}));
}

TEST(BigEndianTest, TextFieldsStopAtNulFieldBufferOrDestination) {
  Buf b = {'a', 'b', 0, 'c', 'd', 'e', 'f'};
  char dst[8];
  EXPECT_TRUE(get_text(b, 0, 7, dst, sizeof dst));
  EXPECT_STREQ(dst, "ab");
  EXPECT_FALSE(get_text(b, 3, 3, dst, sizeof dst));  // field ends first
  EXPECT_STREQ(dst, "cde");
  EXPECT_FALSE(get_text(b, 3, 100, dst, sizeof dst));  // buffer ends first
  EXPECT_STREQ(dst, "cdef");
  EXPECT_FALSE(get_text(b, 3, 100, dst, 3));  // destination full
  EXPECT_STREQ(dst, "cd");
  EXPECT_FALSE(get_text(b, 50, 4, dst, sizeof dst));
  EXPECT_STREQ(dst, "");

  Buf f(6, 0xEE);
  put_text(MutBytes(f.data(), 5), 1, 4, "xy");
  EXPECT_EQ(f, (Buf{0xEE, 'x', 'y', 0, 0, 0xEE}));
  put_text(MutBytes(f.data(), 5), 1, 4, "123456");  // cut to the field, no NUL
  EXPECT_EQ(f, (Buf{0xEE, '1', '2', '3', '4', 0xEE}));
  put_text(MutBytes(f.data(), 5), 2, 4, "zz");  // field past the buffer: dropped
  EXPECT_EQ(f, (Buf{0xEE, '1', '2', '3', '4', 0xEE}));
}

// --- VESK frames ------------------------------------------------------------

TEST(VeskFrameTest, RequestFrameBytes) {
  VeskRequestFrame f{5000, vesk_frame::kFlagCorvan | vesk_frame::kFlagReject, 0xA1B2C3D4, {7, 8}};
  Buf b = encode_vesk_request(f);
  EXPECT_EQ(b, (Buf{0, 0, 0x13, 0x88, 0, 0, 0, 3, 0xA1, 0xB2, 0xC3, 0xD4, 7, 8}));
  VeskRequestFrame d = decode_vesk_request(b);
  EXPECT_EQ(d.opcode, 5000u);
  EXPECT_EQ(d.flags, 3u);
  EXPECT_EQ(d.tag, 0xA1B2C3D4u);
  EXPECT_EQ(d.payload, (Buf{7, 8}));
}

TEST(VeskFrameTest, ShortRequestReadsAsZeroPadded) {
  VeskRequestFrame d = decode_vesk_request(Buf{0, 0, 0x17, 0xDF, 0, 0});
  EXPECT_EQ(d.opcode, 6111u);
  EXPECT_EQ(d.flags, 0u);
  EXPECT_EQ(d.tag, 0u);
  EXPECT_TRUE(d.payload.empty());
  EXPECT_EQ(decode_vesk_request(Buf{}).opcode, 0u);
}

TEST(VeskFrameTest, OversizeRequestPayloadIsCut) {
  Buf big(vesk_frame::kRequestHeader + vesk_frame::kMaxPayload + 100, 0x42);
  EXPECT_EQ(decode_vesk_request(big).payload.size(), vesk_frame::kMaxPayload);
  big.resize(vesk_frame::kRequestHeader + vesk_frame::kMaxPayload);
  EXPECT_EQ(decode_vesk_request(big).payload.size(), vesk_frame::kMaxPayload);
}

TEST(VeskFrameTest, ReplyFrameBytes) {
  VeskReplyFrame r{kReplyHeaderBytes, 1, 0x01020304, {0xAB}};
  Buf b = encode_vesk_reply(r);
  EXPECT_EQ(b, (Buf{0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 4, 0xAB}));
  VeskReplyFrame d = decode_vesk_reply(b);
  EXPECT_EQ(d.header, kReplyHeaderBytes);
  EXPECT_EQ(d.opcode, 1u);
  EXPECT_EQ(d.tag, 0x01020304u);
  EXPECT_EQ(d.payload, (Buf{0xAB}));
  VeskReplyFrame s = decode_vesk_reply(Buf{0xFE, 0, 0});
  EXPECT_EQ(s.header[0], 0xFE);
  EXPECT_EQ(s.opcode, 0u);
  EXPECT_TRUE(s.payload.empty());
}

// --- XipcAddr ---------------------------------------------------------------

TEST(XipcAddrTest, TwentyBytesWithReservedZero) {
  XipcAddr a{};
  a.family = 31;
  a.core = 0x0102;
  a.module = 39;
  a.opcode = 88;
  a.reserved[0] = a.reserved[1] = a.reserved[2] = 0xFFFF;  // never written
  a.length = 616;
  a.port = 1024;
  a.reserved2 = 0xFFFF;
  Buf b(22, 0xEE);
  encode_xipc_addr(a, MutBytes(b.data(), 20));
  EXPECT_EQ(b, (Buf{0, 31, 1, 2,    0,    39,   0,    88, 0, 0,    0,
                    0, 0,  0, 0x02, 0x68, 0x04, 0x00, 0,  0, 0xEE, 0xEE}));
  XipcAddr d = decode_xipc_addr(b);
  EXPECT_EQ(d.family, 31);
  EXPECT_EQ(d.core, 0x0102);
  EXPECT_EQ(d.module, 39);
  EXPECT_EQ(d.opcode, 88);
  EXPECT_EQ(d.length, 616);
  EXPECT_EQ(d.port, 1024);
}

TEST(XipcAddrTest, ShortBuffersNeitherOverrunNorInvent) {
  XipcAddr a{31, 4, 66, 33, {}, 472, 0, 0};
  Buf b(10, 0xEE);
  encode_xipc_addr(a, MutBytes(b.data(), 5));
  EXPECT_EQ(b, (Buf{0, 31, 0, 4, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  XipcAddr d = decode_xipc_addr(Buf{0, 31, 0, 4, 0});
  EXPECT_EQ(d.core, 4);
  EXPECT_EQ(d.module, 0);  // half a field reads as zero
  EXPECT_EQ(d.length, 0);
}

// --- DebugRequest -----------------------------------------------------------

TEST(DebugRequestTest, FieldsAtTheirOffsets) {
  DebugRequest r;
  r.commandID = 25;
  r.port = 5;
  r.noFlag = 1;
  std::strcpy(r.term, "/dev/pts/3");
  std::strcpy(r.init, "iqn.init");
  std::strcpy(r.tgt, "iqn.tgt");
  Buf b = encode_debug_request(r);
  ASSERT_EQ(b.size(), 624u);
  EXPECT_EQ(slice(b, 0, 6), (Buf{0, 0, 0, 25, 5, 1}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[6])), "/dev/pts/3");
  EXPECT_TRUE(all_zero(&b[6 + 10], 106 - 10));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[112])), "iqn.init");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[368])), "iqn.tgt");
  EXPECT_EQ(b[623], 0);

  DebugRequest d = decode_debug_request(b);
  EXPECT_EQ(d.commandID, 25);
  EXPECT_EQ(d.port, 5);
  EXPECT_EQ(d.noFlag, 1);
  EXPECT_STREQ(d.term, "/dev/pts/3");
  EXPECT_TRUE(d.term_terminated);
  EXPECT_STREQ(d.init, "iqn.init");
  EXPECT_STREQ(d.tgt, "iqn.tgt");
}

TEST(DebugRequestTest, FenkViewOverlaysBytes116To127) {
  DebugRequest r;
  r.commandID = 101;
  r.fenk = 0x11223344;
  r.init_fcid = 0x00A1B2C3;
  r.targ_fcid = 0x00D4E5F6;
  Buf b = encode_debug_request(r);
  EXPECT_TRUE(all_zero(&b[112], 4));
  EXPECT_EQ(slice(b, 116, 12),
            (Buf{0x11, 0x22, 0x33, 0x44, 0, 0xA1, 0xB2, 0xC3, 0, 0xD4, 0xE5, 0xF6}));
  DebugRequest d = decode_debug_request(b);
  EXPECT_EQ(d.fenk, 0x11223344u);
  EXPECT_EQ(d.init_fcid, 0x00A1B2C3u);
  EXPECT_EQ(d.targ_fcid, 0x00D4E5F6u);

  // A command without the fenk view keeps its names there instead.
  r.commandID = 103;
  std::strcpy(r.init, "0123456789abcdef");
  Buf n = encode_debug_request(r);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&n[112])), "0123456789abcdef");
  for (int id : {92, 99, 102, 109, 120}) EXPECT_TRUE(is_fenk_command(id)) << id;
  for (int id : {91, 98, 103, 108, 121, 25, -92}) EXPECT_FALSE(is_fenk_command(id)) << id;
}

TEST(DebugRequestTest, TermWithoutNulIsCutAtItsField) {
  Buf b(624, 0);
  std::fill(b.begin() + 6, b.begin() + 112, 'T');  // 106 bytes, no NUL
  b[112] = 'X';
  DebugRequest d = decode_debug_request(b);
  EXPECT_FALSE(d.term_terminated);
  EXPECT_EQ(std::string(d.term), std::string(106, 'T'));
}

TEST(DebugRequestTest, TruncatedPayloadReadsZeroForMissingFields) {
  Buf full = encode_debug_request([] {
    DebugRequest r;
    r.commandID = -1;
    r.port = 9;
    std::strcpy(r.term, "/dev/x");
    return r;
  }());
  DebugRequest d = decode_debug_request(Bytes(full.data(), 5));
  EXPECT_EQ(d.commandID, -1);
  EXPECT_EQ(d.port, 9);
  EXPECT_EQ(d.noFlag, 0);
  EXPECT_STREQ(d.term, "");
  d = decode_debug_request(Bytes(full.data(), 9));
  EXPECT_STREQ(d.term, "/de");
  EXPECT_FALSE(d.term_terminated);
  EXPECT_TRUE(all_zero(reinterpret_cast<std::uint8_t*>(d.init), sizeof d.init));
  EXPECT_EQ(d.targ_fcid, 0u);
  d = decode_debug_request(Bytes{});
  EXPECT_EQ(d.commandID, 0);
  // Bytes past 623 are never read.
  Buf longer = full;
  longer.resize(2000, 0x77);
  EXPECT_STREQ(decode_debug_request(longer).tgt, "");
}

// --- FlagUpdateMsg ------------------------------------------------------------

TEST(FlagUpdateMsgTest, SessTypeZeroIsHeaderAndZeros) {
  FlagUpdateMsg m;
  m.op = kFlagOpOff;
  m.mask = 0x80000000;
  m.module = 55;
  auto b = encode_flag_update(m);
  static_assert(sizeof b == 616);
  EXPECT_EQ(Buf(b.begin(), b.begin() + 16),
            (Buf{0, 0, 0, 2, 0x80, 0, 0, 0, 0, 0, 0, 55, 0, 0, 0, 0}));
  EXPECT_TRUE(all_zero(&b[16], 600));
}

TEST(FlagUpdateMsgTest, SessTypeOneCarriesBothNames) {
  FlagUpdateMsg m;
  m.op = kFlagOpOn;
  m.mask = 0x1;
  m.module = 66;
  m.sess_type = 1;
  std::fill(m.init.begin(), m.init.end(), 'i');  // a full 256-byte name
  std::memcpy(m.tgt.data(), "tgt", 3);
  auto b = encode_flag_update(m);
  EXPECT_EQ(Buf(b.begin() + 12, b.begin() + 16), (Buf{0, 0, 0, 1}));
  EXPECT_TRUE(std::all_of(&b[16], &b[272], [](auto c) { return c == 'i'; }));
  EXPECT_EQ(Buf(b.begin() + 272, b.begin() + 276), (Buf{'t', 'g', 't', 0}));
  EXPECT_TRUE(all_zero(&b[528], 88));
  FlagUpdateMsg d = decode_flag_update(b);
  EXPECT_EQ(d.init, m.init);
  EXPECT_EQ(d.tgt, m.tgt);
  EXPECT_EQ(d.sess_type, 1u);
}

TEST(FlagUpdateMsgTest, SessTypeTwoCarriesFenkWordsAndNothingElse) {
  FlagUpdateMsg m;
  m.op = kFlagOpOn;
  m.mask = 0x00400000;
  m.module = 83;
  m.sess_type = 2;
  m.type = 2;
  m.fenk = 7;
  m.init_fcid = 0x010203;
  m.targ_fcid = 0x040506;
  m.init.fill('x');  // not part of this view: must not reach the wire
  auto b = encode_flag_update(m);
  EXPECT_EQ(Buf(b.begin() + 12, b.begin() + 32),
            (Buf{0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 7, 0, 1, 2, 3, 0, 4, 5, 6}));
  EXPECT_TRUE(all_zero(&b[32], 616 - 32));
  FlagUpdateMsg d = decode_flag_update(b);
  EXPECT_EQ(d.type, 2u);
  EXPECT_EQ(d.fenk, 7u);
  EXPECT_EQ(d.init_fcid, 0x010203u);
  EXPECT_EQ(d.targ_fcid, 0x040506u);
}

TEST(FlagUpdateMsgTest, TruncatedDatagramDecodesZeros) {
  FlagUpdateMsg m;
  m.op = 1;
  m.mask = 0xFFFFFFFF;
  m.module = 77;
  m.sess_type = 2;
  m.fenk = 9;
  auto b = encode_flag_update(m);
  FlagUpdateMsg d = decode_flag_update(Bytes(b.data(), 10));
  EXPECT_EQ(d.op, 1u);
  EXPECT_EQ(d.mask, 0xFFFFFFFFu);
  EXPECT_EQ(d.module, 0u);
  EXPECT_EQ(d.sess_type, 0u);
  EXPECT_EQ(d.fenk, 0u);
}

// --- SetDebugRequest ----------------------------------------------------------

TEST(SetDebugRequestTest, BytesFourToSevenAreReadByType) {
  SetDebugRequest r;
  r.type = kSetDebugCategories;
  r.on = 1;
  r.flag = 5;
  r.dpp_mask = 0xFFFFFFFF;  // ignored for type 1
  r.level = 0xFF;           // ignored for type 1
  r.filters = {1, 2, 3, 0xA0B0C0D0};
  r.name = "/dev/pts/1";
  Buf b = encode_set_debug(r);
  ASSERT_EQ(b.size(), 24u + 10 + 1);
  EXPECT_EQ(slice(b, 0, 24), (Buf{1, 1, 0, 0, 5, 0, 0, 0, 0,    0,    0,    1,
                                  0, 0, 0, 2, 0, 0, 0, 3, 0xA0, 0xB0, 0xC0, 0xD0}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[24])), "/dev/pts/1");
  SetDebugRequest d = decode_set_debug(b);
  EXPECT_EQ(d.type, 1);
  EXPECT_EQ(d.on, 1);
  EXPECT_EQ(d.flag, 5);
  EXPECT_EQ(d.filters[3], 0xA0B0C0D0u);
  EXPECT_EQ(d.name, "/dev/pts/1");
  EXPECT_TRUE(d.name_terminated);

  r = {};
  r.type = kSetDebugDppMap;
  r.all = 1;
  r.dpp_mask = 0x0000000A;
  b = encode_set_debug(r);
  EXPECT_EQ(slice(b, 0, 8), (Buf{2, 0, 1, 0, 0, 0, 0, 0x0A}));
  EXPECT_EQ(decode_set_debug(b).dpp_mask, 0xAu);

  r = {};
  r.type = kSetDebugLevel;
  r.level = 7;
  b = encode_set_debug(r);
  EXPECT_EQ(slice(b, 0, 8), (Buf{3, 0, 0, 0, 0, 0, 0, 7}));
  SetDebugRequest l = decode_set_debug(b);
  EXPECT_EQ(l.level, 7);
  EXPECT_EQ(l.flag, 0);
  EXPECT_EQ(l.dpp_mask, 7u);  // the same four bytes read as one word
}

TEST(SetDebugRequestTest, NameWithoutNulEndsAtThePayload) {
  Buf b(24, 0);
  b[0] = kSetDebugOutputFile;
  for (char c : std::string("logname")) b.push_back(static_cast<std::uint8_t>(c));
  SetDebugRequest d = decode_set_debug(b);
  EXPECT_EQ(d.name, "logname");
  EXPECT_FALSE(d.name_terminated);
  EXPECT_EQ(d.name.data(), reinterpret_cast<const char*>(b.data() + 24));  // read in place
}

TEST(SetDebugRequestTest, TruncatedPayloadReadsZeros) {
  SetDebugRequest d = decode_set_debug(Buf{4, 1, 1, 0, 9});
  EXPECT_EQ(d.type, 4);
  EXPECT_EQ(d.flag, 9);
  EXPECT_EQ(d.dpp_mask, 0u);  // word not wholly inside
  EXPECT_EQ(d.level, 0);
  EXPECT_EQ(d.filters[0], 0u);
  EXPECT_TRUE(d.name.empty());
  EXPECT_FALSE(d.name_terminated);
  EXPECT_TRUE(decode_set_debug(Buf(24, 0)).name.empty());
}

// --- DPP notifications ----------------------------------------------------------

TEST(DppNotifyTest, UpAndDownCarryTheIndex) {
  EXPECT_EQ(encode_dpp_index(3), (Buf{0, 0, 0, 3}));
  EXPECT_EQ(decode_dpp_index(Buf{0, 0, 1, 2}), 0x102u);
  EXPECT_EQ(decode_dpp_index(Buf{0, 0, 1}), 0u);
}

TEST(DppNotifyTest, FeatureRequestBytes) {
  DnldFeatureRqst r;
  r.feature = kFeaturePlinderOff;
  r.count = 3;
  r.dpps[0] = 0;
  r.dpps[1] = 2;
  r.dpps[2] = 3;
  Buf b = encode_feature_rqst(r);
  ASSERT_EQ(b.size(), 60u);
  EXPECT_EQ(slice(b, 0, 4), (Buf{0x91, 0x81, 0, 0}));
  EXPECT_TRUE(all_zero(&b[4], 52));
  EXPECT_EQ(slice(b, 56, 4), (Buf{3, 0, 2, 3}));
  DnldFeatureRqst d = decode_feature_rqst(b);
  EXPECT_EQ(d.feature, kFeaturePlinderOff);
  EXPECT_EQ(d.count, 3);
  EXPECT_EQ(d.dpps[1], 2);
  // A count larger than the payload reads the missing indexes as zero.
  b[56] = 255;
  d = decode_feature_rqst(b);
  EXPECT_EQ(d.count, 255);
  EXPECT_EQ(d.dpps[2], 3);
  EXPECT_EQ(d.dpps[3], 0);
  EXPECT_EQ(d.dpps[254], 0);
}

TEST(DppNotifyTest, FeatureCompleteBytes) {
  DnldFeatureComplete c;
  c.feature = 0x12345678;
  c.count = 2;
  c.entries[0] = {1, kFeatureStatusUp};
  c.entries[1] = {0x0203, 0x04050607};
  Buf b = encode_feature_complete(c);
  ASSERT_EQ(b.size(), 32u);
  EXPECT_EQ(slice(b, 0, 4), (Buf{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(b[12], 2);
  EXPECT_EQ(slice(b, 16, 16), (Buf{0, 1, 0, 0, 0, 0, 0, 2, 2, 3, 0, 0, 4, 5, 6, 7}));
  DnldFeatureComplete d = decode_feature_complete(b);
  EXPECT_EQ(d.entries[1].dpp, 0x0203);
  EXPECT_EQ(d.entries[1].status, 0x04050607u);
  b[12] = 200;
  d = decode_feature_complete(b);
  EXPECT_EQ(d.count, 200);
  EXPECT_EQ(d.entries[0].status, 2u);
  EXPECT_EQ(d.entries[2].dpp, 0);
  EXPECT_EQ(d.entries[199].status, 0u);
}

// --- DppFlagMsg ---------------------------------------------------------------

TEST(DppFlagMsgTest, FourHundredSeventyTwoBytes) {
  DppFlagMsg m;
  m.num_categories = 29;
  m.level = 6;
  m.flags = 0x10000001;
  m.filters[0] = {1, 2, 3, 4};
  m.filters[28] = {0xA, 0xB, 0xC, 0xDEADBEEF};
  auto b = encode_dpp_flag(m);
  static_assert(sizeof b == 472);
  EXPECT_EQ(Buf(b.begin(), b.begin() + 8), (Buf{29, 6, 0, 0, 0x10, 0, 0, 1}));
  EXPECT_EQ(Buf(b.begin() + 8, b.begin() + 24),
            (Buf{0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4}));
  EXPECT_TRUE(all_zero(&b[24], 16 * 27));
  EXPECT_EQ(Buf(b.begin() + 8 + 16 * 28, b.end()),
            (Buf{0, 0, 0, 0xA, 0, 0, 0, 0xB, 0, 0, 0, 0xC, 0xDE, 0xAD, 0xBE, 0xEF}));
  DppFlagMsg d = decode_dpp_flag(b);
  EXPECT_EQ(d.num_categories, 29);
  EXPECT_EQ(d.level, 6);
  EXPECT_EQ(d.flags, 0x10000001u);
  EXPECT_EQ(d.filters, m.filters);
}

TEST(DppFlagMsgTest, TruncatedDatagramDecodesZeros) {
  DppFlagMsg m;
  m.flags = 0xFFFFFFFF;
  m.filters[1] = {5, 6, 7, 8};
  auto b = encode_dpp_flag(m);
  DppFlagMsg d = decode_dpp_flag(Bytes(b.data(), 30));
  EXPECT_EQ(d.flags, 0xFFFFFFFFu);
  EXPECT_EQ(d.filters[1][0], 5u);
  EXPECT_EQ(d.filters[1][1], 0u);  // bytes 28-31: half outside
  EXPECT_EQ(d.filters[28][3], 0u);
}

// --- DPP intake ---------------------------------------------------------------

TEST(DppLogMsgTest, PortDebugTextLayout) {
  Buf b = encode_port_debug_text(6, "line\n");
  ASSERT_EQ(b.size(), 26u);
  EXPECT_TRUE(all_zero(&b[0], 8));
  EXPECT_EQ(slice(b, 8, 4), (Buf{0, 0, 0, 6}));
  EXPECT_TRUE(all_zero(&b[12], 8));
  EXPECT_EQ(slice(b, 20, 6), (Buf{'l', 'i', 'n', 'e', '\n', 0}));
}

TEST(DppLogMsgTest, LogMessageLayout) {
  IpcMsgHeader h;
  h.opc = 0xFFFF;
  h.frm_ptr = 0x01020304;
  Buf b = encode_dpp_log(0x80000000, 0x81, h, "hi");
  ASSERT_EQ(b.size(), 55u);
  EXPECT_EQ(slice(b, 8, 8), (Buf{0x80, 0, 0, 0, 0, 0, 0, 0x81}));
  EXPECT_EQ(slice(b, 20, 2), (Buf{0xFF, 0xFF}));
  EXPECT_EQ(slice(b, 40, 4), (Buf{1, 2, 3, 4}));
  EXPECT_EQ(slice(b, 52, 3), (Buf{'h', 'i', 0}));
  IpcMsgHeader d = decode_ipc_header(b);
  EXPECT_EQ(d.opc, 0xFFFF);
  EXPECT_EQ(d.frm_ptr, 0x01020304u);
}

// The header of a TX record as a DPP sends it: 01 85 02 14 00 40 12 34, two
// bytes not read, 56 78 09 03 00 80, four bytes not read, 44 55 66 77.
TEST(DppLogMsgTest, IpcHeaderWorkedExample) {
  Buf b(52, 0);
  const Buf header = {0x01, 0x85, 0x02, 0x14, 0x00, 0x40, 0x12, 0x34, 0xEE, 0xEE, 0x56,
                      0x78, 0x09, 0x03, 0x00, 0x80, 0xEE, 0xEE, 0xEE, 0xEE, 0x44, 0x55,
                      0x66, 0x77, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  std::copy(header.begin(), header.end(), b.begin() + 20);
  IpcMsgHeader h = decode_ipc_header(b);
  EXPECT_EQ(h.opc, 0x0185);
  EXPECT_EQ(h.ver, 2);
  EXPECT_EQ(h.ctrl, 0x14);
  EXPECT_EQ(h.size, 64);
  EXPECT_EQ(h.src, 0x1234);
  EXPECT_EQ(h.dst, 0x5678);
  EXPECT_EQ(h.status, 9);
  EXPECT_EQ(h.queue, 3);
  EXPECT_EQ(h.frm_len, 0x80);
  EXPECT_EQ(h.frm_ptr, 0x44556677u);

  // The encoder writes the same bytes, leaving the unread ones zero.
  Buf e = encode_dpp_log(0, 2, h, "");
  for (std::size_t i : {8u, 9u, 16u, 17u, 18u, 19u, 24u, 25u, 26u, 27u, 28u, 29u, 30u, 31u})
    EXPECT_EQ(e[20 + i], 0) << i;
  for (std::size_t i = 0; i < header.size(); ++i)
    if (header[i] != 0xEE) {
      EXPECT_EQ(e[20 + i], header[i]) << i;
    }
}

TEST(DppLogMsgTest, TruncatedHeaderDecodesZeros) {
  Buf b(20 + 13, 0xFF);  // the header block ends after `status`
  IpcMsgHeader h = decode_ipc_header(b);
  EXPECT_EQ(h.opc, 0xFFFF);
  EXPECT_EQ(h.status, 0xFF);
  EXPECT_EQ(h.queue, 0);
  EXPECT_EQ(h.frm_len, 0);
  EXPECT_EQ(h.frm_ptr, 0u);
  EXPECT_EQ(decode_ipc_header(Buf{}).opc, 0);
  // An offset near the top of the address space must not wrap into the buffer.
  IpcMsgHeader far = decode_ipc_header(b, SIZE_MAX - 4);
  EXPECT_EQ(far.opc, 0);
  EXPECT_EQ(far.frm_ptr, 0u);
  EXPECT_EQ(far.status, 0);
}

}  // namespace
}  // namespace wire
