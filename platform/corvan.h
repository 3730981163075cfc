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

// Counts one heartbeat of process `pm`. It is sent on every pass of the main
// loop and from a signal handler, so it is async-signal-safe and costs no
// system call on average: the count may reach the system manager up to about
// a second late (see corvan_heartbeat_due_ms).
void corvan_keep_alive(int pm, int arg);

// The time (monotonic_ms, platform/clock.h) by which a heartbeat count not
// yet written out is due, or -1 when none is pending.
long long corvan_heartbeat_due_ms(void);

// Writes out a pending heartbeat count now.
void corvan_heartbeat_flush(void);
}
