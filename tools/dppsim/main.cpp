// dppsim: the card's DPPs on the host platform. "run" plays the DPPs that
// receive the daemon's flag messages; "send" plays a DPP sending its debug
// text and log records. The command line is CLI11's.
#include <cstdio>

#include "tools/cli/app.h"
#include "tools/cli/categories.h"
#include "tools/cli/numbers.h"
#include "tools/dppsim/commands.h"

namespace {

constexpr const char* kRunFooter =
    R"(Brings up DPPs 1 to --dpps: binds each DPP's per-port debug service on its
first --cores-per-dpp cores, xipc/<core>.39.0, where the daemon sends the
FlagUpdateMsg of a port (core = port - 1), and its log service
xipc/<4(n-1)>.66.0, where the daemon sends the DppFlagMsg. Prints
"dppsim: ready: ..." once bound, then every message received decoded in one
line, and keeps each DPP's state: debug bits per module and port, log
categories, filters and level. kill -USR1 prints the state; kill -TERM or
Ctrl-C prints it and stops.)";

constexpr const char* kSendFooter =
    R"(Records go to the daemon's endpoint xipc/0.37.1024 from module 39 of core
4(N-1)+C. "{n}" in TEXT becomes the record's number, 1 to --count. A full
queue at the daemon is retried after a short poll (the retries are counted);
a progress line comes every second, and a summary at the end.
Exit status: 0 sent; 1 the daemon's endpoint could not be reached; 2 usage.)";

// A numeric option as operators type it (decimal or 0x...), within [lo, hi].
template <typename T>
CLI::Option* number(CLI::App* app, const char* name, T& into, const char* what, std::uint64_t lo,
                    std::uint64_t hi) {
  CLI::Option* o = app->add_option(
      name, into, std::string(what) + " (" + std::to_string(lo) + "-" + std::to_string(hi) + ")");
  if (sizeof(T) > 1) o->capture_default_str();  // a byte's default would show as a character
  return o->transform(tools::typed_number())->check(tools::number_range(lo, hi))->type_name("N");
}

// The options of every kind of record, and the text where there is one.
CLI::App* send_kind(CLI::App* send, const char* name, const char* what, dppsim::SendPlan& p) {
  using dppsim::kCoresPerDpp, dppsim::kMaxDpps;
  CLI::App* k = send->add_subcommand(name, what);
  number(k, "--dpp", p.dpp, "the sending DPP", 1u, kMaxDpps)->required();
  number(k, "--core", p.core, "the core within the DPP", 0u, kCoresPerDpp - 1);
  number(k, "--count", p.count, "how many records", 1, 100000000);
  k->add_option("--rate", p.rate, "records per second, up to 1e7 (0: as fast as taken)")
      ->check(CLI::Range(0.0, 1e7).description(""))
      ->type_name("R");
  if (std::string_view(name) != "ipc") {
    k->add_option("TEXT", p.text, "quoted if it has blanks; several lines allowed")->required();
    k->add_option_function<std::uint32_t>(
         "--length", [&p](std::uint32_t n) { p.length = n; },
         "the length field (default: the text's length + 1, its NUL)")
        ->transform(tools::typed_number())
        ->type_name("N");
  }
  return k;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dppsim;
  CLI::App app(
      "The DPPs of a card, on the host platform in DRAVIK_PLATFORM_DIR (default\n"
      "/tmp/dravik). DPP n owns the XIPC cores 4(n-1) to 4(n-1)+3.",
      "dppsim");
  app.require_subcommand(1);

  RunOptions run;
  CLI::App* run_cmd =
      app.add_subcommand("run", "bind the DPPs' endpoints and print what they receive");
  run_cmd->footer(kRunFooter);
  number(run_cmd, "--dpps", run.dpps, "how many DPPs", 1u, kMaxDpps);
  number(run_cmd, "--cores-per-dpp", run.cores_per_dpp, "cores bound per DPP", 1u, kCoresPerDpp);

  SendPlan plan;
  CLI::App* send = app.add_subcommand("send", "send what a DPP sends the daemon");
  send->require_subcommand(1);
  send->footer(kSendFooter);
  send_kind(send, "text", "per-port debug text (PortDebugTextMsg, opcode 88)", plan)->callback([&] {
    plan.kind = SendKind::Text;
  });
  CLI::App* log = send_kind(send, "log", "a log record (DppLogMsg, opcode 33)", plan);
  log->add_option("--category", plan.category,
                  "the category: a number, C + 0x80 for the text plainly, or a name (mem)")
      ->required()
      ->type_name("C")
      ->transform(CLI::Validator(
          [](std::string& s) -> std::string {
            try {
              auto n = tools::parse_number(s);
              s = std::to_string(n ? static_cast<std::uint32_t>(*n) : tools::parse_category(s));
              return "";
            } catch (const tools::UsageError& e) {
              return e.what();
            }
          },
          ""));
  log->callback([&] { plan.kind = SendKind::Log; });
  CLI::App* ipc = send_kind(send, "ipc", "an IPC header record (category 1 RX, 2 TX)", plan);
  std::string direction;
  ipc->add_option("rx|tx", direction)
      ->required()
      ->check(CLI::IsMember({"rx", "tx"}).description(""));
  wire::IpcMsgHeader& h = plan.header;
  for (auto [name, field] : {std::pair{"--opc", &h.opc},
                             {"--src", &h.src},
                             {"--dst", &h.dst},
                             {"--size", &h.size},
                             {"--frm-len", &h.frm_len}})
    number(ipc, name, *field, "a header field", 0, 0xFFFF);
  for (auto [name, field] : {std::pair{"--ver", &h.ver},
                             {"--ctrl", &h.ctrl},
                             {"--status", &h.status},
                             {"--queue", &h.queue}})
    number(ipc, name, *field, "a header field", 0, 0xFF);
  number(ipc, "--frm-ptr", h.frm_ptr, "a header field", 0, UINT32_MAX);
  ipc->callback([&] {
    plan.kind = direction == "rx" ? SendKind::IpcRx : SendKind::IpcTx;
    plan.category = plan.kind == SendKind::IpcRx ? 1 : 2;
  });

  CLI::App* complete = tools::add_completion(app);
  if (auto status = tools::parse(app, argc, argv)) return *status;
  if (*complete) {
    tools::Reached r = tools::walk(app, complete->remaining());
    if (!r.value)
      for (const std::string& c : tools::command_candidates(r.at)) std::printf("%s\n", c.c_str());
    return 0;
  }
  return *run_cmd ? run_dpps(run) : send_records(plan);
}
