#include "fingerprint/resampler_design.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pelk::fingerprint {
namespace {

// A tabulated tap below this is an artefact of the design (about 1e-18) and counts as zero.
constexpr double kZeroTap = 1e-12;

std::vector<float> Mirror(const std::vector<double>& first_part, size_t centre, size_t length) {
  // first_part holds taps 0..centre; taps past the centre mirror those before it.
  std::vector<float> taps(length, 0.0f);
  for (size_t i = 0; i <= centre; ++i) {
    const double v = std::fabs(first_part[i]) < kZeroTap ? 0.0 : first_part[i];
    taps[i] = static_cast<float>(v);
  }
  for (size_t i = centre + 1; i < length; ++i) taps[i] = taps[2 * centre - i];
  return taps;
}

int64_t PositiveMod(int64_t a, int64_t m) { return ((a % m) + m) % m; }

}  // namespace

std::optional<ResampleRatio> ApproximateRatio(double output_rate, double input_rate) {
  if (!(output_rate > 0.0) || !(input_rate > 0.0)) return std::nullopt;
  const double r = output_rate / input_rate;
  if (!std::isfinite(r)) return std::nullopt;
  if (std::fabs(r - 1.0) < 1e-6 * r) return ResampleRatio{1, 1};

  // Convergents h/k of the nearest-integer continued fraction.
  double term = std::floor(r + 0.5);
  int64_t h_prev = 1, k_prev = 0;
  int64_t h = static_cast<int64_t>(term), k = 1;
  double remainder = r - term;
  for (int iteration = 0;
       remainder != 0.0 &&
       std::fabs(static_cast<double>(h) / static_cast<double>(k) - r) >= 1e-6 * r;
       ++iteration) {
    if (iteration == 64) return std::nullopt;
    const double reciprocal = 1.0 / remainder;
    term = std::floor(reciprocal + 0.5);
    remainder = reciprocal - term;
    if (std::fabs(term) > 2.0 * kMaxRatioTerm) return std::nullopt;
    const int64_t a = static_cast<int64_t>(term);
    const int64_t h_next = a * h + h_prev;
    const int64_t k_next = a * k + k_prev;
    h_prev = h, k_prev = k;
    h = h_next, k = k_next;
    if (std::llabs(h) > kMaxRatioTerm || std::llabs(k) > kMaxRatioTerm) return std::nullopt;
  }
  if (k < 0) h = -h, k = -k;
  if (h <= 0 || k <= 0) return std::nullopt;
  return ResampleRatio{static_cast<int32_t>(h), static_cast<int32_t>(k)};
}

const std::vector<float>& QuarterBandFilter() {
  static const std::vector<float> taps = Mirror({0,
                                                 0,
                                                 0,
                                                 -3.57763e-19,
                                                 -0.00028247,
                                                 -0.000525457,
                                                 -0.000475115,
                                                 9.2667e-19,
                                                 0.000731163,
                                                 0.00125383,
                                                 0.0010624,
                                                 -1.74617e-18,
                                                 -0.00148207,
                                                 -0.00244615,
                                                 -0.00200525,
                                                 2.80178e-18,
                                                 0.00264959,
                                                 0.00427607,
                                                 0.0034363,
                                                 -4.04341e-18,
                                                 -0.004392,
                                                 -0.00699137,
                                                 -0.00555144,
                                                 5.38778e-18,
                                                 0.0069623,
                                                 0.0110059,
                                                 0.00869328,
                                                 -6.72636e-18,
                                                 -0.0108489,
                                                 -0.0171612,
                                                 -0.0135977,
                                                 7.93819e-18,
                                                 0.0172321,
                                                 0.0276298,
                                                 0.0223066,
                                                 -8.9055e-18,
                                                 -0.0300145,
                                                 -0.050439,
                                                 -0.0434668,
                                                 9.52972e-18,
                                                 0.0740885,
                                                 0.158268,
                                                 0.224765,
                                                 0.25},
                                                43, 84);
  return taps;
}

const std::vector<float>& HalfBandFilter() {
  static const std::vector<float> taps =
      Mirror({0,          -7.15527e-19, -0.00105091, 1.85334e-18,  0.00250767, -3.49234e-18,
              -0.0048923, 5.60355e-18,  0.00855213,  -8.08683e-18, -0.0139827, 1.07756e-17,
              0.0220117,  -1.34527e-17, -0.0343224,  1.58764e-17,  0.0552597,  -1.7811e-17,
              -0.100878,  1.90594e-17,  0.316537,    0.5},
             21, 42);
  return taps;
}

std::vector<float> DesignWindowedSinc(ResampleRatio ratio) {
  const int64_t l = ratio.up, m = ratio.down;
  const int64_t widest = std::max(l, m);
  const int64_t count = 20 * widest + 1;  // T
  const double gain = static_cast<double>(l) / static_cast<double>(m);
  const double half = static_cast<double>(count - 1) / 2.0;
  std::vector<float> taps(static_cast<size_t>(count));
  for (int64_t j = 0; j < count; ++j) {
    const double x =
        std::numbers::pi * (static_cast<double>(j) - half) / static_cast<double>(widest);
    const double sinc = x == 0.0 ? 1.0 : std::sin(x) / x;
    const double window = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * static_cast<double>(j) /
                                                 static_cast<double>(count - 1));
    taps[static_cast<size_t>(j)] = static_cast<float>(gain * sinc * window);
  }
  return taps;
}

ResampleFilter MakeResampleFilter(ResampleRatio ratio) {
  ResampleFilter filter;
  const int64_t l = ratio.up, m = ratio.down;
  if (l == 1 && m == 1) {
    filter.taps = {1.0f};
  } else if (l == 1 && m == 4) {
    filter.taps = QuarterBandFilter();
  } else if (l == 1 && m == 2) {
    filter.taps = HalfBandFilter();
  } else {
    const std::vector<float> designed = DesignWindowedSinc(ratio);
    const int64_t count = static_cast<int64_t>(designed.size());
    // Leading zeros line the centre tap up with the phase the polyphase sum expects.
    const int64_t lead = l < m ? m - l : PositiveMod(3 * m - ((count - 1) / 2) % m - l, m);
    const int64_t total = lead + count;
    const int64_t padded = (total + l - 1) / l * l;
    filter.taps.assign(static_cast<size_t>(padded), 0.0f);
    std::copy(designed.begin(), designed.end(), filter.taps.begin() + lead);
  }
  const int64_t a = static_cast<int64_t>(filter.taps.size());
  // Z = ceil((floor(A/2) div M) x M / L): the delay that centres output 0 on input 0.
  filter.history_zeros = static_cast<int32_t>(((a / 2) / m * m + l - 1) / l);
  return filter;
}

}  // namespace pelk::fingerprint
