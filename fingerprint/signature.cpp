#include "fingerprint/signature.h"

#include <cmath>

namespace pelk::fingerprint {
namespace {

void AppendNormalised(const std::vector<double>& values, int32_t scale, std::vector<int16_t>* out) {
  double total = 0.0;
  for (double v : values) total += v;
  for (double v : values) {
    const double share = total > 0.0 ? v / total : 0.0;
    const int64_t truncated = static_cast<int64_t>(static_cast<double>(scale) * share);
    out->push_back(static_cast<int16_t>(static_cast<uint16_t>(truncated & 0xFFFF)));
  }
}

}  // namespace

std::vector<int16_t> ComputeSignature(const std::vector<FrameBands>& frames, int32_t scale) {
  std::vector<int16_t> out;
  if (frames.empty()) return out;
  const size_t bands = frames.front().energies.size();
  const double f = static_cast<double>(frames.size());
  std::vector<double> level(bands), fluctuation(bands);
  for (size_t b = 0; b < bands; ++b) {
    double energy = 0.0, rms_sum = 0.0;
    for (const FrameBands& frame : frames) {
      energy += frame.energies[b];
      rms_sum += frame.rms[b];
    }
    level[b] = std::sqrt(energy / f);
    const double mean_rms = rms_sum / f;
    double spread = 0.0;
    for (const FrameBands& frame : frames) {
      const double d = frame.rms[b] - mean_rms;
      spread += d * d;
    }
    fluctuation[b] = frames.size() > 1 ? std::sqrt(spread / (f - 1.0)) : 0.0;
  }
  out.reserve(2 * bands);
  AppendNormalised(level, scale, &out);
  AppendNormalised(fluctuation, scale, &out);
  return out;
}

}  // namespace pelk::fingerprint
