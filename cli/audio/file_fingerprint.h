// Fingerprints of audio files as a host makes them with the module's fingerprinter: WAV files are
// read by the fingerprinter itself, other audio is decoded here and pushed through its stream.
#pragma once

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

}  // namespace pelk::cli
