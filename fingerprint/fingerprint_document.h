// The FINGERPRINT document: the text the extraction engine hands out at the end of a stream.
// Written without an XML declaration, two spaces of indentation per level and a line feed after
// every element; an element with children has its start tag on a line of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fingerprint/extraction_config.h"

namespace pelk::fingerprint {

inline constexpr const char* kAlgorithmName = "Wavelattice";
inline constexpr const char* kAlgorithmVersion = "1.1";
inline constexpr const char* kAlgorithmBuild = "1.3.3";

struct FingerprintReport {
  std::vector<int16_t> signature;
  int32_t compute_ms = 0;  // time spent inside the engine's calls
  int32_t total_ms = 0;    // from the start of the stream to the output
  int32_t channels = 0;
  int32_t sample_rate = 0;
  int32_t bits_per_sample = 0;
  int32_t offset_ms = 0;    // leading silence skipped
  int32_t duration_ms = 0;  // span covered by the analysed frames
};

// The document text for a report and the settings it was made with.
std::string WriteFingerprintDocument(const FingerprintReport& report,
                                     const ExtractionConfig& config);

}  // namespace pelk::fingerprint
