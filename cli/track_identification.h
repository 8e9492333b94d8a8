// One file identified with the manager's TrackID, as the identify and demo commands do it: a
// record made by the identification module, the file name put on it, a fingerprint computed by
// the host for audio the module cannot read itself, one synchronous TrackID, and the returned
// candidates read back into plain values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/module_session.h"

namespace pelk::cli {

// One returned record that carries a disc.
struct Candidate {
  std::string disc_identifier;
  std::string disc_artist;
  std::string album;
  int32_t track = 0;
  int32_t track_count = 0;
  std::string title;
  std::string track_artist;  // the track's own artist, else the disc artist
  int32_t match_type = 0;    // SonquixMatchType
  int32_t match_code = 0;    // PelkSonquixMatchCode
  // The disc's track graded against the file with the track scorer, from the tag the manager
  // read and the file's path (-1 when it cannot be computed). Records do not publish their own
  // score; this is the same scorer on the same inputs, except for the waveform hint a record may
  // write into an empty tag artist or title.
  int32_t score = -1;
  std::string no_score;  // when score is -1: why, in words for a person
  std::string found_by;  // a phrase: how the match was found
};

struct Identification {
  std::string file;        // as given
  std::string error;       // non-empty when the file could not be identified at all
  int32_t match_code = 1;  // TrackID's: 1 no match, 2 several candidates, 3 one answer
  int32_t list_match_code = 0;
  std::vector<Candidate> candidates;  // in the order of the returned list
  // "module" (the manager fingerprints the WAV file), "host" (decoded and pushed by the host),
  // "none" (--no-waveform), or why the host could not make one.
  std::string fingerprint;
  double trackid_ms = 0;  // wall time of the TrackID call
};

// Identifies one file with TrackID(options); 0 stands for the default set. Never fails the
// command: a file that cannot be read or identified comes back with `error` set.
Identification IdentifyTrack(const ModuleSession& session, const std::string& file,
                             int32_t options);

// Names for people: "waveform", "tag identifier", "text"...; "exact", "fuzzy"...
std::string MatchTypeName(int32_t match_type);
std::string MatchCodeName(int32_t match_code);

}  // namespace pelk::cli
