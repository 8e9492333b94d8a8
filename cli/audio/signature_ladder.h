// The ladder of waveform signatures the catalogue keeps for a track. Rung 0 is the engine's own
// signature of the file, exactly what a lookup computes from the same file. The other rungs are
// computed from the same decoded audio as the copies people hold would give it: the window the
// silence gate chooses when the audio is quieter (the PCM scaled down before it is pushed), and
// windows that start later in the music (a trimmed start). Each rung is pushed through the
// fingerprinter's stream interface, as a host that decodes pushes a file, so the engine itself
// picks every window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalog/catalog_store.h"
#include "cli/audio/file_fingerprint.h"
#include "pelk/fingerprint_interfaces.h"

namespace pelk::cli {

class AudioDecoder;

// One rung: the audio scaled by gain_db, pushed from start_seconds after the first sample of
// rung 0's window (0: from the first sample of the file, the gate then chooses the window).
struct LadderRung {
  double gain_db = 0;
  double start_seconds = 0;
};

// The rungs after rung 0 that add-album and the demo store (why these: signature_ladder.cpp).
const std::vector<LadderRung>& DefaultLadderRungs();

// Interleaved 16-bit PCM held in memory, decoded once for every rung.
struct DecodedAudio {
  int32_t sample_rate = 0;
  int32_t channels = 0;
  std::vector<int16_t> samples;
  bool whole = false;  // the file ended within the samples

  int64_t frames() const { return channels > 0 ? std::ssize(samples) / channels : 0; }
};

// At most `seconds` of audio from the decoder's current position (and never more than about
// 64 MB of samples).
DecodedAudio DecodePrefix(AudioDecoder& decoder, double seconds);

// The signature of each rung of `audio` (nullopt where the audio gives none, such as a start
// beyond what was decoded). rung0_start_seconds is where rung 0's window begins in the audio
// (its fingerprint's offset); start rungs count from there.
std::vector<std::optional<catalog::Signature>> RungSignatures(
    IPelkSonquixFingerprinter2* fingerprinter, const DecodedAudio& audio,
    double rung0_start_seconds, const std::vector<LadderRung>& rungs);

// Rung 0 of audio already in memory (pushed as a host pushes a decoded file) with its rungs:
// what FingerprintFileLadder computes, for programs that hold the audio themselves.
struct AudioLadder {
  std::optional<catalog::Signature> rung0;
  double rung0_start_seconds = 0;
  std::vector<std::optional<catalog::Signature>> rungs;  // nullopt without rung 0
};
AudioLadder LadderOfAudio(IPelkSonquixFingerprinter2* fingerprinter, const DecodedAudio& audio,
                          const std::vector<LadderRung>& rungs);

// The rungs' signatures that add something: each one that differs from rung 0 and from every
// rung kept before it, in rung order.
std::vector<catalog::Signature> DistinctRungs(
    const catalog::Signature& rung0, const std::vector<std::optional<catalog::Signature>>& rungs);

struct FileLadder {
  FileFingerprint fingerprint;             // rung 0, or why the file gave none
  std::vector<catalog::Signature> ladder;  // the distinct rungs after rung 0
};

// Rung 0 as FingerprintFile gives it (a WAV file the fingerprinter reads itself is read by it),
// and the other rungs from the file decoded once. A file without rung 0 has no ladder.
FileLadder FingerprintFileLadder(IPelkSonquixFingerprinter2* fingerprinter, const std::string& path,
                                 int32_t needed_ms,
                                 const std::vector<LadderRung>& rungs = DefaultLadderRungs());

}  // namespace pelk::cli
