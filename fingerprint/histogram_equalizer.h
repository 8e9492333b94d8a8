// Per-frame histogram equalization: every sample becomes the cumulative share of samples in its
// amplitude bin, less the mean of those shares, so that the spectrum describes the shape of the
// signal rather than its loudness.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pelk::fingerprint {

class HistogramEqualizer {
 public:
  // REQUIRES: bin_count > 0.
  explicit HistogramEqualizer(int32_t bin_count);

  // Equalizes in place. A frame whose samples are all equal has no amplitude range to spread
  // and is left unchanged.
  void Apply(std::span<float> samples);

 private:
  std::vector<uint32_t> counts_;
  std::vector<uint32_t> bins_;  // bin of each sample of the frame being equalized
  std::vector<float> cdf_;
};

}  // namespace pelk::fingerprint
