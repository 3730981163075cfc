// The daemon's one loop: a heartbeat, then a blocking select on the VESK
// handle and the XIPC socket, then one handler for what is ready.
#pragma once

// Runs while main_loop is set; returns when it is cleared, when select fails
// (a signal included), when a handler returns -1, or when select reports
// neither descriptor.
void runMainLoop(void);
