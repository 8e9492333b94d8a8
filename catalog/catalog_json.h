// The catalogue's JSON exchange format, read by `sonquix catalog import` and written by
// `export` (an export imports back unchanged):
//
//   {
//     "format": "pelk-catalog", "version": 2,
//     "discs": [{
//       "identifier": "D-0001",            required, unique in the catalogue
//       "album": "Blue", "artist": "Joni", required
//       "track_count": 10,                 optional; at least the highest track number and the
//                                          number of tracks listed (a disc below either is
//                                          refused, not repaired); absent: the higher of the two
//       "compilation": false, "certified_level": 0, "release_rank": 1, "year": 1971,
//       "genre": "Folk", "store_ids": ["first", "second"],      all optional
//       "disc_number": 2, "disc_count": 2,  optional: which disc of its release, of how many
//                                          (0 or absent: not said; a number beyond the count
//                                          is refused)
//       "tracks": [{
//         "number": 1, "title": "All I Want", "identifier": "T-0001",   required
//         "artist": "", "length_ms": 212000,                            optional
//         "signatures": ["30 integers separated by blanks", ...]        optional
//       }]
//     }]
//   }
//
// "signatures" is the track's ladder of waveform signatures, rung 0 (the engine's signature of
// the audio, what a lookup computes) first, then the rungs computed from the same audio as
// quieter or trimmed copies would give it; export writes every rung. A track may give
// "signature" (one text, rung 0 alone) instead, never both.
//
// Version 1 files (no "version", or 1) are still read: their tracks know only "signature",
// which becomes rung 0. Version 2 added "signatures"; a file of a higher version is refused.
//
// Anything else is refused, naming the line and the field; nothing is imported from a file
// with any error.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

// The version export writes, and the highest import reads.
constexpr int32_t kCatalogJsonVersion = 2;

// Parses the text; false with *error ("line N: ...") when it is not a valid catalogue file.
bool ParseCatalogJson(std::string_view text, std::vector<DiscRecord>* discs, std::string* error);
std::string WriteCatalogJson(const std::vector<DiscPtr>& discs);

}  // namespace pelk::catalog
