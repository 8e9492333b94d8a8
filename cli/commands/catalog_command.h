// `sonquix catalog`: create, import, list, export and count a local catalogue.
#pragma once

#include <CLI/CLI.hpp>

namespace pelk::cli {

void AddCatalogCommand(CLI::App& app);

}  // namespace pelk::cli
