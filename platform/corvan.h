// corvan, the platform's system manager: process supervision and heartbeats.
#pragma once

#include "platform/vesk.h"

extern "C" {

// Tells the system manager that the process on `handle` is up.
void corvan_handshake(int handle, int n);

// Offers a received message to the system manager. -1: not its message;
// 0: handled, the caller drops it; any other value: handled, the caller
// returns that value and does not drop the message.
int corvan_dispatch(vesk_msg_t* msg);

// Counts one heartbeat of process `pm`. Costs no system call: it is sent on
// every pass of the main loop and from a signal handler.
void corvan_keep_alive(int pm, int arg);
}
