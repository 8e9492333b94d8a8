#include "fingerprint/spectrum.h"

#include <cmath>

namespace pelk::fingerprint {
namespace {

struct GainPoint {
  float frequency;
  float gain;
};

constexpr GainPoint kGainCurve[] = {
    {2320.0f, 1.0f},   {2380.0f, 1.016f}, {2420.0f, 1.04f},  {2460.0f, 1.086f}, {2500.0f, 1.135f},
    {2540.0f, 1.175f}, {2580.0f, 1.111f}, {2620.0f, 1.437f}, {2660.0f, 1.705f}, {2700.0f, 1.943f}};

// The curve is applied at two thirds of its strength.
float Soften(float gain) { return 1.0f + 0.675f * (gain - 1.0f); }

int32_t BinOf(float frequency, float bin_width) {
  return static_cast<int32_t>(static_cast<double>(frequency) / static_cast<double>(bin_width));
}

}  // namespace

std::vector<BandBins> BandBinsFor(std::span<const float> band_list, float bin_width) {
  std::vector<BandBins> bins;
  for (size_t b = 0; b + 1 < band_list.size(); b += 2) {
    bins.push_back({BinOf(band_list[b], bin_width), BinOf(band_list[b + 1], bin_width)});
  }
  return bins;
}

void ApplySpectralWeighting(std::span<float> coefficients, float bin_width) {
  const int64_t count = static_cast<int64_t>(coefficients.size());
  for (size_t k = 0; k + 1 < std::size(kGainCurve); ++k) {
    const int64_t start = BinOf(kGainCurve[k].frequency, bin_width);
    const int64_t end = BinOf(kGainCurve[k + 1].frequency, bin_width);
    if (start < 0 || end > count || end <= start) continue;
    const float from = Soften(kGainCurve[k].gain);
    const float to = Soften(kGainCurve[k + 1].gain);
    const float step = (to - from) / static_cast<float>(end - start);
    for (int64_t i = 0; i < end - start; ++i) {
      coefficients[static_cast<size_t>(start + i)] *= from + static_cast<float>(i) * step;
    }
  }
}

void ComputeBandEnergies(std::span<const float> coefficients, std::span<const BandBins> bands,
                         std::span<float> energies, std::span<float> rms) {
  for (size_t b = 0; b < bands.size(); ++b) {
    float sum = 0.0f;
    for (int32_t k = bands[b].first; k <= bands[b].last; ++k) {
      const float x = coefficients[static_cast<size_t>(k)];
      sum += x * x;
    }
    energies[b] = sum;
    rms[b] = std::sqrt(sum / static_cast<float>(bands[b].last - bands[b].first + 1));
  }
}

}  // namespace pelk::fingerprint
