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
  const int32_t last_bin = static_cast<int32_t>(counts_.size()) - 1;
  const float scale = static_cast<float>(last_bin) / (high - low);
  if (bins_.size() < samples.size()) bins_.resize(samples.size());
  std::fill(counts_.begin(), counts_.end(), 0u);
  for (size_t i = 0; i < samples.size(); ++i) {
    // Rounding can only push the top sample onto the last bin, never past it; the clamp keeps
    // that true for any input.
    const float position = std::clamp(scale * (samples[i] - low), 0.0f, float(last_bin));
    const uint32_t bin = static_cast<uint32_t>(static_cast<int32_t>(position));
    bins_[i] = bin;
    ++counts_[bin];
  }

  const float n = static_cast<float>(samples.size());
  float cumulative = 0.0f, mean = 0.0f;
  for (size_t j = 0; j < counts_.size(); ++j) {
    cumulative += static_cast<float>(counts_[j]) / n;
    cdf_[j] = cumulative;
    mean += static_cast<float>(counts_[j]) * cdf_[j];
  }
  mean /= n;
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = cdf_[bins_[i]] - mean;
}

}  // namespace pelk::fingerprint
