// The end-to-end benchmark's own programs, driven by bench/e2e.py:
//
//   e2e_tool send PATH COUNT SIZE xipc|syslog [FIRST]
//       Sends COUNT records (sequence FIRST on, default 1) of SIZE text bytes to the datagram
//       socket at PATH, in sendmmsg batches on a blocking socket: a full queue makes the sender
//       wait, nothing is dropped. xipc: frames as DPP 1 sends them, log records (category 5) and
//       per-port debug text in turn; syslog:
//       "<14>bench: " and the text. Each text starts "@<10-digit sequence> ".
//       Prints the seconds from the first send to the last.
//   e2e_tool limit SOCKET SINK [LINES]
//       The limit: a select + recvfrom + fwrite loop writing each record's
//       text and a newline to the file SINK, a 2 MiB ring, until SIGTERM.
//       With LINES, every pass also writes the daemon's 25-byte ready line
//       "Waiting for a message...\n" to the file LINES with a write of its
//       own, as an unbuffered standard output does: what buffering saves.
//   e2e_tool sink PATH [COUNT TIMEOUT_S]
//       Reads records from PATH (a FIFO to its end, or a growing file until
//       COUNT records are in or the time is up) and prints
//       "records R disorder D last L": D counts records whose sequence does
//       not follow the one before.
//   e2e_tool rtt SAP_SOCKET VTY ROUNDS
//       Request round trips: per-port debug subscribe and release through
//       the daemon's SAP, against a plain AF_UNIX datagram echo (a child
//       process), one of each in turn. Prints the medians in microseconds.
#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tools/client/xipc_peer.h"
#include "tools/dravikctl/plan.h"
#include "wire/dpp_log_msg.h"
#include "wire/vesk_frame.h"
#include "xipc/xipc_addr.h"

namespace {

using Clock = std::chrono::steady_clock;
using Frame = std::vector<std::uint8_t>;

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::exit(1);
}

sockaddr_un unix_addr(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) {
    std::fprintf(stderr, "socket path too long: %s\n", path.c_str());
    std::exit(1);
  }
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  return a;
}

int bound_socket(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un a = unix_addr(path);
  ::unlink(path.c_str());
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) die("bind");
  return fd;
}

std::string text_of(std::uint32_t seq, std::size_t size) {
  char head[16];
  std::snprintf(head, sizeof head, "@%010u ", seq);
  std::string t(head);
  t.resize(std::max(size, t.size()), 'x');
  return t;
}

Frame frame_of(bool syslog, std::uint32_t seq, std::size_t size) {
  const std::string text = text_of(seq, size);
  if (syslog) {
    std::string m = "<14>bench: " + text;
    return Frame(m.begin(), m.end());
  }
  XipcAddr from{};
  from.family = AF_XIPC;
  from.module = kXipcModulePortDebug;
  Frame payload;
  if (seq % 2 == 0) {
    from.opcode = kXipcOpcodePortDebug;
    payload = wire::encode_port_debug_text(static_cast<std::uint32_t>(text.size() + 1), text);
  } else {
    from.opcode = 33;
    payload = wire::encode_dpp_log(0, 5, wire::IpcMsgHeader{}, text);
  }
  from.length = static_cast<std::uint16_t>(payload.size());
  return client::encode_xipc_frame(from, payload);
}

int send(const std::string& path, std::uint32_t first, std::uint32_t count, std::size_t size,
         bool syslog) {
  constexpr std::uint32_t kBatch = 64;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un to = unix_addr(path);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) die("connect");
  // Frames are made ahead of time, one batch at a time, so the sender's own
  // work stays small beside the receiver's.
  std::vector<Frame> frames(kBatch);
  std::vector<iovec> iov(kBatch);
  std::vector<mmsghdr> msgs(kBatch);
  const auto start = Clock::now();
  const std::uint32_t end = first + count;
  for (std::uint32_t next = first; next < end;) {
    const std::uint32_t n = std::min(kBatch, end - next);
    for (std::uint32_t i = 0; i < n; ++i) {
      frames[i] = frame_of(syslog, next + i, size);
      iov[i] = {frames[i].data(), frames[i].size()};
      msgs[i] = {};
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
    }
    for (std::uint32_t done = 0; done < n;) {
      int r = ::sendmmsg(fd, msgs.data() + done, n - done, 0);
      if (r < 0 && errno != EINTR) die("sendmmsg");
      if (r > 0) done += static_cast<std::uint32_t>(r);
    }
    next += n;
  }
  std::printf("%.6f\n", std::chrono::duration<double>(Clock::now() - start).count());
  return 0;
}

volatile sig_atomic_t running = 1;
void stop(int) { running = 0; }

