#include "tools/client/leftovers.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace client {

namespace {

constexpr int kSlots = 8;
constexpr std::size_t kPathMax = 4096;

// A slot's path is complete before its flag says so; the handler reads only
// slots whose flag is set, so it never sees a half-written path.
char paths[kSlots][kPathMax];
volatile std::sig_atomic_t held[kSlots];

void remove_and_die(int sig) {
  for (int i = 0; i < kSlots; ++i)
    if (held[i]) ::unlink(paths[i]);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

int remember_leftover(const std::string& path) {
  if (path.size() >= kPathMax) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (held[i]) continue;
    std::memcpy(paths[i], path.c_str(), path.size() + 1);
    held[i] = 1;
    return i;
  }
  return -1;
}

void forget_leftover(int slot) {
  if (slot >= 0 && slot < kSlots) held[slot] = 0;
}

void remove_leftovers_on_signals() {
  struct sigaction sa {};
  sa.sa_handler = remove_and_die;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

}  // namespace client
