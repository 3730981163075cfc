#include "platform/host/socket_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host/env.h"

namespace host {
namespace {

// A file at the path is left behind when nothing answers there: a socket
// file whose process ended, or no socket at all, refuses a connect.
bool left_behind(const sockaddr_un& addr, socklen_t len) {
  const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool refused =
      connect(probe, reinterpret_cast<const sockaddr*>(&addr), len) != 0 && errno == ECONNREFUSED;
  close(probe);
  return refused;
}

}  // namespace

int bind_socket_file(int fd, const sockaddr_un& addr, socklen_t len, SocketFile* made) {
  const auto* sa = reinterpret_cast<const sockaddr*>(&addr);
  if (bind(fd, sa, len) != 0) {
    if (errno != EADDRINUSE) return -1;
    if (!left_behind(addr, len)) {
      errno = EADDRINUSE;
      return -1;
    }
    if ((unlink(addr.sun_path) != 0 && errno != ENOENT) || bind(fd, sa, len) != 0) return -1;
  }
  struct stat st;
  if (lstat(addr.sun_path, &st) != 0) return -1;
  *made = SocketFile{st.st_dev, st.st_ino};
  if (set_socket_mode(addr.sun_path) != 0) {
    const int err = errno;
    remove_socket_file(addr.sun_path, *made);
    errno = err;
    return -1;
  }
  return 0;
}

void remove_socket_file(const char* path, const SocketFile& made) {
  struct stat st;
  if (lstat(path, &st) == 0 && st.st_dev == made.dev && st.st_ino == made.ino) unlink(path);
}

}  // namespace host
