#include "cli/command_support.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>

#include "cli/module_session.h"
#include "runtime/utf.h"

namespace pelk::cli {

void SetUpApp(CLI::App& app) {
  app.name("sonquix");
  app.description("Identifies music files: fingerprints, catalogue lookups, text comparison.");
  // The version, and the modules this host would load (where an installed tree is looked for).
  app.set_version_flag("--version", [] {
    const ModulePaths modules = FindModules();
    return std::string("sonquix ") + SONQUIX_VERSION + "\nmodules: " + modules.sonquix + ", " +
           modules.control;
  });
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    return "sonquix: " + message + "\n";
  });
}

int Run(CLI::App& app, int argc, const char* const* argv) {
  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  return Run(app, std::move(args));
}

int Run(CLI::App& app, std::vector<std::string> args) {
  std::reverse(args.begin(), args.end());  // CLI11 takes them last to first
  try {
    app.parse(args);
  } catch (const CLI::Error& e) {
    return app.exit(e);
  }
  return 0;
}

void PrintError(std::string_view message) {
  std::cout.flush();
  std::cerr << "sonquix: " << message << std::endl;
}

void Fail(std::string_view message, int code) {
  PrintError(message);
  throw CLI::RuntimeError(code);
}

std::u16string ArgumentText(std::string_view utf8, std::string_view what) {
  std::u16string text = Utf8ToUtf16(utf8);
  // A valid UTF-8 argument survives the round trip; an invalid one came back with U+FFFD.
  if (Utf16ToUtf8(text) != utf8) Fail(std::string(what) + " is not valid UTF-8");
  return text;
}

std::string HresultText(int32_t hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(hr));
  return text;
}

uint32_t ParseNumber(std::string_view text, uint32_t max, std::string_view what) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max) {
    Fail(std::string(what) + ": expected a number from 0 to " + std::to_string(max) +
         " (decimal or 0x hexadecimal)");
  }
  return static_cast<uint32_t>(value);
}

}  // namespace pelk::cli
