// The log-flag broadcast: one 472-byte DppFlagMsg per DPP of a set, to the
// DPP's log service (core 4 x (n-1), module 66, opcode 33), sent on fd_xipc.
#pragma once

#include <cstdint>

#include "xipc/xipc_addr.h"

extern "C" {

// The destination of every DppFlagMsg. family 31 and zero elsewhere until the
// first send_flag_to_dpps, which sets module, opcode and length; core is set
// before each send and keeps its last value between calls.
extern XipcAddr dpp_flag_addr;

// Sends flags, debug_level and the filter blocks of the categories in flags to
// every DPP n (1 to num_dpps) whose bit n-1 is in dpps. Bits at or above
// num_dpps are never looked at. A failed send is reported with perror
// "send xipc message" and the next DPP is tried.
//
// The send goes out on fd_xipc as it stands. After a failed rebind of the XIPC
// socket that number names the descriptor the rebind closed (or whatever the
// kernel reused it for, usually the new unbound socket): a send that fails is
// reported as above and nothing else changes, so the next broadcast after a
// good rebind carries the full settings again.
void send_flag_to_dpps(std::uint32_t flags, std::uint32_t dpps);
}
