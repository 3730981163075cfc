#include "tools/client/vesk_client.h"

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "tools/client/unix_socket.h"

namespace client {

namespace {

std::vector<std::uint8_t> request_frame(std::uint32_t opcode, std::uint32_t flags,
                                        std::uint32_t tag, wire::Bytes payload) {
  wire::VeskRequestFrame f;
  f.opcode = opcode;
  f.flags = flags;
  f.tag = tag;
  f.payload.assign(payload.begin(), payload.end());
  return wire::encode_vesk_request(f);
}

// Each request gets its own reply address, so concurrent requests of one
// process (or of several) never take each other's replies.
std::string next_client_path(const PlatformDir& p) {
  static std::atomic<unsigned> counter{0};
  return clients_dir(p) + "/" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1));
}

// Parses a non-empty run of decimal digits; -1 for anything else.
long parse_sap(const char* name) {
  if (!*name) return -1;
  long v = 0;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9' || v > 100000000) return -1;
    v = v * 10 + (*c - '0');
  }
  return v;
}

}  // namespace

namespace {

Exchange exchange_frame(const PlatformDir& p, unsigned sap, wire::Bytes frame,
                        std::chrono::milliseconds timeout) {
  Exchange x;
  BoundSocket own;
  if ((x.error = make_dirs(clients_dir(p))) != 0) return x;
  if ((x.error = bind_dgram(next_client_path(p), own)) != 0) return x;
  if ((x.error = send_dgram(own.fd.fd, vesk_path(p, sap), frame)) != 0) return x;
  if (auto got = recv_dgram(own.fd.fd, timeout)) x.reply = wire::decode_vesk_reply(got->bytes);
  return x;
}

}  // namespace

std::optional<wire::VeskReplyFrame> request(const PlatformDir& p, unsigned sap,
                                            std::uint32_t opcode, wire::Bytes payload,
                                            std::chrono::milliseconds timeout, std::uint32_t flags,
                                            std::uint32_t tag) {
  return exchange_frame(p, sap, request_frame(opcode, flags, tag, payload), timeout).reply;
}

Exchange exchange(const PlatformDir& p, unsigned sap, std::uint32_t opcode, wire::Bytes payload,
                  std::chrono::milliseconds timeout) {
  return exchange_frame(p, sap, request_frame(opcode, 0, 0, payload), timeout);
}

int send_unbound(const PlatformDir& p, unsigned sap, std::uint32_t opcode, wire::Bytes payload,
                 std::uint32_t flags, std::uint32_t tag) {
  return send_raw(p, sap, request_frame(opcode, flags, tag, payload));
}

int send_raw(const PlatformDir& p, unsigned sap, wire::Bytes bytes) {
  Fd s = dgram_socket();
  if (s.fd < 0) return errno;
  return send_dgram(s.fd, vesk_path(p, sap), bytes);
}

int notify(const PlatformDir& p, std::uint32_t opcode, wire::Bytes payload) {
  std::string dir = vesk_reg_dir(p, opcode);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return 0;
  std::vector<long> saps;
  while (dirent* e = ::readdir(d)) {
    long sap = parse_sap(e->d_name);
    if (sap >= 0) saps.push_back(sap);
  }
  ::closedir(d);
  Fd s = dgram_socket();
  if (s.fd < 0) return 0;
  auto frame = request_frame(opcode, 0, 0, payload);
  int reached = 0;
  for (long sap : saps)
    if (send_dgram(s.fd, vesk_path(p, static_cast<unsigned>(sap)), frame) == 0) ++reached;
  return reached;
}

}  // namespace client
