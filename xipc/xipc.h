// The XIPC socket calls (address family 31, datagram sockets).
//
// On the card these are the kernel's own socket calls; on a host they are
// provided by xipc/host. The daemon's XIPC code calls these and no raw socket
// call. Signatures follow the system calls they stand for; addresses are
// XipcAddr records of 20 bytes.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include "xipc/xipc_addr.h"

extern "C" {

// A datagram descriptor usable in select(); -1 with errno on failure
// (EAFNOSUPPORT for any family but 31 or any type but SOCK_DGRAM).
int xipc_socket(int family, int type, int protocol);

// Binds fd to addr (core, module, port); a stale endpoint is replaced.
// 0, or -1 with errno.
int xipc_bind(int fd, const XipcAddr* addr, socklen_t addrlen);

// Sends one datagram of len bytes to dst. Never blocks: returns len, or -1 with
// errno (ENOENT/ECONNREFUSED: nothing bound there; EAGAIN: its queue is full).
ssize_t xipc_sendto(int fd, const void* buf, size_t len, int flags, const XipcAddr* dst,
                    socklen_t dstlen);

// Receives one datagram: the sender's address into *src (*srclen set to 20),
// at most len payload bytes into buf (a longer payload is cut). Returns the
// number of bytes copied, or -1 with errno.
ssize_t xipc_recvfrom(int fd, void* buf, size_t len, int flags, XipcAddr* src, socklen_t* srclen);

// Closes fd and removes the endpoint it bound. 0, or -1 with errno.
int xipc_close(int fd);
}
