#include "fingerprint/histogram_equalizer.h"

#include <algorithm>

namespace pelk::fingerprint {

HistogramEqualizer::HistogramEqualizer(int32_t bin_count)
    : counts_(static_cast<size_t>(bin_count)), cdf_(static_cast<size_t>(bin_count)) {}

void HistogramEqualizer::Apply(std::span<float> samples) {
  if (samples.empty()) return;
  const auto [min_it, max_it] = std::minmax_element(samples.begin(), samples.end());
  if (!(*max_it > *min_it)) return;  // all samples equal: nothing to spread
  // The range starts from +-1e6, as the bins were always laid out.
  const float low = std::min(*min_it, 1e6f);
  const float high = std::max(*max_it, -1e6f);
  const size_t last_bin = counts_.size() - 1;
  const float scale = static_cast<float>(last_bin) / (high - low);
  auto bin_of = [&](float x) {
    // Rounding can only push the top sample onto the last bin, never past it; the clamp keeps
    // that true for any input.
    const float position = scale * (x - low);
    return position > 0.0f ? std::min(static_cast<size_t>(position), last_bin) : size_t{0};
  };
  std::fill(counts_.begin(), counts_.end(), 0u);
  for (float x : samples) ++counts_[bin_of(x)];

  const float n = static_cast<float>(samples.size());
  float cumulative = 0.0f, mean = 0.0f;
  for (size_t j = 0; j < counts_.size(); ++j) {
    cumulative += static_cast<float>(counts_[j]) / n;
    cdf_[j] = cumulative;
    mean += static_cast<float>(counts_[j]) * cdf_[j];
  }
  mean /= n;
  for (float& x : samples) x = cdf_[bin_of(x)] - mean;
}

}  // namespace pelk::fingerprint
