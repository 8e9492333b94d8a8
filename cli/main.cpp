// sonquix: the command-line host. Each command lives in its own file and is added here with
// one Add<Name>Command line.
#include <CLI/CLI.hpp>

#include "cli/command_support.h"
#include "cli/commands/album_command.h"
#include "cli/commands/catalog_command.h"
#include "cli/commands/demo_command.h"
#include "cli/commands/fingerprint_command.h"
#include "cli/commands/identify_command.h"
#include "cli/commands/library_command.h"
#include "cli/commands/lookup_command.h"
#include "cli/commands/score_command.h"
#include "cli/commands/text_command.h"

int main(int argc, char** argv) {
  CLI::App app;
  pelk::cli::SetUpApp(app);
  pelk::cli::AddFingerprintCommand(app);
  pelk::cli::AddTextCommand(app);
  pelk::cli::AddCatalogCommand(app);
  pelk::cli::AddIdentifyCommand(app);
  pelk::cli::AddLookupCommand(app);
  pelk::cli::AddAlbumCommand(app);
  pelk::cli::AddLibraryCommand(app);
  pelk::cli::AddScoreCommand(app);
  pelk::cli::AddDemoCommand(app);
  return pelk::cli::Run(app, argc, argv);
}
