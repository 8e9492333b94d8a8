// `sonquix score FILE --disc ID [--track N] [--catalog PATH] [--json]`: explains, field by
// field, the score the module's track scorer gives a catalogue disc's track against an audio
// file: the texts of both sides, the fourteen similarities, the winners for artist, album and
// title, the track-number hint, the identifier shortcuts and the final score. Without --track,
// every track is scored and the best one (the first of equals) is explained.
#pragma once

#include <CLI/CLI.hpp>

namespace pelk::cli {

void AddScoreCommand(CLI::App& app);

}  // namespace pelk::cli
