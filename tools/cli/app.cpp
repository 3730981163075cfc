#include "tools/cli/app.h"

#include "tools/cli/numbers.h"

namespace tools {

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

std::optional<int> parse(CLI::App& app, int argc, char** argv) {
  app.failure_message([](const CLI::App* a, const CLI::Error& e) {
    while (a->get_parent()) a = a->get_parent();
    return a->get_name() + ": " + e.what() + "\nRun with --help for more information.\n";
  });
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  } catch (const UsageError& e) {
    // Planners run in the subcommands' callbacks, inside the parse.
    app.exit(CLI::ValidationError(e.what()));
    return kExitUsage;
  }
}

}  // namespace tools
