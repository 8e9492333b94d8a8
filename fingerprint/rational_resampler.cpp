#include "fingerprint/rational_resampler.h"

#include <algorithm>
#include <cstring>

namespace pelk::fingerprint {

std::unique_ptr<RationalResampler> RationalResampler::Create(double input_rate,
                                                             double output_rate) {
  const std::optional<ResampleRatio> ratio = ApproximateRatio(output_rate, input_rate);
  if (!ratio) return nullptr;
  return std::unique_ptr<RationalResampler>(
      new RationalResampler(*ratio, MakeResampleFilter(*ratio)));
}

RationalResampler::RationalResampler(ResampleRatio ratio, ResampleFilter filter)
    : ratio_(ratio), filter_(std::move(filter)) {
  const size_t l = static_cast<size_t>(ratio_.up);
  window_ = filter_.taps.size() / l;
  phase_taps_.assign(l * window_, 0.0f);
  phase_first_.assign(l, 0);
  phase_last_.assign(l, 0);
  for (size_t p = 0; p < l; ++p) {
    float* row = &phase_taps_[p * window_];
    for (size_t k = 0; k < window_; ++k) row[k] = filter_.taps[p + (window_ - 1 - k) * l];
    // Zero taps at either end of a phase are skipped.
    size_t first = 0, last = window_;
    while (first < last && row[first] == 0.0f) ++first;
    while (last > first && row[last - 1] == 0.0f) --last;
    phase_first_[p] = static_cast<uint32_t>(first);
    phase_last_[p] = static_cast<uint32_t>(last);
  }
  history_.resize(4 * (window_ + static_cast<size_t>(ratio_.down)) + 256);
  Reset();
}

void RationalResampler::Reset() {
  const size_t zeros = static_cast<size_t>(filter_.history_zeros);
  if (history_.size() < zeros + window_) history_.resize(zeros + 2 * window_ + 256);
  std::fill(history_.begin(), history_.begin() + static_cast<ptrdiff_t>(zeros), 0.0f);
  read_ = 0;
  end_ = zeros;
  phase_ = 0;
}

size_t RationalResampler::InputFor(size_t outputs) const {
  const size_t l = static_cast<size_t>(ratio_.up), m = static_cast<size_t>(ratio_.down);
  return (outputs * m + l - 1) / l;
}

float RationalResampler::NextOutput() {
  const int64_t l = ratio_.up, m = ratio_.down;
  const size_t p = static_cast<size_t>((phase_ + m) % l);
  const float* taps = &phase_taps_[p * window_];
  const float* s = &history_[read_];
  // Four partial sums keep the loop short; the order is fixed, so results are reproducible.
  float acc[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  size_t k = phase_first_[p];
  const size_t last = phase_last_[p];
  for (; k + 4 <= last; k += 4) {
    acc[0] += taps[k] * s[k];
    acc[1] += taps[k + 1] * s[k + 1];
    acc[2] += taps[k + 2] * s[k + 2];
    acc[3] += taps[k + 3] * s[k + 3];
  }
  for (; k < last; ++k) acc[0] += taps[k] * s[k];
  const int64_t step = phase_ + m;
  read_ += static_cast<size_t>(step / l);
  phase_ = step % l;
  return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

void RationalResampler::Append(const float* in, size_t count) {
  if (end_ + count > history_.size()) {
    // Keep only the samples later outputs still need. The filter is longer than M (A > 20 M),
    // so the next output never starts past the newest sample held.
    std::memmove(history_.data(), history_.data() + read_, (end_ - read_) * sizeof(float));
    end_ -= read_;
    read_ = 0;
  }
  std::memcpy(history_.data() + end_, in, count * sizeof(float));
  end_ += count;
}

size_t RationalResampler::Process(const float* in, size_t count, float* out, size_t capacity,
                                  size_t* produced) {
  size_t consumed = 0, made = 0;
  for (;;) {
    while (made < capacity && Ready()) out[made++] = NextOutput();
    if (made == capacity || consumed == count) break;
    // Take just what completes the next output, so no more is held than one window.
    const size_t take = std::min(window_ - (end_ - read_), count - consumed);
    Append(in + consumed, take);
    consumed += take;
  }
  *produced = made;
  return consumed;
}

}  // namespace pelk::fingerprint
