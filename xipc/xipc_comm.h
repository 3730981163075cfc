// The daemon's one XIPC endpoint (core 0, module 37).
#pragma once

#include <cstdint>

// (Re)creates the XIPC socket in sd and binds it to `port`. A socket already
// in sd is closed first. 0 on success; -1 when the socket cannot be created
// (sd is then -1) or bound (the new, unbound socket stays in sd). fd_xipc
// changes only on a successful bind.
int initXIPCcomm(std::uint16_t port);
