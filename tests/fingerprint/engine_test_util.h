// Helpers shared by the engine suites: pushing PCM through an extractor in fixed-size writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fingerprint/stream_extractor.h"
#include "tests/support/pcm_synth.h"

namespace pelk::fingerprint {

struct StreamResult {
  ExtractStatus last_write = kExtractOk;
  size_t frames_written = 0;  // sample frames passed before completion (or all of them)
  std::vector<int16_t> signature;
  int64_t skipped = 0;
  bool done = false;
};

// Writes `pcm` in buffers of `frames_per_write` sample frames until the extractor reports
// completion or the audio runs out.
inline StreamResult RunStream(StreamExtractor& extractor, const std::vector<uint8_t>& pcm,
                              int32_t block_bytes, size_t frames_per_write) {
  StreamResult result;
  const size_t step = frames_per_write * static_cast<size_t>(block_bytes);
  for (size_t at = 0; at < pcm.size(); at += step) {
    const size_t length = std::min(step, pcm.size() - at);
    result.last_write = extractor.Write(pcm.data() + at, static_cast<int32_t>(length));
    result.frames_written += length / static_cast<size_t>(block_bytes);
    if (result.last_write != kExtractOk) break;
  }
  result.signature = extractor.Signature();
  result.skipped = extractor.skipped_samples();
  result.done = extractor.IsDone();
  return result;
}

inline StreamResult Fingerprint(const testing::PcmFormat& format, const std::vector<uint8_t>& pcm,
                                size_t frames_per_write = 1024) {
  StreamExtractor extractor(format.sample_rate, format.bits, format.channels);
  return RunStream(extractor, pcm, format.channels * format.bits / 8, frames_per_write);
}

inline int32_t Sum(const std::vector<int16_t>& v, size_t first, size_t count) {
  int32_t total = 0;
  for (size_t i = first; i < first + count; ++i) total += v[i];
  return total;
}

}  // namespace pelk::fingerprint
