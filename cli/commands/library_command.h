// `sonquix library PATH... [--catalog DB] [--tracks] [--report FILE] [--resume]
// [--write-tags[=all]]`: a whole library through the manager's library queue, in the background,
// with a progress line, a clean stop on Ctrl-C and a report written as files finish.
#pragma once

#include <CLI/CLI.hpp>

namespace pelk::cli {

void AddLibraryCommand(CLI::App& app);

}  // namespace pelk::cli
