// The per-port debug relay from outside: conversations of per-port debug
// requests with the reply, the lines (request and map) and the exact
// FlagUpdateMsg each one gives; the listing in the reply, and cut on a
// terminal that does not take it; the release of every row; and requests and
// DPP cores that must not hurt the daemon.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "tests/support.h"
#include "wire/debug_request.h"
#include "wire/flag_update_msg.h"

namespace e2e {
namespace {

constexpr std::uint32_t kOn = 1, kOff = 2;

wire::DebugRequest make(std::int32_t id, std::uint8_t port, bool off, std::string_view term) {
  wire::DebugRequest r;
  r.commandID = id;
  r.port = port;
  r.noFlag = off ? 1 : 0;
  std::memcpy(r.term, term.data(), std::min(term.size(), sizeof r.term - 1));
  return r;
}
Buf on(std::int32_t id, std::uint8_t port, std::string_view term) {
  return wire::encode_debug_request(make(id, port, false, term));
}
Buf off(std::int32_t id, std::uint8_t port, std::string_view term) {
  return wire::encode_debug_request(make(id, port, true, term));
}
Buf show(std::string_view term) { return on(126, 0, term); }

// The 616 bytes of an update without a filter.
Buf flag(std::uint32_t op, std::uint32_t mask, std::uint32_t module) {
  namespace f = wire::flag_update;
  Buf b(f::kSize, 0);
  for (auto [off, v] : {std::pair{f::kOp, op}, {f::kMask, mask}, {f::kModule, module}})
    wire::put_u32(b, off, v);
  return b;
}
// The lines a request prints, and a map row ("#" for its descriptor).
std::string req(int port, int id, int no_flag, const std::string& term) {
  return "processVESKreq:*** Port: " + std::to_string(port) + " CommandID: " + std::to_string(id) +
         " NoFlag: " + std::to_string(no_flag) + "  Term: " + term + " ***\n\n";
}
std::string row(int index, std::uint32_t mask, std::uint32_t module, std::uint32_t port,
                const std::string& vty) {
  char line[256];
  std::snprintf(line, sizeof line,
                "Index: %d   mask: %d   module: %u   Port: %u  VTY: %s  VTYfd: #\n", index,
                static_cast<std::int32_t>(mask), module, port, vty.c_str());
  return line;
}
// Each "VTYfd: <n>" as "VTYfd: #".
std::string masked(std::string s) {
  for (auto at = s.find("VTYfd: "); at != s.npos; at = s.find("VTYfd: ", at + 1))
    s.replace(at + 7, s.find('\n', at) - at - 7, "#");
  return s;
}

// One request of a conversation: the behaviour it shows (empty: the one of
// the step before), what it prints (after the request's own lines, which a
// command prints first), the updates the DPP cores get (core, message) in
// order, and the text of its 5000-byte reply.
struct Step {
  std::string what;
  Buf request;
  std::string printed;
  std::vector<std::pair<int, Buf>> sent = {};
  std::string reply = "";
};

class RelayTest : public DaemonTest {
 protected:
  void SetUp() override {
    start();
    for (std::uint16_t n : {0, 1, 2, 5})
      core[n] = std::make_unique<client::FakeDppEndpoint>(p(), client::XipcEndpoint{n, 39, 0});
  }
  // Sends a per-port debug request; its reply's text, which must be 5000
  // bytes under the request's opcode, the text's NUL followed by zeros only.
  std::string relay(const Buf& request) {
    auto r = ask(1, request);
    if (!r) return "<no reply>";
    if (r->header != wire::kReplyHeaderBytes || r->opcode != 1 || r->payload.size() != 5000)
      return "<bad reply>";
    auto nul = std::find(r->payload.begin(), r->payload.end(), 0);
    if (nul == r->payload.end() || std::any_of(nul, r->payload.end(), [](auto b) { return b; }))
      return "<no NUL, or bytes after it>";
    return std::string(r->payload.begin(), nul);
  }
  // Every core got exactly the updates listed for it, in order.
  ::testing::AssertionResult updates(const std::vector<std::pair<int, Buf>>& sent) {
    for (auto& [n, ep] : core) {
      std::vector<Buf> want;
      for (const auto& [to, msg] : sent)
        if (to == n) want.push_back(msg);
      if (auto ok = got_frames(*ep, 88, want); !ok) return ok;
    }
    return ::testing::AssertionSuccess();
  }
  // A refused request prints no request lines: its step's text starts with
  // the handler's name. A listing (126) prints none either.
  void converse(const std::vector<Step>& steps) {
    for (std::string what; const Step& s : steps) {
      SCOPED_TRACE(what = s.what.empty() ? what : s.what);
      const auto r = wire::decode_debug_request(s.request);
      const bool own = r.commandID != 126 && !s.printed.starts_with("processVESKreq");
      EXPECT_EQ(relay(s.request), s.reply);
      EXPECT_EQ(masked(last()),
                (own ? req(r.port, r.commandID, r.noFlag, r.term) : "") + s.printed);
      EXPECT_TRUE(updates(s.sent));
    }
  }
  // The descriptors the daemon holds open on path (all of them when path is empty).
  std::vector<int> fds(const std::string& path = {}) {
    std::vector<int> out;
    std::error_code ec;
    const std::string dir = "/proc/" + std::to_string(d().proc->pid()) + "/fd";
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
      if (path.empty() || std::filesystem::read_symlink(e.path(), ec) == path)
        out.push_back(std::stoi(e.path().filename().string()));
    return out;
  }
  std::string dir() { return d().dir(); }

