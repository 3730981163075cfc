// dravikctl: what the switch's CLI, the supervisor and the platform send a
// dravik daemon, from a shell on the host platform. The command line becomes
// one planned message (cli.h, plan.h); this file sends it, checks what the
// daemon did (verify.h) and reports.
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "tools/client/leftovers.h"
#include "tools/client/platform_dir.h"
#include "tools/client/platform_files.h"
#include "tools/client/vesk_client.h"
#include "tools/dravikctl/cli.h"
#include "tools/dravikctl/log_read.h"
#include "tools/dravikctl/report.h"
#include "tools/dravikctl/verify.h"

namespace dravikctl {

namespace {

std::optional<std::string> own_terminal() {
  if (!::isatty(0)) return std::nullopt;
  const char* t = ::ttyname(0);
  if (!t) return std::nullopt;
  return std::string(t);
}

void list_commands() {
  for (const CommandPattern& c : command_patterns()) {
    std::printf("%4d  %s", c.id, display_text(c.id).c_str());
    // Row 112 repeats row 111's text word for word; that text names 111.
    if (c.id == 111) std::printf("   (also the text of command 112)");
    std::printf("\n");
  }
}

// The listing, as the daemon wrote it to the terminal file: every row is
// another terminal's, so "Other " says nothing here.
void print_listing_file(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    std::string line = text.substr(start, nl == std::string::npos ? nl : nl - start + 1);
    if (line.starts_with("Other vty(")) line.erase(0, 6);
    std::fputs(line.c_str(), stdout);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
}

// show debug without a terminal: the daemon writes the listing into a file
// of the platform directory (it may not see the tool's own temporary
// directory), which is printed and removed.
int show_to_stdout(const client::PlatformDir& p, const Action& a) {
  std::string tmpl = client::clients_dir(p) + "/show-XXXXXX";
  if (tmpl.size() > kMaxVtyPath || client::make_dirs(client::clients_dir(p)) != 0) {
    std::fprintf(stderr, "dravikctl: no file for the listing in %s: name a terminal with --vty\n",
                 client::clients_dir(p).c_str());
    return kExitUsage;
  }
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) {
    std::fprintf(stderr, "dravikctl: %s: %s\n", tmpl.c_str(), std::strerror(errno));
    return kExitUsage;
  }
  ::close(fd);
  int slot = client::remember_leftover(tmpl);
  Action show = plan_show_debug(tmpl);
  Answer got = ask(p, show.opcode, show.payload, a.timeout);
  auto written = client::read_file(tmpl);
  ::unlink(tmpl.c_str());
  client::forget_leftover(slot);
  if (!got.text) return got.status;
  if (!got.text->empty()) {  // the daemon could not open the file: the listing came back
    std::printf("%s", got.text->c_str());
  } else if (written && !written->empty()) {
    print_listing_file(*written);
  } else {
    std::printf("No debugging is active\n");
  }
  return kExitOk;
}

int request(const client::PlatformDir& p, const Action& a) {
  if (a.reply == ReplyUse::Listing && a.vty.empty()) return show_to_stdout(p, a);
  if (auto refused = refuse_to_empty(p, a)) return *refused;
  Answer got = ask(p, a.opcode, a.payload, a.timeout);
  for (const auto& payload : a.more) {
    if (!got.text) break;
    got = ask(p, a.opcode, payload, a.timeout);
  }
  if (!got.text) return got.status;
  switch (a.reply) {
    case ReplyUse::Confirm:
      break;
    case ReplyUse::Listing:
      if (!got.text->empty())
        std::printf("the daemon could not open %s; its listing:\n%s", a.vty.c_str(),
                    got.text->c_str());
      else
        std::printf(
            "the listing went to the terminal %s (nothing is written there while no "
            "debug command is active)\n",
            a.vty.c_str());
      return kExitOk;
    case ReplyUse::Report:
      std::printf("%s", got.text->c_str());
      return kExitOk;
    case ReplyUse::Table:
      std::printf("%s", category_table(parse_report(*got.text)).c_str());
      return kExitOk;
  }
  int status = verify(p, a);
  if (status == kExitOk) std::printf("%s\n", a.done.c_str());
  return status;
}

int send(const client::PlatformDir& p, const Action& a) {
  int err = client::send_unbound(p, kDaemonSap, a.opcode, a.payload);
  if (err != 0) {
    std::fprintf(stderr,
                 "dravikctl: the daemon cannot be reached: SAP %u in platform directory %s: "
                 "%s; is dravik running there?\n",
                 kDaemonSap, p.dir.c_str(), std::strerror(err));
    return kExitNoAnswer;
  }
  int status = verify(p, a);
  if (status == kExitOk) std::printf("%s\n", a.done.c_str());
  return status;
}

int notify(const client::PlatformDir& p, const Action& a) {
  int reached = client::notify(p, a.opcode, a.payload);
  if (reached == 0) {
    std::fprintf(stderr,
                 "dravikctl: no SAP registered for opcode %u took the notification (platform "
                 "directory %s); is dravik running there?\n",
                 a.opcode, p.dir.c_str());
    return kExitNoAnswer;
  }
  int status = verify(p, a);
  std::printf(
      "%s: sent to %d SAP(s) registered for opcode %u (it is not answered: nothing shows "
      "what the daemon made of it)\n",
      a.done.c_str(), reached, a.opcode);
  return status;
}

int run(const Action& a) {
  if (a.kind == ActionKind::ListCommands) {
    list_commands();
    return kExitOk;
  }
  if (a.kind == ActionKind::Complete) {
    for (const std::string& w : completions(a.typed)) std::printf("%s\n", w.c_str());
    return kExitOk;
  }
  client::PlatformDir p =
      a.platform_dir ? client::platform_at(*a.platform_dir) : client::platform_from_env();
  switch (a.kind) {
    case ActionKind::Request:
      return request(p, a);
    case ActionKind::Send:
      return send(p, a);
    case ActionKind::ReadLog:
      return read_logs(p, a);
    default:
      return notify(p, a);
  }
}

}  // namespace

}  // namespace dravikctl

int main(int argc, char** argv) {
  using namespace dravikctl;
  client::remove_leftovers_on_signals();
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
