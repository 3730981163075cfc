// Shared ground of the DPP debug log manager's end-to-end tests: its requests
// (SET_DEBUG 5000, show 5001) with their reply checks, DPP senders paced to
// the daemon's queue, the DPP log services at xipc/<core>.66.0, and a daemon
// driven one message at a time whose output is taken step by step.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/daemon.h"
#include "tools/client/platform_files.h"
#include "tools/client/vesk_client.h"
#include "tools/client/xipc_peer.h"
#include "wire/dpp_flag_msg.h"
#include "wire/dpp_notify.h"
#include "wire/set_debug_request.h"

namespace e2e {

using Buf = std::vector<std::uint8_t>;

constexpr std::string_view kHead = "\nDebug level: 6 (INFO)\n\nDPP instances: ";

// DPP n's log service: core 4 x (n - 1), module 66.
inline client::XipcEndpoint log_service(int dpp) {
  return {static_cast<std::uint16_t>(4 * (dpp - 1)), kXipcModuleDppLog, 0};
}

using Filters = std::array<std::uint32_t, 4>;

// The one datagram a DPP's log service was sent: a DppFlagMsg from the
// daemon's endpoint with the flags and level given, and the filter blocks
// listed (category, words).
inline ::testing::AssertionResult got_flags(client::FakeDppEndpoint& e, std::uint32_t flags,
                                            std::uint8_t level,
                                            const std::vector<std::pair<int, Filters>>& blocks = {}) {
  auto f = e.recv(kWait);
  if (!f) return ::testing::AssertionFailure() << "no datagram";
  if (auto more = e.drain(); !more.empty())
    return ::testing::AssertionFailure() << 1 + more.size() << " datagrams";
  const XipcAddr& s = f->sender;
  if (f->payload.size() != wire::dpp_flag::kSize || s.module != kXipcModuleDaemon ||
      s.port != 1024 || s.opcode != kXipcOpcodeDppLogFlags || s.length != wire::dpp_flag::kSize)
    return ::testing::AssertionFailure() << f->payload.size() << " bytes, sender module "
                                         << s.module << " port " << s.port << " opcode "
                                         << s.opcode << " length " << s.length;
  auto m = wire::decode_dpp_flag(f->payload);
  if (m.num_categories != 29 || m.level != level || m.flags != flags)
    return ::testing::AssertionFailure() << "categories " << int(m.num_categories) << " level "
                                         << int(m.level) << " flags 0x" << std::hex << m.flags;
  for (const auto& [cat, words] : blocks)
    if (m.filters[cat - 1] != words)
      return ::testing::AssertionFailure() << "block of category " << cat << " is "
                                           << ::testing::PrintToString(m.filters[cat - 1]);
  return ::testing::AssertionSuccess();
}

// A SET_DEBUG answered with its empty reply, opcode and tag echoed.
inline ::testing::AssertionResult answered(const DaemonProcess& d, const Buf& payload) {
  auto r = client::request(d.platform(), kSap, 5000, payload, kWait, 0, 0x5E7D);
  if (!r) return ::testing::AssertionFailure() << "no reply to SET_DEBUG";
  if (r->header != wire::kReplyHeaderBytes || r->opcode != 5000 || r->tag != 0x5E7D ||
      !r->payload.empty())
    return ::testing::AssertionFailure() << "reply opcode " << r->opcode << ", "
                                         << r->payload.size() << " bytes";
  return ::testing::AssertionSuccess();
}
inline ::testing::AssertionResult answered(const DaemonProcess& d, const wire::SetDebugRequest& r) {
  return answered(d, wire::encode_set_debug(r));
}

// The show report; its reply carries the text and its NUL.
inline std::string show_report(const DaemonProcess& d) {
  auto r = client::request(d.platform(), kSap, 5001, {}, kWait, 0, 77);
  if (!r || r->payload.empty()) return "<no report>";
  EXPECT_EQ(r->header, wire::kReplyHeaderBytes);
  EXPECT_EQ(r->opcode, 5001u);
  EXPECT_EQ(r->tag, 77u);
  EXPECT_EQ(r->payload.back(), 0) << "the report travels with its NUL";
  std::string text(r->payload.begin(), r->payload.end() - 1);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  return text;
}

// Sends a datagram from a DPP core (module 39), again while the daemon's
// queue is full (EAGAIN: it has not caught up yet). 0, or an errno.
inline int dpp_send_paced(const DaemonProcess& d, std::uint16_t core, std::uint16_t opcode,
                          const Buf& payload) {
  int err = EAGAIN;
  client::wait_for(
      [&] { return (err = client::dpp_send(d.platform(), core, 39, 0, opcode, payload)) != EAGAIN; },
      kWait, std::chrono::milliseconds(1));
  return err;
}

// A daemon and the count of its loop passes: each step waits until the
// daemon has handled what it sent and is back in its loop.
struct Session {
  DaemonProcess d;
  std::size_t passes = 1;
  std::size_t mark = 0;

  explicit Session(DaemonOptions o = {}) : d(std::move(o)) {
    if (!d.wait_ready()) throw std::runtime_error("the daemon did not start");
    mark = d.stdout_text().size();
  }

  // What the daemon printed for the one message handled since the last step,
  // without the dispatcher's opcode line and the next pass's ready line.
  std::string step_output() {
    if (!d.wait_idle(++passes)) return "<the daemon did not come back to its loop>";
    std::string all = d.stdout_text();
    std::string out = all.substr(mark);
    mark = all.size();
    if (std::size_t nl = out.find('\n'); out.starts_with("VESK Opcode:") && nl != out.npos)
      out.erase(0, nl + 1);
    if (out.ends_with(std::string(kReadyLine) + "\n"))
      out.erase(out.size() - kReadyLine.size() - 1);
    return out;
  }

  std::string set_debug(const wire::SetDebugRequest& r) {
    EXPECT_TRUE(answered(d, r)) << "SET_DEBUG type " << int(r.type);
    return step_output();
  }
  // The report (which also flushes every open log file).
  std::string show() {
    std::string text = show_report(d);
    step_output();
    return text;
  }
  // A platform notification to every SAP registered for it (the daemon's).
  std::string notify(std::uint32_t opcode, const Buf& payload) {
    EXPECT_EQ(client::notify(d.platform(), opcode, payload), 1) << opcode;
    return step_output();
  }
  // A datagram from a DPP core; returns what handling it printed.
  std::string from_dpp(std::uint16_t core, std::uint16_t opcode, const Buf& payload) {
    EXPECT_EQ(dpp_send_paced(d, core, opcode, payload), 0);
    return step_output();
  }
};

}  // namespace e2e
