// VESK, the platform's message transport service.
//
// A handle is a bound service access point (SAP) and also a descriptor that
// select() reports readable while a message waits. Requests arrive as message
// records; replies go back to the sender of a request record.
#pragma once

#include <cstdint>

constexpr int VESK_MAX_PAYLOAD = 16384;
// The bit of an option word that registers a handle for the word's opcode.
constexpr std::uint16_t VESK_OPT_REGISTER = 0x10;

// One received message. Owned by the caller (it lives in the receiving
// function's frame) and valid until vesk_drop. The payload buffer is one byte
// longer than the largest payload and zero past the bytes received, so a fixed
// layout read in place never leaves it and every text in it is NUL-terminated.
struct vesk_msg_t {
  std::uint32_t opcode;
  std::uint32_t flags;
  std::uint32_t tag;
  std::int32_t payload_len;
  unsigned char payload[VESK_MAX_PAYLOAD + 1];
  // The sender's transport address, kept for the reply.
  unsigned char sender[128];
  std::uint32_t sender_len;
};

extern "C" {

// Binds SAP `sap` and returns its handle, or -1 with errno. A SAP belongs to
// one process at a time: the first bind of a SAP by a process makes it the
// SAP's owner for the rest of its life (an unbind does not let go), and a bind
// of a SAP that a live process owns fails with EADDRINUSE.
int vesk_bind(int type, int sap, const void* addr, const char* name);

// The 16-bit option word of (handle, opcode); 0 until set. VESK_OPT_REGISTER
// registers the handle for the opcode.
int vesk_options_get(int handle, std::uint32_t opcode);
// Sets the option word; negative on failure.
int vesk_options_set(int handle, std::uint32_t opcode, std::uint16_t word);

// Receives one message into *msg. Returns the payload length, or -1 (the
// error number is then vesk_errno_get(handle)).
int vesk_recv(int handle, vesk_msg_t* msg, int flags);
int vesk_errno_get(int handle);

std::uint32_t vesk_opc_get(const vesk_msg_t* msg);
const char* vesk_opc_name_get(std::uint32_t opcode);
void* vesk_payload_get(vesk_msg_t* msg);
int vesk_is_reject(const vesk_msg_t* msg);

// Replies to the sender of `req`: the 8 header bytes, then len payload bytes
// (payload may be null when len is 0). Never blocks. 0, or -1 when the sender
// cannot be reached.
int vesk_send(int handle, const void* header, int hflags, const void* payload, int len, int flags,
              vesk_msg_t* req, int flags2);

// Releases a received message record.
int vesk_drop(int handle, vesk_msg_t* msg);

// Releases the handle and its registrations. A handle that is not a bound SAP
// of this process (0 included) is left alone: -1 with errno EBADF.
int vesk_unbind(int handle, int flags);
}
