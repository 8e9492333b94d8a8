// `sonquix album PATH... [--catalog DB] [--json]`: the manager's AlbumID (one answer per file,
// synchronous) on the audio files of the folders (walked recursively) and files given. Prints
// each album found, the track each of its files was given, and the files left over with their
// own answers; every file given appears exactly once.
#pragma once

#include <CLI/CLI.hpp>

namespace pelk::cli {

void AddAlbumCommand(CLI::App& app);

}  // namespace pelk::cli
