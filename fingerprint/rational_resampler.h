// Streaming rational resampler: output rate = input rate x L / M, by the polyphase sum
//   y[m] = sum_{j<P} h[((m+1) M mod L) + j L] * s[floor(m M / L) + P - 1 - j]
// over the history s = Z zeros followed by every input sample. An output is produced as soon as
// all of its inputs are present; the history is kept across calls, so the output sequence does
// not depend on how the input is split. Memory is bounded by the filter (the history never holds
// more than one window plus one step).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fingerprint/resampler_design.h"

namespace pelk::fingerprint {

class RationalResampler {
 public:
  // Null when the rates are not positive or their ratio cannot be built (kMaxRatioTerm).
  static std::unique_ptr<RationalResampler> Create(double input_rate, double output_rate);

  ResampleRatio ratio() const { return ratio_; }
  const std::vector<float>& taps() const { return filter_.taps; }
  int32_t history_zeros() const { return filter_.history_zeros; }

  // Starts over: the history becomes Z zeros.
  void Reset();

  // Takes input samples and writes at most `capacity` outputs to `out`. Input is taken only
  // while outputs fit, so some may be left unconsumed; outputs that are ready but did not fit
  // come first in the next call. Returns the number of inputs consumed; *produced receives the
  // number of outputs written.
  size_t Process(const float* in, size_t count, float* out, size_t capacity, size_t* produced);

  // Upper bound of the inputs needed for `outputs` more outputs, ceil(outputs x M / L).
  size_t InputFor(size_t outputs) const;

 private:
  RationalResampler(ResampleRatio ratio, ResampleFilter filter);

  bool Ready() const { return end_ - read_ >= window_; }
  float NextOutput();
  void Append(const float* in, size_t count);

  ResampleRatio ratio_;
  ResampleFilter filter_;
  size_t window_ = 0;  // P, taps per phase
  // Taps of phase p reversed so that they meet the window in time order:
  // phase_taps_[p * P + k] = h[p + (P - 1 - k) L]; only [first, last) of a phase are non-zero.
  std::vector<float> phase_taps_;
  std::vector<uint32_t> phase_first_, phase_last_;
  std::vector<float> history_;
  size_t read_ = 0;    // s[floor(m M / L)] for the next output m
  size_t end_ = 0;     // one past the newest sample held
  int64_t phase_ = 0;  // m M mod L for the next output m
};

}  // namespace pelk::fingerprint
