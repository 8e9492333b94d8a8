// Ratio and filter of a rational resampler: the fraction L/M that approximates the rate ratio,
// and the padded low-pass filter h of length A = P x L that the polyphase sum runs over.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace pelk::fingerprint {

struct ResampleRatio {
  int32_t up = 1;    // L
  int32_t down = 1;  // M
  friend bool operator==(const ResampleRatio&, const ResampleRatio&) = default;
};

// Largest L or M accepted: a designed filter has 20 x max(L, M) + 1 taps, so this bounds the
// filter at about 5 MB. Rates whose ratio needs a larger fraction cannot be resampled.
inline constexpr int32_t kMaxRatioTerm = 1 << 16;

// Nearest-integer continued fraction of output_rate / input_rate, stopped once the convergent is
// within 1e-6 of the ratio (relative). Empty when the rates are not positive or the fraction
// would exceed kMaxRatioTerm.
std::optional<ResampleRatio> ApproximateRatio(double output_rate, double input_rate);

struct ResampleFilter {
  std::vector<float> taps;    // h, padded to a multiple of L
  int32_t history_zeros = 0;  // Z: zeros that precede the input in the sample history
};

// The filter for a ratio: none (a single unit tap) for 1/1, the fixed 84-tap and 42-tap filters
// for 1/4 and 1/2, a Hamming-windowed sinc otherwise.
ResampleFilter MakeResampleFilter(ResampleRatio ratio);

// The two fixed filters, exactly as tabulated (taps that are zeros in effect are stored as 0).
const std::vector<float>& QuarterBandFilter();  // 84 taps, M = 4
const std::vector<float>& HalfBandFilter();     // 42 taps, M = 2

// The designed filter before padding decisions are applied, for any ratio.
std::vector<float> DesignWindowedSinc(ResampleRatio ratio);

}  // namespace pelk::fingerprint
