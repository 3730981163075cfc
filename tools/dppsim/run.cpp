// dppsim run: the card's DPPs as the daemon sees them. For each DPP n it
// binds the per-port debug service of its cores (xipc/<core>.39.0, the
// cores 4(n-1) to 4(n-1)+3 that serve ports 4(n-1)+1 to 4(n-1)+4) and its
// log service (xipc/<4(n-1)>.66.0), prints every message received in one
// line, and keeps each DPP's state.
//
// Signals are taken through a signalfd polled beside the endpoints, so a
// signal never interrupts the printing of a line: SIGUSR1 prints the state,
// SIGINT and SIGTERM print it and end the run (the endpoints are unbound).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "tools/client/platform_dir.h"
#include "tools/client/xipc_peer.h"
#include "tools/dppsim/commands.h"
#include "tools/dppsim/dpp_state.h"

namespace dppsim {

namespace {

struct Endpoint {
  std::unique_ptr<client::FakeDppEndpoint> ep;
  unsigned dpp = 0;
};

void print_states(const std::vector<DppState>& states, const char* why) {
  std::printf("dppsim: state of the DPPs (%s)\n", why);
  for (const DppState& s : states) std::fputs(describe_state(s).c_str(), stdout);
  std::fflush(stdout);
}

// Takes every frame waiting on one endpoint and prints its line.
void take_frames(Endpoint& e, DppState& s) {
  for (auto& f : e.ep->drain()) {
    const client::XipcEndpoint& at = e.ep->where;
    std::string line = at.module == kXipcModuleDppLog
                           ? apply_dpp_flag(s, at.core, f.sender, f.payload)
                           : apply_flag_update(s, at.core, f.sender, f.payload);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
}

int signal_fd() {
  // A shell starts background jobs with SIGINT ignored, and an ignored signal
  // never becomes pending: take the three back before blocking them.
  for (int sig : {SIGINT, SIGTERM, SIGUSR1}) ::signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return signalfd(-1, &set, SFD_CLOEXEC);
}

}  // namespace

int run_dpps(const RunOptions& o) {
  const int sfd = signal_fd();
  if (sfd < 0) {
    std::perror("dppsim run: signalfd");
    return kExitFailed;
  }
  client::PlatformDir p = client::platform_from_env();
  std::vector<DppState> states(o.dpps);
  std::vector<Endpoint> eps;
  try {
    for (unsigned n = 1; n <= o.dpps; ++n) {
      states[n - 1].dpp = n;
      const std::uint16_t first = first_core_of_dpp(n);
      for (unsigned c = 0; c < o.cores_per_dpp; ++c) {
        client::XipcEndpoint where{static_cast<std::uint16_t>(first + c), kXipcModulePortDebug, 0};
        eps.push_back({std::make_unique<client::FakeDppEndpoint>(p, where), n});
      }
      eps.push_back({std::make_unique<client::FakeDppEndpoint>(
                         p, client::XipcEndpoint{first, kXipcModuleDppLog, 0}),
                     n});
    }
  } catch (const std::exception& ex) {
    std::fprintf(stderr, "dppsim run: %s\n", ex.what());
    ::close(sfd);
    return kExitFailed;
  }
  std::printf(
      "dppsim: ready: %u DPP(s), %u per-port debug endpoint(s) (module 39) and %u log "
      "endpoint(s) (module 66) in %s/xipc\n",
      o.dpps, o.dpps * o.cores_per_dpp, o.dpps, p.dir.c_str());
  std::fflush(stdout);

  std::vector<pollfd> fds;
  fds.push_back({sfd, POLLIN, 0});
  for (const Endpoint& e : eps) fds.push_back({e.ep->sock.fd.fd, POLLIN, 0});

  const char* why = nullptr;
  int status = kExitOk;
  while (!why) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("dppsim run: poll");
      why = "poll failed";
      status = kExitFailed;
      break;
    }
    for (std::size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents & POLLIN) take_frames(eps[i - 1], states[eps[i - 1].dpp - 1]);
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo si{};
      if (::read(sfd, &si, sizeof si) != static_cast<ssize_t>(sizeof si)) continue;
      if (si.ssi_signo == SIGUSR1)
        print_states(states, "SIGUSR1");
      else
        why = si.ssi_signo == SIGINT ? "SIGINT, stopping" : "SIGTERM, stopping";
    }
  }
  print_states(states, why);
  ::close(sfd);
  return status;
}

}  // namespace dppsim
