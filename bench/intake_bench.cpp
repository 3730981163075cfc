// How fast the daemon takes in DPP log records and writes them to a DPP's
// log file, against a baseline measured in the same run: the same datagrams
// received and their text written with fwrite, with no decoding, formatting
// or time stamps. The difference is what the intake adds per record.
//
// Run on demand: bash scripts/bench.sh
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dpplog/intake.h"
#include "dpplog/log_files.h"
#include "dpplog/manager.h"
#include "frame/frame.h"
#include "wire/dpp_log_msg.h"
#include "xipc/xipc.h"
#include "xipc/xipc_addr.h"
#include "xipc/xipc_comm.h"

namespace {

constexpr std::string_view kText =
    "iscsi: session 0x1f2e login accepted from iqn.1998-01.com.example:host-42, "
    "cid 3, max_burst 262144";

// The daemon side, brought up once: its XIPC endpoint and a log manager
// writing DPP 1's records to a file.
struct Daemon {
  std::string dir;
  int sender = -1;
  sockaddr_un to{};
  std::vector<std::uint8_t> frame;

  Daemon() {
    char tmpl[] = "/tmp/dravik-bench.XXXXXX";
    dir = mkdtemp(tmpl);
    setenv("DRAVIK_PLATFORM_DIR", dir.c_str(), 1);
    // The daemon's start-up lines would bury the results: they go nowhere.
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO), saved_err = dup(STDERR_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (initialize() != 0 || init_koru_dbg_mgr(q, fd_xipc) != 0) std::abort();
    wire::SetDebugRequest open_files;
    open_files.type = wire::kSetDebugOutputFile;
    open_files.on = 1;
    open_files.name = "bench";
    set_output_file(open_files);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    dup2(saved_err, STDERR_FILENO);
    close(null);
    close(saved);
    close(saved_err);

    sender = socket(AF_UNIX, SOCK_DGRAM, 0);
    to.sun_family = AF_UNIX;
    std::snprintf(to.sun_path, sizeof to.sun_path, "%s/xipc/0.37.1024", dir.c_str());
    // A category-5 record from DPP 1's core 0, module 39.
    XipcAddr from{};
    from.family = AF_XIPC;
    from.module = kXipcModulePortDebug;
    from.opcode = 33;
    auto payload = wire::encode_dpp_log(0, 5, wire::IpcMsgHeader{}, kText);
    from.length = static_cast<std::uint16_t>(payload.size());
    frame.resize(kXipcAddrSize);
    encode_xipc_addr(from, frame);
    frame.insert(frame.end(), payload.begin(), payload.end());
  }
  ~Daemon() {
    close(sender);
    std::filesystem::remove_all(dir);
  }
  void send_one() const {
    if (sendto(sender, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) < 0)
      std::abort();
  }
};

Daemon& daemon_side() {
  static Daemon d;
  return d;
}

// The intake: receive, decode, format "[DPP%d] %s: %s", time-stamp check,
// write through the file's stream buffer.
void BM_IntakeToLogFile(benchmark::State& state) {
  Daemon& d = daemon_side();
  for (auto _ : state) {
    d.send_one();
    if (processKORUXIPCmsg(sd) != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IntakeToLogFile);

// The baseline: the same datagram received into the same size of buffer and
// its text written to a file with fwrite, nothing else.
void BM_BaselineRecvAndFwrite(benchmark::State& state) {
  Daemon& d = daemon_side();
  std::string path = d.dir + "/baseline";
  FILE* out = std::fopen(path.c_str(), "w");
  std::uint8_t buf[2240];
  for (auto _ : state) {
    d.send_one();
    XipcAddr src;
    socklen_t len = kXipcAddrSize;
    ssize_t n = xipc_recvfrom(sd, buf, sizeof buf, 0, &src, &len);
    if (n <= static_cast<ssize_t>(wire::dpp_log::kLogText)) std::abort();
    const char* text = reinterpret_cast<const char*>(buf + wire::dpp_log::kLogText);
    std::fwrite(text, 1, strnlen(text, n - wire::dpp_log::kLogText), out);
    std::fputc('\n', out);
  }
  std::fclose(out);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineRecvAndFwrite);

}  // namespace

// What the loop's wait costs the kernel when a datagram is already there, as
// under sustained load: select over three descriptors without a time-out (0),
// pselect with the 5-ms time-out the loop passes while anything waits to be
// written out (1), and poll over the same descriptors with that time-out (2).
// A time-out costs the kernel two clock readings and, for select and pselect,
// writing the time left back.
void BM_WaitReady(benchmark::State& state) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM, 0, sv) != 0) std::abort();
  int idle[2];
  if (::pipe(idle) != 0) std::abort();
  if (::write(sv[1], "x", 1) != 1) std::abort();  // stays unread: always ready
  const int nfds = std::max(sv[0], idle[0]) + 1;
  for (auto _ : state) {
    int n = 0;
    if (state.range(0) < 2) {
      fd_set rd;
      FD_ZERO(&rd);
      FD_SET(sv[0], &rd);
      FD_SET(idle[0], &rd);
      FD_SET(sv[1], &rd);
      const timespec limit{0, 5000000};
      n = state.range(0) == 0 ? ::select(nfds, &rd, nullptr, nullptr, nullptr)
                              : ::pselect(nfds, &rd, nullptr, nullptr, &limit, nullptr);
    } else {
      pollfd fds[3] = {{sv[0], POLLIN, 0}, {idle[0], POLLIN, 0}, {sv[1], POLLIN, 0}};
      n = ::poll(fds, 3, 5);
    }
    benchmark::DoNotOptimize(n);
  }
  ::close(sv[0]);
  ::close(sv[1]);
  ::close(idle[0]);
  ::close(idle[1]);
}
BENCHMARK(BM_WaitReady)->Arg(0)->Arg(1)->Arg(2);

BENCHMARK_MAIN();
