// A catalogue disc made from an album's audio files: the tags read with the catalogue's own tag
// objects, each file fingerprinted with a fingerprinter of the module. `catalog add-album` and
// the demo build their discs with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/catalog_store.h"
#include "pelk/fingerprint_interfaces.h"

namespace pelk::cli {

struct AlbumSpec {
  std::vector<std::string> files;  // in track order
  // Empty (0, false): taken from the files' tags; the identifier is then derived from the
  // artist and album.
  std::string artist, album, genre, identifier;
  int32_t year = 0;
  bool compilation = false;
  // Which disc of its release the files are; 0: from the tags (DISCNUMBER, TPOS, disk...).
  int32_t disc_number = 0;
};

// Fills *disc from the files: album and artist from the spec or the first tag that has them
// (album artist before artist), track numbers from the tags (else the file's position, never
// twice), titles from the tags (else the file name without its leading number), the track
// artist when it differs from the disc's, lengths, track identifiers (from the tag, else
// "<disc identifier>-<number>") and signature ladders (cli/audio/signature_ladder.h). The track
// count is the tags' track total (the largest given), raised to the highest track number and the
// number of tracks. The disc number is the spec's, else the tags' ("2" or "2/3"); the disc count is
// the tags' total ("2/3", DISCTOTAL, TOTALDISCS), raised to the disc number. A file that gives no
// fingerprint adds a line to *warnings and its track has no signature. False with *error set when
// the album has no title or artist, or when the files' tags name different discs and the spec names
// none.
bool BuildAlbum(const AlbumSpec& spec, IPelkSonquixFingerprinter2* fingerprinter,
                catalog::DiscRecord* disc, std::vector<std::string>* warnings, std::string* error);

// The disc identifier derived from an artist, an album and a disc number: "D-" and 12 hex digits,
// the same for the same texts. Disc 1, and a disc without a number (0), derive from artist and
// album alone, as identifiers did before discs were numbered: catalogues and tags written then
// stay valid. Discs 2 and up add their number to what is hashed.
std::string DiscIdentifierFor(const std::string& artist, const std::string& album,
                              int32_t disc_number = 0);

}  // namespace pelk::cli
