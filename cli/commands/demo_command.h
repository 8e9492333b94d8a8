// `sonquix demo [--keep DIR] [--json]`: builds a small catalogue and a messy library from
// synthesized audio (cli/demo_library.h), identifies every library file with TrackID through
// the two modules, and prints what was found against what was expected, how many were right
// and the median time of one TrackID.
#pragma once

#include <CLI/CLI.hpp>

namespace pelk::cli {

void AddDemoCommand(CLI::App& app);

}  // namespace pelk::cli
