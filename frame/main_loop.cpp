#include "frame/main_loop.h"

#include <sys/select.h>

#include <cstdio>

#include "dpplog/intake.h"
#include "frame/frame.h"
#include "frame/vesk_request.h"
#include "platform/corvan.h"
#include "xipc/xipc_comm.h"

namespace {

// A descriptor select() cannot hold is never added to the set.
bool add_fd(int fd, fd_set* set, int* nfds) {
  if (fd < 0 || fd >= FD_SETSIZE) return false;
  FD_SET(fd, set);
  if (fd + 1 > *nfds) *nfds = fd + 1;
  return true;
}

}  // namespace

void runMainLoop(void) {
  const int handle = q;  // the VESK handle never changes while the loop runs
  while (main_loop) {
    if (card_id != kCardSpawnedByCorvan) corvan_keep_alive(pm_desciptor, 0);
    // One write on the unbuffered output, where puts would make two.
    static constexpr char kWaiting[] = "Waiting for a message...\n";
    fwrite(kWaiting, 1, sizeof kWaiting - 1, stdout);

    // sd is read afresh on every pass: a rebind during the previous VESK
    // request is watched from this pass on.
    const int xipc = sd;
    fd_set readable;
    FD_ZERO(&readable);
    int nfds = 0;
    add_fd(handle, &readable, &nfds);
    const bool watch_xipc = add_fd(xipc, &readable, &nfds);
    const int stop = stopPipeFd();
    const bool watch_stop = add_fd(stop, &readable, &nfds);

    if (select(nfds, &readable, nullptr, nullptr, nullptr) <= 0) {
      perror("select");
      break;
    }
    // A SIGTERM between the test of main_loop and the wait: it stops the loop
    // as if it had come before the test.
    if (watch_stop && FD_ISSET(stop, &readable)) break;
    // VESK goes first; a datagram that is ready too waits for the next pass.
    if (handle >= 0 && handle < FD_SETSIZE && FD_ISSET(handle, &readable)) {
      if (processVESKreq(handle) == -1) break;
    } else if (watch_xipc && FD_ISSET(xipc, &readable)) {
      if (processKORUXIPCmsg(xipc) == -1) break;
    } else {
      puts("Error: Not sure what is set...");
      break;
    }
  }
}
