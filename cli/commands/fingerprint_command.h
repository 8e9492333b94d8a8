// `sonquix fingerprint`: waveform fingerprints of audio files, made by the module's
// fingerprinter as any host makes them.
//   sonquix fingerprint [--xml | --serialize] [--json] FILE...
//       one line per file: the file and its signature (or its sealed "KZFP" string); --xml
//       prints the FINGERPRINT documents, --json one JSON object per file and line
//   sonquix fingerprint [--json] --deserialize STRING
//       type, version and signature of a serialized fingerprint
// WAV files are read by the fingerprinter itself; other audio (FLAC, Ogg, Opus, MP3, WAV in
// sample formats it cannot use) is decoded here and pushed through its stream. A file that
// gives no fingerprint gets a one-line error; the others are still processed, and the exit code
// is then 1.
#pragma once

#include <CLI/CLI.hpp>

namespace pelk::cli {

void AddFingerprintCommand(CLI::App& app);

}  // namespace pelk::cli
