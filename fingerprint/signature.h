// The signature: per band, the level averaged over the frames and how much the band varies from
// frame to frame, each set normalised to sum to one and scaled to 16-bit integers.
#pragma once

#include <cstdint>
#include <vector>

namespace pelk::fingerprint {

// Band energies E[b] and band RMS values R[b] of one analysed frame.
struct FrameBands {
  std::vector<float> energies;
  std::vector<float> rms;
};

// 2B values from F >= 1 frames of B bands each: first trunc(scale x a[b]) with
// a[b] = A[b] / sum A, A[b] = sqrt(mean of E[b]); then trunc(scale x s[b]) with s[b] = S[b] / sum
// S, S[b] the sample standard deviation of R[b]. Each value keeps the low 16 bits of its
// truncation, so a band holding everything gives 32768, stored as -32768. A set whose sum is 0
// (silent frames; a single frame has no fluctuation) gives zeros. Empty for no frames.
std::vector<int16_t> ComputeSignature(const std::vector<FrameBands>& frames, int32_t scale);

}  // namespace pelk::fingerprint
