// sonquix: the command-line host. Each command lives in its own file and is added here with
// one Add<Name>Command line.
#include <CLI/CLI.hpp>

#include "cli/catalog_command.h"
#include "cli/command_support.h"
#include "cli/demo_command.h"
#include "cli/fingerprint_command.h"
#include "cli/identify_command.h"
#include "cli/score_command.h"
#include "cli/text_command.h"

int main(int argc, char** argv) {
  CLI::App app;
  pelk::cli::SetUpApp(app);
  pelk::cli::AddFingerprintCommand(app);
  pelk::cli::AddTextCommand(app);
  pelk::cli::AddCatalogCommand(app);
  pelk::cli::AddIdentifyCommand(app);
  pelk::cli::AddScoreCommand(app);
  pelk::cli::AddDemoCommand(app);
  return pelk::cli::Run(app, argc, argv);
}
