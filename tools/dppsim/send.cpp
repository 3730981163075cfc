// dppsim send: records a DPP sends to the daemon's endpoint 0.37.1024.
//
// The daemon's socket holds only a few datagrams (net.unix.max_dgram_qlen),
// and every send is non-blocking: a full queue answers EAGAIN. The record is
// then retried after a short poll, and the retries are counted; a queue that
// stays full for kStuckAfter ends the run as a failure.
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

#include "tools/client/platform_dir.h"
#include "tools/client/unix_socket.h"
#include "tools/client/xipc_peer.h"
#include "tools/dppsim/commands.h"
#include "tools/dppsim/send_plan.h"

namespace dppsim {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStuckAfter = std::chrono::seconds(10);
constexpr auto kProgressEvery = std::chrono::seconds(1);

struct Tally {
  std::uint64_t sent = 0;
  std::uint64_t retries = 0;
};

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Sends one frame, retrying while the daemon's queue is full. 0, or the errno
// that ended the attempt (ETIMEDOUT when the queue stayed full).
int send_one(int fd, const std::string& path, const std::vector<std::uint8_t>& frame, Tally& t) {
  const auto since = Clock::now();
  for (;;) {
    int err = client::send_dgram(fd, path, frame);
    if (err != EAGAIN && err != EWOULDBLOCK) return err;
    if (Clock::now() - since > kStuckAfter) return ETIMEDOUT;
    ++t.retries;
    ::poll(nullptr, 0, 1);  // let the daemon read
  }
}

}  // namespace

int send_records(const SendPlan& plan) {
  client::PlatformDir p = client::platform_from_env();
  std::string dst;
  try {
    dst = client::xipc_path(p, client::kDaemonEndpoint);
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "dppsim send: %s\n", ex.what());
    return kExitFailed;
  }
  client::Fd sock = client::dgram_socket();
  if (sock.fd < 0) {
    std::perror("dppsim send: socket");
    return kExitFailed;
  }

  XipcAddr sender{};
  sender.family = AF_XIPC;
  sender.core = sender_core(plan);
  sender.module = kXipcModulePortDebug;
  sender.opcode = sender_opcode(plan);

  Tally t;
  const auto start = Clock::now();
  auto next_progress = start + kProgressEvery;
  for (std::uint64_t seq = 1; seq <= plan.count; ++seq) {
    if (plan.rate > 0) {
      auto due = start + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>((seq - 1) / plan.rate));
      std::this_thread::sleep_until(due);  // pacing, not waiting for an event
    }
    auto payload = payload_for(plan, seq);
    sender.length = static_cast<std::uint16_t>(payload.size());
    int err = send_one(sock.fd, dst, client::encode_xipc_frame(sender, payload), t);
    if (err != 0) {
      std::fprintf(stderr,
                   "dppsim send: record %llu could not be sent to the daemon's endpoint %s: %s%s\n",
                   static_cast<unsigned long long>(seq), dst.c_str(),
                   err == ETIMEDOUT ? "its queue stayed full" : std::strerror(err),
                   err == ENOENT || err == ECONNREFUSED ? " (is dravik running there?)" : "");
      std::printf("dppsim: sent %llu of %llu %s before the failure\n",
                  static_cast<unsigned long long>(t.sent),
                  static_cast<unsigned long long>(plan.count), kind_name(plan).c_str());
      return kExitFailed;
    }
    ++t.sent;
    if (plan.count > 1 && Clock::now() >= next_progress) {
      std::printf("dppsim: progress: %llu/%llu sent, %llu retries on a full queue\n",
                  static_cast<unsigned long long>(t.sent),
                  static_cast<unsigned long long>(plan.count),
                  static_cast<unsigned long long>(t.retries));
      std::fflush(stdout);
      next_progress += kProgressEvery;
    }
  }
  const double secs = seconds_since(start);
  std::printf(
      "dppsim: sent %llu %s from DPP %u core %u to %u.%u.%u in %.3f s (%.0f/s), %llu "
      "retries on a full queue\n",
      static_cast<unsigned long long>(t.sent), kind_name(plan).c_str(), plan.dpp,
      static_cast<unsigned>(sender.core), client::kDaemonEndpoint.core,
      client::kDaemonEndpoint.module, client::kDaemonEndpoint.port, secs,
      secs > 0 ? static_cast<double>(t.sent) / secs : 0.0,
      static_cast<unsigned long long>(t.retries));
  return kExitOk;
}

}  // namespace dppsim
