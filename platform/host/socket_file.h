// Socket files of the platform's datagram sockets, owned by the process that
// bound them.
//
// A path is taken over only from a process that is gone: a bind finding a
// file at its path asks whether anything answers there, and replaces the file
// only when a connect to it is refused (a socket file whose owner ended, or no
// socket at all). A live owner makes the bind fail with EADDRINUSE. The file is
// removed only by its owner, and only while the path still names the file it
// bound: a path bound again by another process since is left to that process.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

namespace host {

// What a bind made at a path: its device and inode.
struct SocketFile {
  dev_t dev = 0;
  ino_t ino = 0;
};

// Binds fd at addr (a path below the platform directory), taking over a file
// left there by a process that ended, and gives the file the platform's
// socket mode. 0 with *made set, or -1 with errno (EADDRINUSE: a live socket
// holds the path); a failed bind leaves no file of its own behind.
int bind_socket_file(int fd, const sockaddr_un& addr, socklen_t len, SocketFile* made);

// Removes path when it still names the file made by the bind.
void remove_socket_file(const char* path, const SocketFile& made);

}  // namespace host