int limit(const std::string& path, const std::string& sink, const std::string& lines) {
  int fd = bound_socket(path);
  int lines_fd = -1;
  if (!lines.empty()) {
    lines_fd = ::open(lines.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (lines_fd < 0) die("open lines");
  }
  static constexpr char kWaiting[] = "Waiting for a message...\n";
  struct sigaction sa {};
  sa.sa_handler = stop;
  ::sigaction(SIGTERM, &sa, nullptr);
  FILE* out = std::fopen(sink.c_str(), "w");
  if (out == nullptr) die("open sink");
  std::uint8_t buf[kXipcAddrSize + wire::dpp_log::kRecvSize + 1];
  constexpr std::size_t kRing = 0x200000;
  std::size_t written = 0;
  while (running) {
    if (lines_fd >= 0 && ::write(lines_fd, kWaiting, sizeof kWaiting - 1) < 0) die("write lines");
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(fd, &rd);
    if (::select(fd + 1, &rd, nullptr, nullptr, nullptr) <= 0) continue;
    ssize_t n = ::recvfrom(fd, buf, sizeof buf - 1, 0, nullptr, nullptr);
    if (n < static_cast<ssize_t>(kXipcAddrSize)) continue;
    // The sender's opcode (address bytes 6-7) tells where the text starts.
    const bool port_text = (buf[6] << 8 | buf[7]) == kXipcOpcodePortDebug;
    const std::size_t at =
        kXipcAddrSize + (port_text ? wire::dpp_log::kPortText : wire::dpp_log::kLogText);
    if (static_cast<std::size_t>(n) <= at) continue;
    buf[n] = 0;
    const char* text = reinterpret_cast<const char*>(buf + at);
    const std::size_t len = strnlen(text, static_cast<std::size_t>(n) - at);
    std::fwrite(text, 1, len, out);
    std::fputc('\n', out);
    // A ring of 2 MiB, as the daemon keeps its log files.
    if ((written += len + 1) > kRing) {
      std::rewind(out);
      written = 0;
    }
  }
  std::fclose(out);
  if (lines_fd >= 0) ::close(lines_fd);
  return 0;
}

int sink(const std::string& path, std::uint64_t until, double timeout_s) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) die("open");
  struct stat st {};
  ::fstat(fd, &st);
  const bool fifo = S_ISFIFO(st.st_mode);
  const auto deadline = Clock::now() + std::chrono::duration<double>(timeout_s);
  std::uint64_t records = 0, disorder = 0, last = 0;
  std::string line;
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) die("read");
    if (n == 0) {
      if (fifo || records >= until || Clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] != '\n') {
        line.push_back(buf[i]);
        continue;
      }
      auto at = line.find('@');
      if (at != std::string::npos && line.size() >= at + 11) {
        std::uint64_t seq = std::strtoull(line.c_str() + at + 1, nullptr, 10);
        if (seq != last + 1) ++disorder;
        last = seq;
        ++records;
      }
      line.clear();
    }
  }
  std::printf("records %llu disorder %llu last %llu\n", static_cast<unsigned long long>(records),
              static_cast<unsigned long long>(disorder), static_cast<unsigned long long>(last));
  return 0;
}

// One request and its reply on the bound socket fd; the round trip in µs.
double round_trip(int fd, const sockaddr_un& to, const Frame& frame) {
  std::uint8_t reply[20000];
  const auto t0 = Clock::now();
  if (::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) < 0)
    die("sendto");
  if (::recv(fd, reply, sizeof reply, 0) < 0) die("recv");
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

Frame request_frame(const std::vector<std::string>& words, bool off, const std::string& vty) {
  const dravikctl::Action a = dravikctl::plan_port_debug(words, off, vty);
  wire::VeskRequestFrame f;
  f.opcode = a.opcode;
  f.payload = a.payload;
  return wire::encode_vesk_request(f);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int rtt(const std::string& sap, const std::string& vty, int rounds) {
  const std::string base = sap + ".rtt";
  const std::string echo_path = base + "-echo", own_path = base + "-client";
  int echo = bound_socket(echo_path);
  pid_t child = ::fork();
  if (child == 0) {
    std::uint8_t buf[20000];
    sockaddr_un from{};
    for (;;) {
      socklen_t len = sizeof from;
      ssize_t n = ::recvfrom(echo, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n >= 0)
        ::sendto(echo, buf, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from),
                 len);
    }
  }
  int own = bound_socket(own_path);
  timeval tv{5, 0};
  ::setsockopt(own, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const std::vector<std::string> words = {"nivo", "ipstack", "tcp", "port", "3"};
  const Frame sub = request_frame(words, false, vty), rel = request_frame(words, true, vty);
  const sockaddr_un to_daemon = unix_addr(sap), to_echo = unix_addr(echo_path);
  std::vector<double> daemon_us, echo_us;
  // Work goes on after each answer (the daemon prints its subscription map,
  // dppsim takes the flag updates sent to the DPPs): each round trip starts
  // after a pause in which that is over, or the next one (either's) would
  // be measured against it.
  const auto pause = std::chrono::milliseconds(1);
  for (int i = 0; i < rounds; ++i) {
    daemon_us.push_back(round_trip(own, to_daemon, i % 2 == 0 ? sub : rel));
    std::this_thread::sleep_for(pause);
    echo_us.push_back(round_trip(own, to_echo, i % 2 == 0 ? sub : rel));
    std::this_thread::sleep_for(pause);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::unlink(echo_path.c_str());
  ::unlink(own_path.c_str());
  std::printf("daemon_us %.2f echo_us %.2f\n", median(daemon_us), median(echo_us));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  const std::string cmd = a.empty() ? "" : a[0];
  if (cmd == "send" && (a.size() == 5 || a.size() == 6))
    return send(a[1], a.size() == 6 ? static_cast<std::uint32_t>(std::stoul(a[5])) : 1,
                static_cast<std::uint32_t>(std::stoul(a[2])), std::stoul(a[3]), a[4] == "syslog");
  if (cmd == "limit" && (a.size() == 3 || a.size() == 4))
    return limit(a[1], a[2], a.size() == 4 ? a[3] : "");
  if (cmd == "sink" && (a.size() == 2 || a.size() == 4))
    return sink(a[1], a.size() == 4 ? std::stoull(a[2]) : 0, a.size() == 4 ? std::stod(a[3]) : 0);
  if (cmd == "rtt" && a.size() == 4) return rtt(a[1], a[2], std::stoi(a[3]));
  std::fprintf(stderr, "usage: see the comment at the top of bench/e2e_tool.cpp\n");
  return 2;
}
