#include "platform/host/append.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace host {

int append_record(const char* path, const void* data, std::size_t n) {
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return -1;
  ssize_t w = write(fd, data, n);
  int err = errno;
  close(fd);
  if (w != static_cast<ssize_t>(n)) {
    errno = w < 0 ? err : EIO;
    return -1;
  }
  return 0;
}

}  // namespace host
