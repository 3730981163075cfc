// The intake of DPP datagrams on the XIPC socket.
//
// Every datagram comes from a DPP's module 39. Sender opcode 88 carries
// per-port debug text (PortDebugTextMsg); any other opcode a DppLogMsg of one
// log category. Core c is DPP c / 4 + 1. Everything is decoded from fixed
// buffers; nothing is allocated.
#pragma once

#include <cstddef>

#include "wire/dpp_log_msg.h"

extern "C" {
// Receives one datagram from sd and logs what it holds. 0, or -1 when the
// receive fails or the sender is not module 39 (the main loop then ends).
int processKORUXIPCmsg(int sd);
}

// Composes the header line of an IPC message of category 1 (RX) or 2 (TX,
// with the queue) into line (size bytes); returns line.
char* format_ipc_header_line(char* line, std::size_t size, int dpp, std::uint32_t category,
                             const wire::IpcMsgHeader& h);
