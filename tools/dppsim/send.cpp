// dppsim send: records a DPP sends to the daemon's endpoint 0.37.1024.
//
// The daemon's socket holds only a few datagrams (net.unix.max_dgram_qlen),
// and every send is non-blocking: a full queue answers EAGAIN. The record is
// then retried after a short poll, and the retries are counted; a queue that
// stays full for kStuckAfter ends the run as a failure.
//
// SIGINT and SIGTERM stop the run between two records; the summary still
// says how many went out.
#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "tools/client/platform_dir.h"
#include "tools/client/unix_socket.h"
#include "tools/client/xipc_peer.h"
#include "tools/dppsim/commands.h"
#include "tools/dppsim/send_plan.h"

namespace dppsim {

namespace {

using Clock = std::chrono::steady_clock;
using ull = unsigned long long;
constexpr auto kStuckAfter = std::chrono::seconds(10);
constexpr auto kProgressEvery = std::chrono::seconds(1);

struct Tally {
  Clock::time_point start = Clock::now();
  std::uint64_t sent = 0;
  std::uint64_t retries = 0;
};

volatile std::sig_atomic_t stop_signal = 0;

void note_stop(int sig) { stop_signal = sig; }

void stop_on_signals() {
  struct sigaction sa {};
  sa.sa_handler = note_stop;  // no SA_RESTART: a wait in poll ends at once
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM}) sigaction(sig, &sa, nullptr);
}

// Pacing: waits until record seq is due at `rate` records per second (0: as
// fast as possible), or until a stop signal comes. A sleep, not a wait for an
// event.
void wait_turn(const Tally& t, double rate, std::uint64_t seq) {
  if (rate <= 0) return;
  const auto due = t.start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>((seq - 1) / rate));
  for (auto now = Clock::now(); !stop_signal && now < due; now = Clock::now())
    ::poll(nullptr, 0,
           static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
}

// Retries: sends one frame, again while the daemon's queue is full. 0, or the
// errno that ended the attempt (ETIMEDOUT when the queue stayed full).
int send_one(int fd, const std::string& path, const std::vector<std::uint8_t>& frame, Tally& t) {
  const auto since = Clock::now();
  for (;;) {
    int err = client::send_dgram(fd, path, frame);
    if (err != EAGAIN && err != EWOULDBLOCK) return err;
    if (stop_signal) return EINTR;
    if (Clock::now() - since > kStuckAfter) return ETIMEDOUT;
    ++t.retries;
    ::poll(nullptr, 0, 1);  // let the daemon read
  }
}

// Reporting: the record that could not be sent, progress once a second on a
// run of several records, and the summary.
int report_failure(const SendPlan& plan, const Tally& t, std::uint64_t seq, const std::string& dst,
                   int err) {
  std::fprintf(
      stderr, "dppsim send: record %llu could not be sent to the daemon's endpoint %s: %s%s\n",
      ull{seq}, dst.c_str(), err == ETIMEDOUT ? "its queue stayed full" : std::strerror(err),
      err == ENOENT || err == ECONNREFUSED ? " (is dravik running there?)" : "");
  std::printf("dppsim: sent %llu of %llu %s before the failure\n", ull{t.sent}, ull{plan.count},
              kind_name(plan).c_str());
  return kExitFailed;
}

void report_progress(const SendPlan& plan, const Tally& t, Clock::time_point& next) {
  if (plan.count <= 1 || Clock::now() < next) return;
  std::printf("dppsim: progress: %llu/%llu sent, %llu retries on a full queue\n", ull{t.sent},
              ull{plan.count}, ull{t.retries});
  std::fflush(stdout);
  next += kProgressEvery;
}

int report_done(const SendPlan& plan, const Tally& t, unsigned core) {
  const double secs = std::chrono::duration<double>(Clock::now() - t.start).count();
  if (stop_signal)
    std::printf("dppsim: stopped by %s: sent %llu of %llu\n",
                stop_signal == SIGINT ? "SIGINT" : "SIGTERM", ull{t.sent}, ull{plan.count});
  std::printf(
      "dppsim: sent %llu %s from DPP %u core %u to %u.%u.%u in %.3f s (%.0f/s), %llu "
      "retries on a full queue\n",
      ull{t.sent}, kind_name(plan).c_str(), plan.dpp, core, client::kDaemonEndpoint.core,
      client::kDaemonEndpoint.module, client::kDaemonEndpoint.port, secs,
      secs > 0 ? static_cast<double>(t.sent) / secs : 0.0, ull{t.retries});
  return stop_signal ? 128 + stop_signal : kExitOk;
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

  stop_on_signals();
  Tally t;
  auto next_progress = t.start + kProgressEvery;
  for (std::uint64_t seq = 1; seq <= plan.count; ++seq) {
    wait_turn(t, plan.rate, seq);
    if (stop_signal) break;
    auto payload = payload_for(plan, seq);
    sender.length = static_cast<std::uint16_t>(payload.size());
    int err = send_one(sock.fd, dst, client::encode_xipc_frame(sender, payload), t);
    if (err == EINTR) break;
    if (err != 0) return report_failure(plan, t, seq, dst, err);
    ++t.sent;
    report_progress(plan, t, next_progress);
  }
  return report_done(plan, t, sender.core);
}

}  // namespace dppsim
