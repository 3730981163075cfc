#include "tools/client/xipc_peer.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/host/layout.h"

namespace client {

std::vector<std::uint8_t> encode_xipc_frame(const XipcAddr& sender, wire::Bytes payload) {
  std::vector<std::uint8_t> out(kXipcAddrSize + payload.size());
  encode_xipc_addr(sender, out);
  wire::put_raw(out, kXipcAddrSize, payload.data(), payload.size());
  return out;
}

XipcFrame decode_xipc_frame(wire::Bytes frame) {
  XipcFrame f;
  f.sender = decode_xipc_addr(frame);
  if (frame.size() > kXipcAddrSize) f.payload.assign(frame.begin() + kXipcAddrSize, frame.end());
  return f;
}

std::string xipc_path(const PlatformDir& p, XipcEndpoint e) {
  return xipc_path(p, e.core, e.module, e.port);
}

FakeDppEndpoint::FakeDppEndpoint(const PlatformDir& p, XipcEndpoint e) : where(e) {
  std::string dir = p.dir + "/" + std::string(layout::kXipc);
  int err = make_dirs(dir);
  if (err == 0) err = bind_dgram(xipc_path(p, e), sock);
  if (err != 0)
    throw std::runtime_error("cannot bind fake DPP endpoint " + xipc_path(p, e) + ": " +
                             std::strerror(err));
}

std::optional<XipcFrame> FakeDppEndpoint::recv(std::chrono::milliseconds timeout) {
  auto got = recv_dgram(sock.fd.fd, timeout);
  if (!got) return std::nullopt;
  return decode_xipc_frame(got->bytes);
}

std::vector<XipcFrame> FakeDppEndpoint::drain() {
  std::vector<XipcFrame> out;
  while (auto f = recv(std::chrono::milliseconds(0))) out.push_back(std::move(*f));
  return out;
}

int dpp_send(const PlatformDir& p, std::uint16_t core, std::uint16_t module, std::uint16_t port,
             std::uint16_t opcode, wire::Bytes payload, XipcEndpoint dst) {
  XipcAddr sender{};
  sender.family = AF_XIPC;
  sender.core = core;
  sender.module = module;
  sender.opcode = opcode;
  sender.length = static_cast<std::uint16_t>(payload.size());
  sender.port = port;
  return send_raw_frame(xipc_path(p, dst), encode_xipc_frame(sender, payload));
}

int send_raw_frame(const std::string& path, wire::Bytes bytes) {
  Fd s = dgram_socket();
  if (s.fd < 0) return errno;
  return send_dgram(s.fd, path, bytes);
}

}  // namespace client
