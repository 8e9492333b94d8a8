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

// Waveform thresholds, as sums of absolute differences over the 30 signature values, chosen from
// bench/waveform_study.cpp: 220 items (synthesized music, synthesized speech), each copied six
// ways (resampled to 22050 and 48000 Hz, -6 dB, white noise, 2 s of leading silence, 1 s cut
// off). A copy lay at most 4694 from its own track (each kind's 99th percentile under 3600),
// except copies cut at the start, which hold later audio (median 2724, max 9304). No copy came
// nearer than 7046 to another item, and no two items lay nearer than 7942.
struct WaveformThresholds {
  // Above every uncut copy's own distance, 1000 under the nearest wrong track seen: all uncut
  // copies and 212 of 220 cut ones found, no wrong track, and no answer for a recording that
  // is not in the catalogue (the first wrong answers appear from 7500).
  int64_t max_distance = 6000;
  // A recording fingerprinted from two sources (3 dB quieter, 0.5 s of silence, 32 kHz) gave
  // entries up to 2746 apart (median 1333); the own track led the nearest other item by at
  // least 3284. Of 132 copies of such recordings 122 came out as kind 5 and 9 as kind 2 (both
  // entries, nothing else).
  int64_t same_recording = 2000;
  // About the 99th percentile of own distances, so a wrong track can only win clearly when the
  // own track is itself that far away; under the smallest lead of the own track seen.
  int64_t clear_margin = 3000;
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

// Which text index a lookup may use. kWords searches the word index and falls back to the
// trigram table when no word query finds a track (or the catalogue has no current word index);
// kTrigramsOnly searches as a catalogue without a word index is searched (for comparisons).
enum class TextSearch { kWords, kTrigramsOnly };

// Candidates from the text index, scored with the system's own field similarity.
MatchAnswer MatchText(CatalogStore& store, const TextQuery& query,
                      TextSearch search = TextSearch::kWords);

}  // namespace pelk::catalog
