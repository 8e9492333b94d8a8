// `sonquix text`: the normalizer and the fuzzy comparison measures on texts given as arguments.
//   sonquix text normalize [--flags N] TEXT...   one normalized text per line
//   sonquix text compare [--json] A B            edit difference, tiling, field similarity,
//                                                same title
#pragma once

#include <CLI/CLI.hpp>

namespace pelk::cli {

void AddTextCommand(CLI::App& app);

}  // namespace pelk::cli
