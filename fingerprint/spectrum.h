// Spectral stages of a frame after the transform: the weighting of the top band and the band
// energies.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pelk::fingerprint {

// Coefficient range of one band, both ends included.
struct BandBins {
  int32_t first = 0;  // trunc(low / bin width)
  int32_t last = 0;   // trunc(high / bin width)
  friend bool operator==(const BandBins&, const BandBins&) = default;
};

// Bins of each (low, high) pair of the band list.
std::vector<BandBins> BandBinsFor(std::span<const float> band_list, float bin_width);

// Multiplies the coefficients between 2320 and 2700 Hz by a gain curve interpolated linearly
// between ten points, to compensate the decimation filter's edge. Segments outside the
// coefficients are left alone.
void ApplySpectralWeighting(std::span<float> coefficients, float bin_width);

// E[b] = sum of squared coefficients over the band's bins, R[b] = sqrt(E[b] / bin count);
// accumulated in single precision. REQUIRES: every band lies inside the coefficients.
void ComputeBandEnergies(std::span<const float> coefficients, std::span<const BandBins> bands,
                         std::span<float> energies, std::span<float> rms);

}  // namespace pelk::fingerprint
