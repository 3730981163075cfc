#include "tools/cli/app.h"

#include <algorithm>
#include <cstdio>

#include "generated/version.h"
#include "tools/cli/nearest.h"
#include "tools/cli/numbers.h"

namespace tools {

namespace {

std::string tool_name(const CLI::App* a) {
  while (a->get_parent()) a = a->get_parent();
  return a->get_name();
}

void say_usage_error(const CLI::App& app, const std::string& what) {
  std::fprintf(stderr, "%s: %s\nRun with --help for more information.\n", tool_name(&app).c_str(),
               what.c_str());
}

// Walks the words as CLI11 will, from command to subcommand, and names the
// first word that stands where only a subcommand may (the command has
// subcommands and no positional arguments) but is none of them.
std::optional<std::string> unknown_command(CLI::App& app, int argc, char** argv) {
  CLI::App* at = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string w = argv[i];
    if (w == "--") return std::nullopt;
    if (w.size() > 1 && w[0] == '-') {
      if (w.find('=') != std::string::npos) continue;
      const CLI::Option* o = nullptr;
      for (CLI::App* a = at; a && !o; a = a->get_parent()) o = a->get_option_no_throw(w);
      if (o && o->get_type_size_max() > 0) ++i;  // the option's value
      continue;
    }
    std::vector<std::string> names;
    CLI::App* next = nullptr;
    for (CLI::App* s : at->get_subcommands([](CLI::App*) { return true; })) {
      if (s->check_name(w)) next = s;
      if (!s->get_group().empty()) names.push_back(s->get_name());  // not hidden
    }
    if (next) {
      at = next;
      continue;
    }
    const bool positionals =
        !at->get_options([](const CLI::Option* o) { return o->get_positional(); }).empty();
    if (names.empty() || positionals) return std::nullopt;
    return unknown_word("command", w, names);
  }
  return std::nullopt;
}

}  // namespace

Reached walk(CLI::App& app, const std::vector<std::string>& typed) {
  Reached r;
  r.at = &app;
  auto option_of = [&r](const std::string& w) {
    const CLI::Option* o = nullptr;
    for (CLI::App* a = r.at; a && !o; a = a->get_parent()) o = a->get_option_no_throw(w);
    return o && o->get_type_size_max() > 0 && !o->get_positional() ? o : nullptr;
  };
  for (std::size_t i = 0; i < typed.size(); ++i) {
    const std::string& w = typed[i];
    if (w.starts_with("-")) {
      if (option_of(w)) {
        if (i + 1 == typed.size()) r.value = true;
        ++i;
      }
      continue;
    }
    CLI::App* next = nullptr;
    for (CLI::App* s : r.at->get_subcommands([](CLI::App*) { return true; }))
      if (!s->get_group().empty() && s->check_name(w)) next = s;
    if (next && r.words.empty())
      r.at = next;
    else
      r.words.push_back(w);
  }
  return r;
}

std::vector<std::string> command_candidates(CLI::App* at) {
  std::vector<std::string> out;
  for (CLI::App* s : at->get_subcommands([](CLI::App*) { return true; }))
    if (!s->get_group().empty()) out.push_back(s->get_name());
  for (CLI::App* a = at; a; a = a->get_parent())
    for (const CLI::Option* o : a->get_options(
             [](const CLI::Option* o) { return !o->get_positional() && !o->get_lnames().empty(); }))
      if (std::find(out.begin(), out.end(), "--" + o->get_lnames().front()) == out.end())
        out.push_back("--" + o->get_lnames().front());
  return out;
}

CLI::App* add_completion(CLI::App& app) {
  return app.add_subcommand("__complete", "")->group("")->fallthrough(false)->prefix_command();
}

const CLI::Validator& typed_number() {
  static const CLI::Validator v(
      [](std::string& s) -> std::string {
        auto n = parse_number(s, UINT64_MAX);
        if (!n) return "\"" + s + "\" is not a number (decimal, or hexadecimal with 0x)";
        s = std::to_string(*n);
        return "";
      },
      "");
  return v;
}

CLI::Validator number_range(std::uint64_t lo, std::uint64_t hi) {
  return CLI::Validator(
      [lo, hi](std::string& s) -> std::string {
        auto n = parse_number(s, UINT64_MAX);
        if (n && *n >= lo && *n <= hi) return "";
        return s + " is not in range " + std::to_string(lo) + " to " + std::to_string(hi);
      },
      "");
}

std::string version_line(const char* name) {
  std::string s = std::string(name) + " " + DRAVIK_VERSION;
  if (*DRAVIK_COMMIT) s += std::string(" (commit ") + DRAVIK_COMMIT + ")";
  return s;
}

namespace {

// A positional's name says what it takes: help shows no type beside it.
void untyped_positionals(CLI::App* app) {
  for (CLI::Option* o : app->get_options([](const CLI::Option* o) { return o->get_positional(); }))
    o->type_name("");
  for (CLI::App* s : app->get_subcommands([](CLI::App*) { return true; })) untyped_positionals(s);
}

}  // namespace

std::optional<int> parse(CLI::App& app, int argc, char** argv) {
  untyped_positionals(&app);
  app.set_version_flag("--version", version_line(app.get_name().c_str()),
                       "print the version and exit");
  app.failure_message([](const CLI::App* a, const CLI::Error& e) {
    return tool_name(a) + ": " + e.what() + "\nRun with --help for more information.\n";
  });
  if (auto what = unknown_command(app, argc, argv)) {
    // --help and --version still win, wherever they stand.
    bool asks = false;
    for (int i = 1; i < argc; ++i) {
      std::string_view w = argv[i];
      asks = asks || w == "--help" || w == "-h" || w == "--version";
    }
    if (!asks) {
      say_usage_error(app, *what);
      return kExitUsage;
    }
  }
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  } catch (const UsageError& e) {
    // Planners run in the subcommands' callbacks, inside the parse.
    say_usage_error(app, e.what());
    return kExitUsage;
  }
}

}  // namespace tools
