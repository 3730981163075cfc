// The daemon's standard output is buffered and written out in batches. Two
// things must never overtake a line printed before them: what the daemon
// sends (replies, flag updates, log flags), since an observer of both takes
// the order they arrive in for the order things happened; and what goes to
// standard error, which is unbuffered, since both streams often end up in one
// journal. Each writes standard output out first; with nothing printed since
// the last write-out that costs no system call.
#pragma once

#include <cerrno>
#include <cstdio>

// Before a send.
inline void flush_output(void) { std::fflush(stdout); }

// perror(what), after everything printed before it.
inline void report_error(const char* what) {
  const int saved = errno;  // a failed write-out must not change what is reported
  std::fflush(stdout);
  errno = saved;
  std::perror(what);
}
