// Paths a tool creates for the length of one request (its reply socket, a
// temporary terminal file) that must not outlive it, not even when Ctrl-C
// or a kill ends the tool: a signal handler removes whatever is still held.
#pragma once

#include <string>

namespace client {

// Holds path until forget() is called with the slot it returns; -1 when
// every slot is taken (the path is then not removed on a signal).
int remember_leftover(const std::string& path);
void forget_leftover(int slot);

// From now on SIGINT, SIGTERM and SIGHUP remove every path still held and
// then end the process as the signal would have.
void remove_leftovers_on_signals();

}  // namespace client
