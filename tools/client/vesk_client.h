// A VESK peer from outside the daemon: sends request frames to a service
// access point and takes the reply frame back, as the command-line side and
// the supervisor do on a card.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "tools/client/platform_dir.h"
#include "wire/be.h"
#include "wire/vesk_frame.h"

namespace client {

// Sends a request frame {opcode, flags, tag, payload} to SAP `sap` from a
// socket of its own (bound at clients/<pid>-<n>, removed afterwards) and waits
// up to timeout for the reply. The reply frame decoded, or nothing when no
// reply came in time or the request could not be sent.
std::optional<wire::VeskReplyFrame> request(const PlatformDir& p, unsigned sap,
                                            std::uint32_t opcode, wire::Bytes payload,
                                            std::chrono::milliseconds timeout,
                                            std::uint32_t flags = 0, std::uint32_t tag = 0);

// A request's outcome: the reply, or why there is none. error is the errno
// of a send that failed (ENOENT or ECONNREFUSED: nothing is bound at the SAP,
// EAGAIN: its queue is full), or of the reply socket that could not be
// made; 0 when the request went out, so that a missing reply is a time-out.
struct Exchange {
  std::optional<wire::VeskReplyFrame> reply;
  int error = 0;
};
Exchange exchange(const PlatformDir& p, unsigned sap, std::uint32_t opcode, wire::Bytes payload,
                  std::chrono::milliseconds timeout);

// Sends a request frame from an unbound socket: the receiver has no address
// to reply to. 0, or an errno.
int send_unbound(const PlatformDir& p, unsigned sap, std::uint32_t opcode, wire::Bytes payload,
                 std::uint32_t flags = 0, std::uint32_t tag = 0);

// Sends arbitrary bytes as one datagram to SAP `sap`, unbound. 0, or an errno.
int send_raw(const PlatformDir& p, unsigned sap, wire::Bytes bytes);

// Sends the request frame {opcode, flags 0, tag 0, payload} to every SAP
// registered for opcode (vesk/reg/<opcode>/), as the platform sends its
// notifications. Returns the number of SAPs it reached.
int notify(const PlatformDir& p, std::uint32_t opcode, wire::Bytes payload);

}  // namespace client
