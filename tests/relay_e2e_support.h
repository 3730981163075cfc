// Shared ground of the per-port debug relay's end-to-end tests: a daemon
// driven request by request over VESK, pseudo-terminals whose master side the
// test reads, fake DPP cores bound at xipc/<core>.39.0, the expected bytes of a
// FlagUpdateMsg, and the daemon's open descriptors as /proc shows them.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/daemon.h"
#include "tools/client/platform_files.h"
#include "tools/client/vesk_client.h"
#include "tools/client/xipc_peer.h"
#include "wire/be.h"
#include "wire/debug_request.h"
#include "wire/flag_update_msg.h"
#include "wire/vesk_frame.h"
#include "xipc/xipc_addr.h"

namespace e2e::relay {

using Buf = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

// Any opcode that is not 922, 6111 or one of the log manager's is a per-port
// debug request.
constexpr std::uint32_t kRelayOpcode = 1;
constexpr std::uint32_t kReleaseAll = 922;
constexpr std::size_t kReplySize = 5000;
constexpr std::uint32_t kOn = 1;
constexpr std::uint32_t kOff = 2;

// --- requests -------------------------------------------------------------

inline wire::DebugRequest make_request(std::int32_t id, std::uint8_t port, bool off,
                                       std::string_view term) {
  wire::DebugRequest r;
  r.commandID = id;
  r.port = port;
  r.noFlag = off ? 1 : 0;
  std::memcpy(r.term, term.data(), std::min(term.size(), sizeof r.term - 1));
  return r;
}
inline Buf on_request(std::int32_t id, std::uint8_t port, std::string_view term) {
  return wire::encode_debug_request(make_request(id, port, false, term));
}
inline Buf off_request(std::int32_t id, std::uint8_t port, std::string_view term) {
  return wire::encode_debug_request(make_request(id, port, true, term));
}
inline Buf show_request(std::string_view term) {
  return wire::encode_debug_request(make_request(126, 0, false, term));
}

// --- expected FlagUpdateMsg ---------------------------------------------

// The 616 bytes of an update without a filter; tests add a filter's fields
// through the wire layout's offsets.
inline Buf flag_bytes(std::uint32_t op, std::uint32_t mask, std::uint32_t module) {
  Buf b(616, 0);
  wire::put_u32(b, wire::flag_update::kOp, op);
  wire::put_u32(b, wire::flag_update::kMask, mask);
  wire::put_u32(b, wire::flag_update::kModule, module);
  return b;
}

// A frame from the daemon to a DPP core's flag service holds the daemon's own
// address as sender, the destination's opcode 88 and length 616, and the
// exact bytes expected.
inline ::testing::AssertionResult is_update(const std::optional<client::XipcFrame>& f,
                                            const Buf& expected) {
  if (!f) return ::testing::AssertionFailure() << "no flag update arrived";
  const XipcAddr& s = f->sender;
  if (s.family != AF_XIPC || s.core != 0 || s.module != kXipcModuleDaemon || s.port != 1024 ||
      s.opcode != kXipcOpcodePortDebug || s.length != 616)
    return ::testing::AssertionFailure() << "sender core " << s.core << " module " << s.module
                                         << " opcode " << s.opcode << " length " << s.length;
  if (f->payload.size() != expected.size())
    return ::testing::AssertionFailure() << f->payload.size() << " bytes";
  for (std::size_t i = 0; i < expected.size(); ++i)
    if (f->payload[i] != expected[i])
      return ::testing::AssertionFailure()
             << "byte " << i << " is " << int(f->payload[i]) << ", expected " << int(expected[i])
             << " (op " << wire::get_u32(f->payload, 0) << " mask 0x" << std::hex
             << wire::get_u32(f->payload, 4) << std::dec << " module "
             << wire::get_u32(f->payload, 8) << ")";
  return ::testing::AssertionSuccess();
}

// Every frame queued at the endpoint must be exactly the expected updates, in
// order. The daemon sends an update before it replies, so after the reply it
// is already queued.
inline void expect_updates(client::FakeDppEndpoint& dpp, const std::vector<Buf>& expected) {
  auto got = dpp.drain();
  ASSERT_EQ(got.size(), expected.size()) << "frames at core " << dpp.where.core;
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE(is_update(got[i], expected[i])) << "update " << i << " at core " << dpp.where.core;
}

// --- replies ----------------------------------------------------------------

inline ::testing::AssertionResult is_reply(const std::optional<wire::VeskReplyFrame>& r) {
  if (!r) return ::testing::AssertionFailure() << "no reply";
  if (r->header != wire::kReplyHeaderBytes || r->opcode != kRelayOpcode ||
      r->payload.size() != kReplySize)
    return ::testing::AssertionFailure() << "reply header byte 0 " << int(r->header[0])
                                         << ", opcode " << r->opcode << ", "
                                         << r->payload.size() << " bytes";
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult is_empty_reply(const std::optional<wire::VeskReplyFrame>& r) {
  if (auto ok = is_reply(r); !ok) return ok;
  for (std::size_t i = 0; i < r->payload.size(); ++i)
    if (r->payload[i] != 0)
      return ::testing::AssertionFailure() << "reply byte " << i << " is " << int(r->payload[i]);
  return ::testing::AssertionSuccess();
}

// The text of a reply's payload up to its first NUL, checking that every byte
// after it is zero; nothing when the 5000 bytes hold no NUL.
inline std::optional<std::string> reply_text(const wire::VeskReplyFrame& r) {
  auto nul = std::find(r.payload.begin(), r.payload.end(), std::uint8_t{0});
  if (nul == r.payload.end()) return std::nullopt;
  EXPECT_TRUE(std::all_of(nul, r.payload.end(), [](std::uint8_t b) { return b == 0; }));
  return std::string(r.payload.begin(), nul);
}

// --- terminals ---------------------------------------------------------------

// A pseudo-terminal in raw mode (no newline or tab translation): the daemon
// opens `path`, the test reads what it writes from the master side.
struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;

  Pty() {
    termios raw{};
    cfmakeraw(&raw);
    char name[128] = {};
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0)
      throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    path = name;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  ~Pty() {
    ::close(master);
    ::close(slave);
  }

  // Reads from the master until what came ends with `tail` or the wait is
  // over; returns everything read.
  std::string read_until(std::string_view tail) {
    std::string got;
    client::wait_for(
        [&] {
          char chunk[4096];
          for (ssize_t r; (r = ::read(master, chunk, sizeof chunk)) > 0;)
            got.append(chunk, static_cast<std::size_t>(r));
          return got.ends_with(tail);
        },
        kWait, std::chrono::milliseconds(2));
    return got;
  }
};

// Creates an empty regular file (a terminal stand-in that can be opened).
inline void touch(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  ::close(fd);
}

// --- the daemon's descriptors ----------------------------------------------

// The daemon's descriptors open on path (all of them when path is empty), in
// ascending order.
inline std::vector<int> fds_of(pid_t pid, const std::string& path = {}) {
  std::vector<int> out;
  std::error_code ec;
  for (const auto& e :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code rc;
    if (path.empty() || std::filesystem::read_symlink(e.path(), rc).string() == path)
      out.push_back(std::stoi(e.path().filename().string()));
  }
  std::sort(out.begin(), out.end());
  return out;
}
inline std::size_t fd_count(pid_t pid) { return fds_of(pid).size(); }

// --- stdout -------------------------------------------------------------------

inline std::string request_line(int port, int id, int no_flag, const std::string& term) {
  return "processVESKreq:*** Port: " + std::to_string(port) + " CommandID: " + std::to_string(id) +
         " NoFlag: " + std::to_string(no_flag) + "  Term: " + term + " ***";
}

// --- the daemon, one message at a time --------------------------------------

// Starts a daemon per test and drives it one message at a time: each helper
// returns when the daemon has handled the message completely and waits in
// select() again, so its standard output, the map print included, is whole.
class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(d_.wait_ready()); }

  DaemonProcess& d() { return d_; }
  const client::PlatformDir& p() { return d_.platform(); }
  pid_t pid() { return d_.pid(); }
  std::string dir() { return d_.dir(); }

  // A fake DPP core's flag service, xipc/<core>.39.0.
  std::unique_ptr<client::FakeDppEndpoint> dpp(std::uint16_t core) {
    return std::make_unique<client::FakeDppEndpoint>(
        p(), client::XipcEndpoint{core, kXipcModulePortDebug, 0});
  }

  // Sends a per-port debug request and returns its reply, after the daemon
  // has finished with the request.
  std::optional<wire::VeskReplyFrame> ask(wire::Bytes payload) {
    auto r = client::request(p(), kSap, kRelayOpcode, payload, kWait);
    settle();
    return r;
  }

  // Sends a message that gets no reply and waits until it has been handled.
  void tell(std::uint32_t opcode, wire::Bytes payload = {}) {
    ASSERT_EQ(client::send_unbound(p(), kSap, opcode, payload), 0);
    settle();
  }

  // Waits until the daemon has handled `messages` more messages.
  void settle(std::size_t messages = 1) {
    passes_ += messages;
    EXPECT_TRUE(d_.wait_idle(passes_))
        << "the daemon did not come back to select() after " << passes_ - 1 << " messages";
  }

  // What the daemon printed while handling the last message (back 0) or the
  // one `back` messages before it.
  std::string last_pass(std::size_t back = 0) {
    std::string out = d_.stdout_text();
    std::size_t end = out.rfind(kReadyLine);
    for (std::size_t i = 0; i < back && end != std::string::npos && end > 0; ++i)
      end = out.rfind(kReadyLine, end - 1);
    if (end == std::string::npos || end == 0) return {};
    std::size_t begin = out.rfind(kReadyLine, end - 1);
    begin = begin == std::string::npos ? 0 : begin + kReadyLine.size() + 1;
    return out.substr(begin, end - begin);
  }

  // The map as printed after the last message.
  Lines printed_map() {
    Lines rows;
    for (const auto& l : lines_of(last_pass()))
      if (l.starts_with("Index: ")) rows.push_back(l);
    return rows;
  }

  // The map line of an in-use row, with the descriptor the daemon holds open
  // on its terminal (the only one it has open there, unless fd is given).
  std::string row(int index, std::uint32_t mask, std::uint32_t module, std::uint32_t port,
                  const std::string& vty, int fd = -1) {
    if (fd < 0) {
      auto fds = fds_of(pid(), vty);
      fd = fds.size() == 1 ? fds[0] : -1;
    }
    char line[256];
    std::snprintf(line, sizeof line,
                  "Index: %d   mask: %d   module: %u   Port: %u  VTY: %s  VTYfd: %d", index,
                  static_cast<std::int32_t>(mask), module, port, vty.c_str(), fd);
    return line;
  }

  DaemonProcess d_;
  std::size_t passes_ = 1;
};

}  // namespace e2e::relay
