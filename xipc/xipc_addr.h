// XipcAddr: the 20-byte address of an XIPC endpoint (address family 31).
//
// On the wire (every field big-endian, the card's byte order):
//   0-1 family (31) | 2-3 core | 4-5 module | 6-7 opcode | 8-13 zero
//   | 14-15 length | 16-17 port | 18-19 zero
// The record below keeps the same fields at the same offsets in host order;
// it is turned into bytes only by encode_xipc_addr / decode_xipc_addr.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/be.h"

struct XipcAddr {
  std::uint16_t family;
  std::uint16_t core;
  std::uint16_t module;
  std::uint16_t opcode;
  std::uint16_t reserved[3];
  std::uint16_t length;
  std::uint16_t port;
  std::uint16_t reserved2;
};

constexpr int AF_XIPC = 31;
constexpr std::size_t kXipcAddrSize = 20;

// The services on a processor, and the message kinds between them.
constexpr std::uint16_t kXipcModuleDaemon = 37;
constexpr std::uint16_t kDaemonXipcPort = 1024;  // a rebind may ask for another (0)
constexpr std::uint16_t kXipcModulePortDebug = 39;
constexpr std::uint16_t kXipcModuleDppLog = 66;
constexpr std::uint16_t kXipcOpcodePortDebug = 88;
// The log service's opcode: the daemon's flags go to it, and DPPs send their
// log records under it (per-port debug text under the per-port debug opcode).
constexpr std::uint16_t kXipcOpcodeDppLog = 33;

// DPP n (from 1) owns four cores, XIPC cores 4(n-1) to 4(n-1)+3.
constexpr std::uint16_t kXipcCoresPerDpp = 4;
constexpr std::uint16_t first_core_of_dpp(unsigned n) { return kXipcCoresPerDpp * (n - 1); }
constexpr int dpp_of_core(std::uint16_t core) { return core / kXipcCoresPerDpp + 1; }

namespace xipc_addr {
constexpr std::size_t kFamily = 0;
constexpr std::size_t kCore = 2;
constexpr std::size_t kModule = 4;
constexpr std::size_t kOpcode = 6;
constexpr std::size_t kLength = 14;
constexpr std::size_t kPort = 16;
}  // namespace xipc_addr

static_assert(sizeof(XipcAddr) == kXipcAddrSize);
static_assert(offsetof(XipcAddr, family) == xipc_addr::kFamily);
static_assert(offsetof(XipcAddr, core) == xipc_addr::kCore);
static_assert(offsetof(XipcAddr, module) == xipc_addr::kModule);
static_assert(offsetof(XipcAddr, opcode) == xipc_addr::kOpcode);
static_assert(offsetof(XipcAddr, length) == xipc_addr::kLength);
static_assert(offsetof(XipcAddr, port) == xipc_addr::kPort);

// Writes the 20 wire bytes of a into out[0..20); reserved bytes are zero.
inline void encode_xipc_addr(const XipcAddr& a, wire::MutBytes out) {
  for (std::size_t i = 0; i < kXipcAddrSize && i < out.size(); ++i) out[i] = 0;
  wire::put_u16(out, xipc_addr::kFamily, a.family);
  wire::put_u16(out, xipc_addr::kCore, a.core);
  wire::put_u16(out, xipc_addr::kModule, a.module);
  wire::put_u16(out, xipc_addr::kOpcode, a.opcode);
  wire::put_u16(out, xipc_addr::kLength, a.length);
  wire::put_u16(out, xipc_addr::kPort, a.port);
}

// Reads an address from the first 20 bytes of in; missing bytes read as zero.
inline XipcAddr decode_xipc_addr(wire::Bytes in) {
  XipcAddr a{};
  a.family = wire::get_u16(in, xipc_addr::kFamily);
  a.core = wire::get_u16(in, xipc_addr::kCore);
  a.module = wire::get_u16(in, xipc_addr::kModule);
  a.opcode = wire::get_u16(in, xipc_addr::kOpcode);
  a.length = wire::get_u16(in, xipc_addr::kLength);
  a.port = wire::get_u16(in, xipc_addr::kPort);
  return a;
}
