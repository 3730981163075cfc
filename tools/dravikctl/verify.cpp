#include "tools/dravikctl/verify.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/cli/categories.h"
#include "tools/client/platform_files.h"
#include "tools/client/unix_socket.h"
#include "tools/client/vesk_client.h"
#include "tools/dravikctl/report.h"
#include "xipc/xipc_addr.h"

namespace dravikctl {

using tools::category_hidden_by, tools::category_long_name, tools::category_name,
    tools::kCategories, tools::level_name, tools::parse_categories, tools::parse_level;

namespace {

constexpr const char* kLogDir = "/cpp/plinder_dpp_logs/";
constexpr const char* kLinkDir = "/var/log/external/";

void say(const std::string& s) { std::fprintf(stderr, "dravikctl: %s\n", s.c_str()); }

std::string text_of(const std::vector<std::uint8_t>& payload) {
  std::size_t n = 0;
  while (n < payload.size() && payload[n] != 0) ++n;
  return std::string(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
}

// " (the card, type 40, has 4 DPPs: ports 1 to 16)" when the card is known.
std::string card_note(const std::optional<client::CardRecord>& card) {
  if (!card) return "";
  return " (the card, type " + std::to_string(card->id) + ", has " + std::to_string(card->dpps) +
         " DPP(s): ports 1 to " + std::to_string(card->dpps * kXipcCoresPerDpp) + ")";
}

std::string endpoint(std::uint16_t core, std::uint16_t module) {
  return "xipc/" + std::to_string(core) + "." + std::to_string(module) + ".0";
}

int endpoint_error(const client::PlatformDir& p, std::uint16_t core, std::uint16_t module) {
  return client::probe_dgram(client::xipc_path(p, core, module, 0));
}

// A terminal the daemon cannot open, so that a listing request is answered
// with the listing itself.
std::string unopenable_terminal(const client::PlatformDir& p) {
  return client::clients_dir(p) + "/" + std::to_string(::getpid()) + ".none/vty";
}

int check_subscription(const client::PlatformDir& p, const Action& a) {
  const auto card = client::read_card(p);
  const std::string port = std::to_string(a.core + 1);
  int status = kExitOk;
  // As the daemon opens a terminal it subscribes (no creation, no waiting).
  if (a.check == Check::Subscribe) {
    client::Fd fd(::open(a.vty.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.fd < 0) {
      say("the daemon cannot open the terminal " + a.vty + " (" + std::strerror(errno) +
          "), so it stored no subscription for it; it still switched the bits of \"" + a.words +
          "\" on at port " + port +
          ", and no terminal owns them. Turn them off with: dravikctl "
          "--vty /dev/null no " +
          a.words);
      status = kExitNotDone;
    }
  }
  if (int err = endpoint_error(p, a.core, kXipcModulePortDebug)) {
    say("port " + port + " has no DPP core endpoint on the host (" +
        endpoint(a.core, kXipcModulePortDebug) + ": " + std::strerror(err) + ")" + card_note(card) +
        (a.check == Check::Unsubscribe
             ? ": the daemon released the bits in its map, but the off-update reached no core"
         : status != kExitOk
             ? ": the bits reached no core either"
             : ": the bits are kept in the daemon's map but reached no core. Bring the DPP up "
               "(dppsim run) and subscribe again, or release it: dravikctl no " +
                   a.words));
    status = kExitNotDone;
  }
  return status;
}

// release-all and rebind are not answered: a listing request answered after
// them shows that the daemon took them, and what the map holds now.
int check_listing(const client::PlatformDir& p, const Action& a) {
  const std::string term = unopenable_terminal(p);
  if (term.size() > kMaxVtyPath) return kExitOk;  // no such terminal fits: nothing to look at
  const Action show = plan_show_debug(term);
  Answer got = ask(p, show.opcode, show.payload, a.timeout);
  if (!got.text) return got.status;
  if (a.opcode == kOpcodeReleaseAll && !got.text->empty()) {
    say("the daemon still lists subscriptions after release-all:\n" + *got.text);
    return kExitNotDone;
  }
  if (a.opcode == kOpcodeRebindXipc) {
    const std::uint16_t port = a.payload.back() ? 0 : kDaemonXipcPort;
    const std::string where =
        "xipc/0." + std::to_string(kXipcModuleDaemon) + "." + std::to_string(port);
    if (int err = client::probe_dgram(client::xipc_path(p, 0, kXipcModuleDaemon, port))) {
      say("the daemon's XIPC socket is not bound at " + where + " (" + std::strerror(err) +
          "): the rebind failed; the daemon printed why on its standard output");
      return kExitNotDone;
    }
  }
  return kExitOk;
}

int check_report(const client::PlatformDir& p, const Action& a) {
  Answer got = ask_report(p, a.timeout);
  if (!got.text) return got.status;
  const LogReport r = parse_report(*got.text);
  const auto card = client::read_card(p);
  int status = kExitOk;
  switch (a.check) {
    case Check::Categories: {
      std::vector<std::uint32_t> cats = a.numbers;
      if (cats.empty())
        for (std::uint32_t n = 1; n <= kCategories; ++n) cats.push_back(n);
      for (std::uint32_t n : cats) {
        Known k = category_state(r, n);
        if (k == Known::Unknown || (k == Known::On) == a.on) continue;
        say("category " + std::to_string(n) + " is " + (a.on ? "not on" : "still on") +
            " in the daemon's report");
        status = kExitNotDone;
      }
      if (a.on && status == kExitOk && r.instances && r.instances->empty())
        say("note: no DPP's logging is on, so no DPP takes these categories yet (dravikctl log "
            "dpps on all)");
      break;
    }
    case Check::Dpps: {
      if (!r.instances) break;
      for (std::uint32_t n : a.numbers) {
        bool listed = std::find(r.instances->begin(), r.instances->end(), n) != r.instances->end();
        if (listed == a.on) continue;
        if (a.on && card && n > card->dpps)
          say("DPP " + std::to_string(n) + " is beyond the card (type " + std::to_string(card->id) +
              ", " + std::to_string(card->dpps) + " DPP(s)): the daemon left it out of its map");
        else if (a.on)
          say("DPP " + std::to_string(n) +
              " is not among the report's DPP instances: it is not a "
              "plinder DPP (a feature download took it out), or beyond the card");
        else
          say("DPP " + std::to_string(n) + " is still among the report's DPP instances");
        status = kExitNotDone;
      }
      break;
    }
    case Check::Level:
      if (r.level && *r.level != a.level) {
        say("the daemon's report shows debug level " + std::to_string(*r.level) + ", not " +
            std::to_string(a.level));
        status = kExitNotDone;
      }
      break;
    case Check::FileClose:
      if (!r.files.empty()) {
        say("the daemon's report still names log files (" + r.files.begin()->second + ", ...)");
        status = kExitNotDone;
      }
      break;
    default:
      break;
  }
  return status;
}

struct FileState {
  std::string card_path;
  int error = 0;  // 0: the file exists and can be written
  off_t size = 0;
  bool linked = false;  // its link under /var/log/external/ leads to it
};

FileState file_state(const client::PlatformDir& p, const std::string& name, std::uint32_t n) {
  FileState f;
  const std::string base = name + "." + std::to_string(n);
  f.card_path = kLogDir + base;
  const std::string host = client::fs_path(p, f.card_path);
  struct stat st {
  }, link{};
  if (::stat(host.c_str(), &st) != 0 || ::access(host.c_str(), W_OK) != 0) {
    f.error = errno;
    return f;
  }
  f.size = st.st_size;
  f.linked = ::stat(client::fs_path(p, kLinkDir + base).c_str(), &link) == 0 &&
             link.st_ino == st.st_ino && link.st_dev == st.st_dev;
  return f;
}

std::uint32_t dpps_of(const std::optional<client::CardRecord>& card) {
  return card ? card->dpps : 1;  // every card has DPP 1
}

int check_files(const client::PlatformDir& p, const Action& a) {
  const auto card = client::read_card(p);
  const std::uint32_t dpps = dpps_of(card);
  std::uint32_t open = 0;
  for (std::uint32_t n = 1; n <= dpps; ++n) {
    FileState f = file_state(p, a.name, n);
    if (f.error) {
      say("DPP " + std::to_string(n) + ": the daemon could not create " + f.card_path + " (" +
          std::strerror(f.error) +
          "); its records go to the debug facility (dbgfac/dpp_debug.log)");
      continue;
    }
    ++open;
    if (!f.linked)
      say("note: DPP " + std::to_string(n) + ": no link " + kLinkDir + a.name + "." +
          std::to_string(n) + " leads to " + f.card_path + "; the file is used all the same");
  }
  if (open == dpps) return kExitOk;
  if (open == 0)
    say("no log file set is open: the daemon closed the set that was open, and the DPPs' "
        "records go to the debug facility. Choose a name that makes a plain file name.");
  return kExitNotDone;
}

}  // namespace

Answer ask(const client::PlatformDir& p, std::uint32_t opcode,
           const std::vector<std::uint8_t>& payload, std::chrono::milliseconds timeout) {
  Answer a;
  client::Exchange x = client::exchange(p, kDaemonSap, opcode, payload, timeout);
  if (x.reply) {
    a.text = text_of(x.reply->payload);
    return a;
  }
  a.status = kExitNoAnswer;
  const std::string& dir = p.dir;
  if (x.error == ENOENT || x.error == ECONNREFUSED)
    say("the daemon cannot be reached: " +
        std::string(x.error == ENOENT ? "no socket" : "nothing bound at") + " vesk/" +
        std::to_string(kDaemonSap) + " in platform directory " + dir + " (" +
        std::strerror(x.error) + "); is dravik running with DRAVIK_PLATFORM_DIR=" + dir + "?");
  else if (x.error)
    say("the request could not be sent to vesk/" + std::to_string(kDaemonSap) +
        " in platform directory " + dir + ": " + std::strerror(x.error));
  else
    say("the daemon did not answer within " + std::to_string(timeout.count()) + " ms (SAP " +
        std::to_string(kDaemonSap) + " in platform directory " + dir +
        "): it may be stopped or busy, and the request may still take effect when it goes on");
  return a;
}

Answer ask_report(const client::PlatformDir& p, std::chrono::milliseconds timeout) {
  return ask(p, kOpcodeShowDebug, {}, timeout);
}

std::optional<int> refuse_to_empty(const client::PlatformDir& p, const Action& a) {
  if (a.check != Check::FileOpen || a.force) return std::nullopt;
  const auto card = client::read_card(p);
  std::string held;
  for (std::uint32_t n = 1; n <= (card ? card->dpps : 4); ++n) {
    FileState f = file_state(p, a.name, n);
    if (f.error == 0 && f.size > 0)
      held += (held.empty() ? "" : ", ") + f.card_path + " (" + std::to_string(f.size) + " bytes)";
  }
  if (held.empty()) return std::nullopt;
  Answer got = ask_report(p, a.timeout);
  if (!got.text) return got.status;
  for (const auto& [dpp, file] : parse_report(*got.text).files)
    if (file == a.name + "." + std::to_string(dpp)) return std::nullopt;  // the open set: kept
  say("the log files " + held +
      " already hold records, and opening the set empties them: add "
      "--force to go ahead (if " +
      a.name + " is the set already open, the daemon keeps it as it is)");
  return kExitUsage;
}

int verify(const client::PlatformDir& p, const Action& a) {
  switch (a.check) {
    case Check::None:
      return kExitOk;
    case Check::Subscribe:
    case Check::Unsubscribe:
      return check_subscription(p, a);
    case Check::Listing:
      return check_listing(p, a);
    case Check::FileOpen:
      return check_files(p, a);
    case Check::DppNotify: {
      const auto card = client::read_card(p);
      for (std::uint32_t n : a.numbers) {
        if (!card || n <= card->dpps) continue;
        say("DPP " + std::to_string(n) + " is beyond the card (type " + std::to_string(card->id) +
            ", " + std::to_string(card->dpps) +
            " DPP(s)): the daemon keeps its bit, but no flags "
            "ever reach it");
        return kExitNotDone;
      }
      return kExitOk;
    }
    default:
      return check_report(p, a);
  }
}

}  // namespace dravikctl
