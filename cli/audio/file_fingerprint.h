// Fingerprints of audio files as a host makes them with the module's fingerprinter: WAV files are
// read by the fingerprinter itself, other audio is decoded here and pushed through its stream.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "pelk/fingerprint_interfaces.h"
#include "runtime/com_ptr.h"

namespace pelk::cli {

// A fingerprint, or why a file gave none (a one-line reason).
struct FileFingerprint {
  ComPtr<IPelkSonquixFingerprint> fingerprint;
  std::string error;
};

// A new fingerprinter; fails the command when none can be made.
ComPtr<IPelkSonquixFingerprinter2> NewFingerprinter();
// Milliseconds of audio one fingerprint covers, as the fingerprinter states it (0 if unknown).
int32_t FixedLengthMs(IPelkSonquixFingerprinter2* fingerprinter);
FileFingerprint FingerprintFile(IPelkSonquixFingerprinter2* fingerprinter, const std::string& path,
                                int32_t needed_ms);
// Pushes blocks of interleaved 16-bit little-endian PCM through a new stream of the
// fingerprinter until it is complete or next_block gives an empty block, as a host that decodes
// does; the error says why no fingerprint came. declared_seconds is the length the file
// declares (0: unknown), so audio that stops well short of it is reported as cut short.
FileFingerprint FingerprintBlocks(IPelkSonquixFingerprinter2* fingerprinter, int32_t sample_rate,
                                  int32_t channels,
                                  const std::function<std::span<const uint8_t>()>& next_block,
                                  int32_t needed_ms, double declared_seconds = 0);
// True for a ".wav" name in any case: the fingerprinter reads such files itself.
bool HasWavExtension(const std::string& path);

}  // namespace pelk::cli
