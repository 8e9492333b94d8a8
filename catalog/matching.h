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

// Waveform thresholds, as sums of absolute differences over the 30 signature values between the
// query and a track's nearest rung (every signature of its ladder counts, the best one answers).
//
// First chosen from bench/waveform_study.cpp with one signature a track: 220 items (synthesized
// music, synthesized speech), each copied six ways (resampled to 22050 and 48000 Hz, -6 dB,
// white noise, 2 s of leading silence, 1 s cut off). A copy lay at most 4694 from its own track
// (each kind's 99th percentile under 3600), except copies cut at the start (median 2724, max
// 9304). No copy came nearer than 7046 to another item, and no two items lay nearer than 7942.
//
// Measured again with the ladders add-album stores, by bench/ladder_study.cpp: 170 items (70
// music, 50 speech, 50 music fading in), nine copies each (the six above; 8 dB quieter with
// 1.5 s of silence through Vorbis at 48 kHz; mono at 22.05 kHz; 2 s cut off under -30 dBFS
// noise). The nearest wrong track of any copy came to 6997 (7120 with rung 0 alone), two
// different items' nearest rungs to 7268 (7448). Own distances, ladder (rung 0 alone): quieter
// through the codec max 5670 (11213), mono max 1559 (8257), 1 s cut p99 4996 (15027), 2 s cut
// under noise median 3698 (6570).
struct WaveformThresholds {
  // About 1000 under the nearest wrong track seen in either study. With the ladders: 95.6% of
  // all copies found (86.7% with rung 0 alone), every quieter-through-codec and mono copy, 85%
  // of the copies cut by 2 s under noise, never a wrong track, and no answer for 850 lookups of
  // recordings not in the catalogue; the first wrong answers appear from 9000 (none at 7500).
  int64_t max_distance = 6000;
  // A recording fingerprinted from two sources (3 dB quieter, 0.5 s of silence, 32 kHz) gave
  // entries up to 2746 apart (median 1333); the own track led the nearest other item by at
  // least 3284. Of 132 copies of such recordings 122 came out as kind 5 and 9 as kind 2 (both
  // entries, nothing else). With ladders on both entries: 119 of 153 copies kind 5, 19 kind 2.
  int64_t same_recording = 2000;
  // About the 99th percentile of own distances, so a wrong track can only win clearly when the
  // own track is itself that far away; under the smallest lead of the own track seen. With the
  // ladders no answer of kind 3 named a wrong track at 1500, 3000 or 4500.
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
