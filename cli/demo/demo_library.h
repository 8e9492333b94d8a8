// What `sonquix demo` builds in its folder: reference audio for six albums (synthesized, tagged),
// a catalogue made from it with the same code as `catalog add-album`, and a messy library of
// copies of some of those tracks (wrong tags, no tags, informative or useless paths, other
// sample rates and levels, a clip too short to fingerprint, a track that is not in the
// catalogue), each with the answer identification should give.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pelk/fingerprint_interfaces.h"

namespace pelk::cli {

struct DemoFile {
  std::string path;  // relative to the demo folder
  std::string kind;  // how the file is messy
  // The expected answer; an empty disc identifier means the track is not in the catalogue.
  std::string disc_identifier;
  int32_t track = 0;
  std::string artist, title;
};

struct DemoSet {
  std::filesystem::path catalog;
  int32_t albums = 0;
  int32_t tracks = 0;
  std::vector<DemoFile> files;
};

// Builds everything in dir (which must exist and be empty), fingerprinting the reference audio
// with fingerprinter. Deterministic: the same files every time. False with *error set when a
// file or the catalogue cannot be written.
bool BuildDemo(const std::filesystem::path& dir, IPelkSonquixFingerprinter2* fingerprinter,
               DemoSet* set, std::string* error);

}  // namespace pelk::cli