  std::map<int, std::unique_ptr<client::FakeDppEndpoint>> core;
};

TEST_F(RelayTest, TwoTerminalsSubscribeMergeAndLetGo) {
  const std::string a = dir() + "/a", b = dir() + "/b";
  touch(a), touch(b);
  auto release = make(2, 0, true, b);
  release.noFlag = 0xFF;  // any non-zero noFlag lets go
  // clang-format off
  converse({
      {"a new row goes on top", on(2, 0, a), row(99, 0x1, 55, 0, a), {{0, flag(kOn, 0x1, 55)}}},
      {"the same key merges", on(4, 0, a), row(99, 0x5, 55, 0, a), {{0, flag(kOn, 0x4, 55)}}},
      {"another module is another row",
       on(41, 0, a), row(98, 0x2, 77, 0, a) + row(99, 0x5, 55, 0, a), {{0, flag(kOn, 0x2, 77)}}},
      {"the on-update carries the command's whole mask",
       on(42, 0, a), row(98, 0x6, 77, 0, a) + row(99, 0x5, 55, 0, a), {{0, flag(kOn, 0x6, 77)}}},
      {"another terminal asking for bits the first holds gets a row of its own", on(2, 0, b),
       row(97, 0x1, 55, 0, b) + row(98, 0x6, 77, 0, a) + row(99, 0x5, 55, 0, a),
       {{0, flag(kOn, 0x1, 55)}}},
      {"the last row of a module and port alone decides: 0x1 goes off though row 97 holds it",
       off(2, 0, a), row(97, 0x1, 55, 0, b) + row(98, 0x6, 77, 0, a) + row(99, 0x4, 55, 0, a),
       {{0, flag(kOff, 0x1, 55)}}},
      {"any non-zero noFlag lets go", wire::encode_debug_request(release),
       row(98, 0x6, 77, 0, a) + row(99, 0x4, 55, 0, a), {{0, flag(kOff, 0x1, 55)}}},
      {"a terminal without a row: the bits the last row lacks go off", off(22, 0, b),
       row(98, 0x6, 77, 0, a) + row(99, 0x4, 55, 0, a), {{0, flag(kOff, 0x80000000, 55)}}},
      {"", off(4, 0, b), row(98, 0x6, 77, 0, a) + row(99, 0x4, 55, 0, a)},
      {"part of a multi-bit row goes off",
       off(41, 0, a), row(98, 0x4, 77, 0, a) + row(99, 0x4, 55, 0, a), {{0, flag(kOff, 0x2, 77)}}},
      {"then the rest of it", off(42, 0, a), row(99, 0x4, 55, 0, a), {{0, flag(kOff, 0x6, 77)}}},
      {"the last row goes", off(4, 0, a), "", {{0, flag(kOff, 0x4, 55)}}},
  });
  // clang-format on
  EXPECT_TRUE(fds(a).empty() && fds(b).empty());
  relay(on(2, 5, a));  // the port is the core; the map names the descriptor open on a
  EXPECT_EQ(last(), req(5, 2, 0, a) + "Index: 99   mask: 1   module: 55   Port: 5  VTY: " + a +
                        "  VTYfd: " + std::to_string(fds(a).at(0)) + "\n");
  tell(1, on(8, 5, a));  // no address to reply to: reported, and the request still acts
  EXPECT_EQ(masked(last()),
            req(5, 8, 0, a) + "Failed to send response\n" + row(99, 0x41, 55, 5, a));
  EXPECT_TRUE(updates({{5, flag(kOn, 0x1, 55)}, {5, flag(kOn, 0x40, 55)}}));
}

TEST_F(RelayTest, RequestsThatNameNoCommandOrNoTerminalThatFits) {
  const std::string fits = dir() + "/" + std::string(99 - dir().size() - 1, 'p');
  const std::string longer = fits + "q", longest = fits + "qqqqqq";
  for (const std::string& t : {fits, longer, longest, dir() + "/t"}) touch(t);
  const std::string one_row = row(99, 0x1, 55, 0, fits);
  const std::string too_long = "storeInMap: terminal path too long, not stored\n";
  Buf unterminated = on(2, 0, "");  // a terminal field of 106 bytes without a NUL
  std::fill_n(unterminated.begin() + wire::debug_request::kTerm, wire::debug_request::kTermSize,
              'x');
  unterminated[wire::debug_request::kInit] = 'y';
  // clang-format off
  std::vector<Step> steps = {
      {"99 characters fit a row", on(2, 0, fits), one_row, {{0, flag(kOn, 0x1, 55)}}},
      {"a terminal of 100 characters or more is neither stored nor kept open, the update goes out",
       on(4, 0, longer), too_long + one_row, {{0, flag(kOn, 0x4, 55)}}},
      {"", off(4, 0, longest), one_row, {{0, flag(kOff, 0x4, 55)}}},
      {"in the reply, a piece longer than 99 characters is cut to 99", show(dir() + "/no/tty"),
       one_row, {}, "      vty(" + fits.substr(0, 89) + "\tdebug nivo ipstack eth port 1\n"},
      {"a terminal field without a NUL is refused", unterminated,
       "processVESKreq: terminal path too long, request ignored\n" + one_row},
      {"a short request reads zero-padded: command 2, port 0, an empty path",
       Buf{0, 0, 0, 2}, one_row, {{0, flag(kOn, 0x1, 55)}}},
  };
  // clang-format on
  for (std::int32_t id : {0, 124, 125, -1, 127, 1000, INT32_MIN})
    for (const Buf& r : {wire::encode_debug_request(make(id, 0, false, dir() + "/t")),
                         wire::encode_debug_request(make(id, 0, true, fits))})
      steps.push_back({"command id " + std::to_string(id) + " names no command", r,
                       "processVESKreq: CommandID " + std::to_string(id) +
                           " names no debug command, ignored\n" + one_row});
  const std::size_t open = fds().size();
  converse(steps);
  EXPECT_EQ(fds().size(), open + 1);  // the one row's terminal
  EXPECT_TRUE(has(d().err(), "open vty failed: No such file or directory\n"));
  relay(show(longer));  // too long to be stored, not to be listed to
  EXPECT_EQ(client::read_file(longer),
            "Other vty(" + fits + "):\n\tdebug nivo ipstack eth port 1\n");
}

TEST_F(RelayTest, FullMapRefusesNewTerminalsListsIntoTheReplyAndReleasesAll) {
  std::vector<std::string> t;
  for (int i = 0; i <= 100; ++i) touch(t.emplace_back(dir() + "/t" + std::to_string(100 + i)));
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(relay(on(1, 2, t[i])), "") << i;
    core[2]->drain();
  }
  std::string full;
  for (int i = 0; i < 100; ++i) full += row(i, 0xFFFFFFFF, 55, 2, t[99 - i]);
  ASSERT_EQ(masked(last()), req(2, 1, 0, t[99]) + full);  // the mask of "all" shows as -1
  const std::size_t open = fds().size();
  // clang-format off
  converse({
      {"a new terminal is refused and closed again, the update goes out",
       on(2, 2, t[100]), "VTYmapElement array full\n" + full, {{2, flag(kOn, 0x1, 55)}}},
      {"a terminal that cannot be opened says so instead",
       on(2, 2, dir() + "/absent"), full, {{2, flag(kOn, 0x1, 55)}}},
      {"an existing key still merges", off(3, 2, t[0]),
       full.substr(0, full.rfind("Index")) + row(99, 0xFFFFFFFD, 55, 2, t[0]),
       {{2, flag(kOff, 0x2, 55)}}},
      {"", on(3, 2, t[0]), full, {{2, flag(kOn, 0x2, 55)}}},
  });
  // clang-format on
  EXPECT_EQ(fds().size(), open);
  // The listing into the reply: rows in index order, stopping at the last
  // piece that fits with the NUL.
  std::string listing;
  bool room = true;
  for (int i = 0; i < 100; ++i)
    for (const std::string& piece :
         {"      vty(" + t[99 - i] + "):\n", std::string("\tdebug nivo ipstack all port 3\n")})
      if ((room = room && listing.size() + piece.size() < 5000)) listing += piece;
  EXPECT_EQ(relay(show(dir() + "/no/tty")), listing);
  // 922 releases them all. Rows 0-98 hold what the last row holds, so only
  // row 99 sends its bits off.
  tell(922);  // no reply is tried, and no map printed
  EXPECT_EQ(last(), "");
  EXPECT_TRUE(updates({{2, flag(kOff, 0xFFFFFFFF, 55)}}));
  EXPECT_EQ(fds().size(), open - 100);
}

// A terminal that takes only part of a long listing is waited for a bounded
// time, one that takes none of it not at all; then the daemon says the
// listing was cut and serves on.
TEST_F(RelayTest, AListingTheTerminalDoesNotTakeIsCutAndSaysSo) {
  const std::string fifo = dir() + "/slow";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  client::Fd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_EQ(::fcntl(reader.fd, F_SETPIPE_SZ, 4096), 4096);
  for (std::uint8_t port = 0; port < 30; ++port) relay(on(63, port, fifo));
  for (int full = 0; full < 2; ++full) {  // then its queue is full: cut at once, no wait
    const auto begun = std::chrono::steady_clock::now();
    relay(show(fifo));
    EXPECT_TRUE(has(last(), "showDebugCmds: listing to " + fifo + " cut, ")) << last();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, full ? 250ms : kWait);
  }
}

}  // namespace
}  // namespace e2e
