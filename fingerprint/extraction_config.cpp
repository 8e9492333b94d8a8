#include "fingerprint/extraction_config.h"

#include <cmath>

namespace pelk::fingerprint {

std::vector<float> ExtractionConfig::DefaultBands() {
  return {0.0f,    99.8f,   99.8f,   200.0f,  200.0f,  299.8f,  299.8f,  400.0f,  400.0f,  510.0f,
          510.0f,  630.0f,  630.0f,  769.9f,  769.9f,  920.0f,  920.0f,  1080.0f, 1080.0f, 1269.8f,
          1269.8f, 1480.0f, 1480.0f, 1719.8f, 1719.8f, 2000.0f, 2000.0f, 2320.0f, 2320.0f, 2700.0f};
}

bool ExtractionConfig::IsUsable() const {
  if (log2_frame_samples < 2 || log2_frame_samples > 24) return false;
  const int32_t n = FrameSamples();
  if (!(sample_rate > 0.0f) || !std::isfinite(sample_rate)) return false;
  if (skip_initial_silence != 0 && (min_signal_width < 1 || min_signal_width > n / 2)) {
    return false;
  }
  if (hist_eq_bin_count < 0 || hist_eq_bin_count > (1 << 20)) return false;
  if (frame_sample_offset < 1 || frame_sample_offset > n) return false;
  if (frame_count < 0 || frame_offset < 0) return false;
  if (freq_band_list.empty() || freq_band_list.size() % 2 != 0) return false;
  const double delta = BinWidth();
  const int32_t coefficients = CoefficientCount();
  for (size_t b = 0; b + 1 < freq_band_list.size(); b += 2) {
    const double lo = freq_band_list[b] / delta;
    const double hi = freq_band_list[b + 1] / delta;
    if (!(lo >= 0.0) || !(hi >= lo) || !(hi < coefficients)) return false;
  }
  return true;
}

}  // namespace pelk::fingerprint
