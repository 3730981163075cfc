// The clock of every deadline the daemon and its platform keep (records and
// standard output waiting in buffers, the heartbeat count not yet written):
// milliseconds of the coarse monotonic clock. It is read without a system
// call (vDSO) and is async-signal-safe; its few milliseconds of grain do not
// matter to deadlines of 5 ms and more.
#pragma once

#include <cstdint>
#include <ctime>

inline std::int64_t monotonic_ms(void) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return std::int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}
