#include "xipc/xipc_comm.h"

#include <cstdio>

#include "platform/output.h"
#include "xipc/xipc.h"

extern "C" {
int sd = -1;
int fd_xipc = -1;
}

int initXIPCcomm(std::uint16_t port) {
  if (sd != -1) xipc_close(sd);
  sd = xipc_socket(AF_XIPC, SOCK_DGRAM, 0);
  puts("Init XIPC...");
  if (sd == -1) {
    puts("Failed to create socket");
    report_error("CreateSock");
    return -1;
  }
  printf("Created socket : %d\n", sd);

  XipcAddr self{};
  self.family = AF_XIPC;
  self.module = kXipcModuleDaemon;
  self.port = port;
  int rc = xipc_bind(sd, &self, kXipcAddrSize);
  if (rc != 0) {
    // The new socket stays in sd, unbound; the main loop still watches it.
    report_error("initXIPCcomm");
    printf("retVal: %d\n", rc);
    return -1;
  }
  fd_xipc = sd;
  return 0;
}
