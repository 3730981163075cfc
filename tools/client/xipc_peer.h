// XIPC peers from outside the daemon: fake DPP services that receive the
// daemon's datagrams, and senders that play a DPP talking to the daemon.
//
// On the host every XIPC datagram is a frame: the sender's 20-byte XipcAddr
// {family 31, the sender's core, module and port, the opcode and length of
// the destination address} followed by the payload.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/client/platform_dir.h"
#include "tools/client/unix_socket.h"
#include "wire/be.h"
#include "xipc/xipc_addr.h"

namespace client {

struct XipcEndpoint {
  std::uint16_t core = 0;
  std::uint16_t module = 0;
  std::uint16_t port = 0;
};

// The daemon's own endpoint, xipc/0.37.1024.
constexpr XipcEndpoint kDaemonEndpoint{0, kXipcModuleDaemon, kDaemonXipcPort};

struct XipcFrame {
  XipcAddr sender{};                  // decoded from the frame's first 20 bytes
  std::vector<std::uint8_t> payload;  // everything after them
};

std::vector<std::uint8_t> encode_xipc_frame(const XipcAddr& sender, wire::Bytes payload);
// A frame shorter than 20 bytes has its missing address bytes read as zero.
XipcFrame decode_xipc_frame(wire::Bytes frame);

std::string xipc_path(const PlatformDir& p, XipcEndpoint e);

// A DPP service bound at xipc/<core>.<module>.<port>, as a DPP that is up.
// The path is removed when the endpoint is destroyed.
struct FakeDppEndpoint {
  XipcEndpoint where;
  BoundSocket sock;

  // Binds (replacing a stale file); throws std::runtime_error when it cannot.
  FakeDppEndpoint(const PlatformDir& p, XipcEndpoint e);

  // The next frame, waiting up to timeout.
  std::optional<XipcFrame> recv(std::chrono::milliseconds timeout);
  // Every frame already queued, without waiting.
  std::vector<XipcFrame> drain();
};

// Sends payload to dst as the DPP service {core, module, port}, from an
// unbound socket: the frame's sender address carries those fields, opcode,
// and the payload's length cut to 16 bits. Never blocks. 0, or an errno.
int dpp_send(const PlatformDir& p, std::uint16_t core, std::uint16_t module, std::uint16_t port,
             std::uint16_t opcode, wire::Bytes payload, XipcEndpoint dst = kDaemonEndpoint);

// Sends bytes as they are (short or garbage frames) to the socket at path.
int send_raw_frame(const std::string& path, wire::Bytes bytes);

}  // namespace client
