#include "fingerprint/silence_gate.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pelk::fingerprint {
namespace {

// The float sample truncated toward zero; huge sums of many channels saturate.
int32_t Truncate(float x) {
  constexpr float kLimit = 2147483520.0f;  // largest float below 2^31
  return static_cast<int32_t>(std::clamp(x, -kLimit, kLimit));
}

}  // namespace

SilenceGate::SilenceGate(int32_t width, int32_t height, int32_t clip)
    : width_(width),
      height_(height),
      clip_(clip),
      samples_(static_cast<size_t>(width)),
      deviations_(static_cast<size_t>(width)) {
  Reset();
}

void SilenceGate::Reset() {
  std::fill(samples_.begin(), samples_.end(), 0);
  std::fill(deviations_.begin(), deviations_.end(), 0);
  sample_sum_ = deviation_sum_ = 0;
  index_ = 0;
  primed_ = false;
}

void SilenceGate::Prime(const float* samples, size_t count) {
  sample_sum_ = 0;
  for (size_t i = 0; i < samples_.size(); ++i) {
    samples_[i] = i < count ? Truncate(samples[i]) : 0;
    sample_sum_ += samples_[i];
  }
  std::fill(deviations_.begin(), deviations_.end(), 0);
  deviation_sum_ = 0;
  index_ = 0;
  primed_ = true;
}

size_t SilenceGate::Scan(const float* samples, size_t count) {
  if (!primed_) Prime(samples, count);
  const int64_t width = width_;
  for (size_t i = 0; i < count; ++i) {
    const int32_t x = Truncate(samples[i]);
    sample_sum_ += int64_t{x} - samples_[index_];
    samples_[index_] = x;
    // Integer division truncates toward zero, as the mean is defined.
    int64_t d = x - sample_sum_ / width;
    if (d < 0) d = -d;
    const int32_t clipped = static_cast<int32_t>(std::min<int64_t>(d, clip_));
    deviation_sum_ += int64_t{clipped} - deviations_[index_];
    deviations_[index_] = clipped;
    index_ = (index_ + 1) % samples_.size();
    if (deviation_sum_ / width > height_) return i;
  }
  return count;
}

size_t SilenceGate::LeadingSilence(const float* samples, size_t count) {
  const size_t trigger = Scan(samples, count);
  if (trigger == count) return count;
  const size_t half = static_cast<size_t>(width_ / 2);
  return trigger > half ? trigger - half : 0;
}

}  // namespace pelk::fingerprint
