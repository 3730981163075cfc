// The daemon's one XIPC endpoint (core 0, module 37).
#pragma once

#include <cstdint>

#include "xipc/xipc_addr.h"

extern "C" {
// Exported under these names: the daemon's XIPC socket (-1 when none), and
// the same descriptor once it is bound (the log manager's flags go out on it).
extern int sd;
extern int fd_xipc;
}

// (Re)creates the XIPC socket in sd and binds it to `port`. A socket already
// in sd is closed first. 0 on success; -1 when the socket cannot be created
// (sd is then -1) or bound (the new, unbound socket stays in sd). fd_xipc
// changes only on a successful bind.
int initXIPCcomm(std::uint16_t port);
