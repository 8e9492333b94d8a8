// Detects the end of leading silence: the first sample at which the mean absolute deviation of
// the last W samples from their mean (each deviation clipped to Q) exceeds the threshold H.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelk::fingerprint {

class SilenceGate {
 public:
  // REQUIRES: width > 0.
  SilenceGate(int32_t width, int32_t height, int32_t clip);

  int32_t width() const { return width_; }

  // Forgets everything; the next Scan primes the window again.
  void Reset();

  bool primed() const { return primed_; }

  // Loads the sample window with the first W of `samples` (zeros past `count`): the window's mean
  // then starts from the audio itself rather than from zero. Scan primes on its own when needed.
  void Prime(const float* samples, size_t count);

  // Runs the samples through the window in order and returns the index of the first one at which
  // the mean deviation exceeds the threshold, or `count` when none does. Stops at that sample.
  size_t Scan(const float* samples, size_t count);

  // The leading silence of one call: the trigger index less W/2 (0 when the trigger lies within
  // the first W/2 samples), or `count` when every sample is silence.
  size_t LeadingSilence(const float* samples, size_t count);

 private:
  int32_t width_, height_, clip_;
  std::vector<int32_t> samples_, deviations_;
  int64_t sample_sum_ = 0, deviation_sum_ = 0;
  size_t index_ = 0;
  bool primed_ = false;
};

}  // namespace pelk::fingerprint
