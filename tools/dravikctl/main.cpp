// dravikctl: what the switch's CLI, the supervisor and the platform send a
// dravik daemon, from a shell on the host platform. The command line becomes
// one planned message (cli.h, plan.h); this file sends it and reports.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "tools/client/platform_dir.h"
#include "tools/client/vesk_client.h"
#include "tools/dravikctl/cli.h"
#include "tools/dravikctl/log_read.h"

namespace dravikctl {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoAnswer = 1;
constexpr int kExitUsage = 2;

std::optional<std::string> own_terminal() {
  if (!::isatty(0)) return std::nullopt;
  const char* t = ::ttyname(0);
  if (!t) return std::nullopt;
  return std::string(t);
}

// The text of a reply payload, up to its first NUL (or its end).
std::string text_of(const std::vector<std::uint8_t>& payload) {
  std::size_t n = 0;
  while (n < payload.size() && payload[n] != 0) ++n;
  return std::string(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
}

int no_answer(const client::PlatformDir& p, const Action& a) {
  std::fprintf(stderr,
               "dravikctl: the daemon did not answer within %lld ms (SAP %u in platform "
               "directory %s); is dravik running with DRAVIK_PLATFORM_DIR=%s?\n",
               static_cast<long long>(a.timeout.count()), kDaemonSap, p.dir.c_str(), p.dir.c_str());
  return kExitNoAnswer;
}

void list_commands() {
  for (const CommandPattern& c : command_patterns()) {
    std::printf("%4d  %s", c.id, display_text(c.id).c_str());
    // Row 112 repeats row 111's text word for word; that text names 111.
    if (c.id == 111) std::printf("   (also the text of command 112)");
    std::printf("\n");
  }
}

int request(const client::PlatformDir& p, const Action& a) {
  auto reply = client::request(p, kDaemonSap, a.opcode, a.payload, a.timeout);
  if (!reply) return no_answer(p, a);
  switch (a.reply) {
    case ReplyUse::Confirm:
      std::printf("%s\n", a.done.c_str());
      break;
    case ReplyUse::Listing: {
      std::string listing = text_of(reply->payload);
      if (!listing.empty())
        std::printf("the daemon could not open %s; its listing:\n%s", a.vty.c_str(),
                    listing.c_str());
      else
        std::printf(
            "the listing went to the terminal %s (nothing is written there while no "
            "debug command is active)\n",
            a.vty.c_str());
      break;
    }
    case ReplyUse::Report:
      std::printf("%s", text_of(reply->payload).c_str());
      break;
  }
  return kExitOk;
}

int run(const Action& a) {
  if (a.kind == ActionKind::ListCommands) {
    list_commands();
    return kExitOk;
  }
  client::PlatformDir p =
      a.platform_dir ? client::platform_at(*a.platform_dir) : client::platform_from_env();
  if (a.kind == ActionKind::Request) return request(p, a);
  if (a.kind == ActionKind::ReadLog) return read_logs(p, a);
  if (a.kind == ActionKind::Send) {
    int err = client::send_unbound(p, kDaemonSap, a.opcode, a.payload);
    if (err != 0) {
      std::fprintf(stderr,
                   "dravikctl: the daemon cannot be reached: SAP %u in platform directory %s: "
                   "%s\n",
                   kDaemonSap, p.dir.c_str(), std::strerror(err));
      return kExitNoAnswer;
    }
    std::printf("%s\n", a.done.c_str());
    return kExitOk;
  }
  int reached = client::notify(p, a.opcode, a.payload);
  if (reached == 0) {
    std::fprintf(stderr,
                 "dravikctl: no SAP registered for opcode %u took the notification (platform "
                 "directory %s); is dravik running there?\n",
                 a.opcode, p.dir.c_str());
    return kExitNoAnswer;
  }
  std::printf("%s: sent to %d SAP(s) registered for opcode %u\n", a.done.c_str(), reached,
              a.opcode);
  return kExitOk;
}

}  // namespace

}  // namespace dravikctl

int main(int argc, char** argv) {
  using namespace dravikctl;
  int status = kExitOk;
  std::optional<Action> action = parse_command_line(argc, argv, own_terminal(), &status);
  if (!action) return status;
  try {
    return run(*action);
  } catch (const std::exception& ex) {
    // A platform directory whose socket paths do not fit sun_path.
    std::fprintf(stderr, "dravikctl: %s\n", ex.what());
    return kExitUsage;
  }
}
