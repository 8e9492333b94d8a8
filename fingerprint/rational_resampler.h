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
  // Decimation (L = 1): `count` outputs (a multiple of kLanes) at once, each summed over the
  // non-zero taps in the same order as NextOutput sums them, so both give identical results.
  void DecimateBlock(float* out, size_t count);
  static constexpr size_t kLanes = 16;
  void Append(const float* in, size_t count);

  ResampleRatio ratio_;
  ResampleFilter filter_;
  size_t window_ = 0;  // P, taps per phase
  size_t stride_ = 0;  // P rounded up to whole vectors of four
  // Taps of phase p reversed so that they meet the window in time order:
  // phase_taps_[p * stride_ + k] = h[p + (P - 1 - k) L], zero for k >= P. Only the vectors in
  // [first, last) of a phase hold non-zero taps.
  std::vector<float> phase_taps_;
  std::vector<uint32_t> phase_first_, phase_last_;
  // L = 1: the non-zero taps of the single phase (position in the window, value), in order.
  std::vector<std::pair<uint32_t, float>> decimation_taps_;
  std::vector<float> lanes_;          // the window split into its M interleaved phases
  std::vector<size_t> lane_offsets_;  // where each non-zero tap reads in lanes_
  std::vector<float> history_;
  size_t read_ = 0;    // s[floor(m M / L)] for the next output m
  size_t end_ = 0;     // one past the newest sample held
  int64_t phase_ = 0;  // m M mod L for the next output m
  // M = step_whole_ L + step_part_: the window moves on without a division per output.
  int64_t step_whole_ = 0, step_part_ = 0;
};

}  // namespace pelk::fingerprint
