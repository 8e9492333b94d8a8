// How the catalogue answers waveform and text lookups: which tracks match, and the result kind
// (1 none, 2 several plausible, 3 one clear winner, 5 several near-identical recordings).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

struct Match {
  int64_t disc_id = 0;
  int32_t track = 0;
  int32_t score = 0;  // 0-100, higher is better (waveform: from the distance)
};

struct MatchAnswer {
  int32_t kind = 1;
  std::vector<Match> matches;  // best first; one for kind 3
};

// Waveform thresholds, as sums of absolute differences over the 30 signature values.
struct WaveformThresholds {
  int64_t max_distance = 6000;  // farther is no match at all
  int64_t same_recording = 300;  // candidates this close to the best are the same recording
  int64_t clear_margin = 1500;   // a best this far ahead of the next is a clear winner
};

MatchAnswer MatchWaveform(CatalogStore& store, const Signature& signature,
                          const WaveformThresholds& thresholds = {});

// What a text lookup knows about the file: tag fields and, when allowed, its path.
struct TextQuery {
  std::u16string title;
  std::u16string artist;
  std::u16string album;
  std::u16string file_name;  // empty: not to be used
};

// Fields read from a path when the tag has no title: Artist/Album/NN Title,
// Artist - Album/NN - Title, NN. Artist - Title, Artist - Title.
struct ParsedFileName {
  std::u16string artist;
  std::u16string album;
  int32_t track = 0;
  std::u16string title;
};
ParsedFileName ParseFileName(std::u16string_view path);

MatchAnswer MatchText(CatalogStore& store, const TextQuery& query);

}  // namespace pelk::catalog
