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

namespace {

// Four floats processed together; GCC and Clang map this onto the machine's vector registers.
typedef float Vec4 __attribute__((vector_size(16)));

Vec4 Load(const float* p) {
  Vec4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Slack past the newest sample: the last vector of a window may read up to three samples
// beyond it (against zero taps).
constexpr size_t kSlack = 4;
// Input samples taken into the history per step.
constexpr size_t kBatch = 4096;

}  // namespace

RationalResampler::RationalResampler(ResampleRatio ratio, ResampleFilter filter)
    : ratio_(ratio), filter_(std::move(filter)) {
  const size_t l = static_cast<size_t>(ratio_.up);
  step_whole_ = ratio_.down / ratio_.up;
  step_part_ = ratio_.down % ratio_.up;
  window_ = filter_.taps.size() / l;
  stride_ = (window_ + 3) / 4 * 4;
  phase_taps_.assign(l * stride_, 0.0f);
  phase_first_.assign(l, 0);
  phase_last_.assign(l, 0);
  for (size_t p = 0; p < l; ++p) {
    float* row = &phase_taps_[p * stride_];
    for (size_t k = 0; k < window_; ++k) row[k] = filter_.taps[p + (window_ - 1 - k) * l];
    // Vectors of zero taps at either end of a phase are skipped.
    size_t first = 0, last = window_;
    while (first < last && row[first] == 0.0f) ++first;
    while (last > first && row[last - 1] == 0.0f) --last;
    phase_first_[p] = static_cast<uint32_t>(first / 4 * 4);
    phase_last_[p] = static_cast<uint32_t>((last + 3) / 4 * 4);
  }
  history_.assign(static_cast<size_t>(filter_.history_zeros) + stride_ + kBatch + kSlack, 0.0f);
  if (l == 1) {
    for (size_t k = 0; k < window_; ++k) {
      if (phase_taps_[k] != 0.0f)
        decimation_taps_.emplace_back(static_cast<uint32_t>(k), phase_taps_[k]);
    }
    lanes_.resize(history_.size() + static_cast<size_t>(ratio_.down) * (kLanes + 1));
  }
  Reset();
}

void RationalResampler::Reset() {
  const size_t zeros = static_cast<size_t>(filter_.history_zeros);
  std::fill(history_.begin(), history_.end(), 0.0f);
  read_ = 0;
  end_ = zeros;
  phase_ = 0;
}

size_t RationalResampler::InputFor(size_t outputs) const {
  const size_t l = static_cast<size_t>(ratio_.up), m = static_cast<size_t>(ratio_.down);
  return (outputs * m + l - 1) / l;
}

float RationalResampler::NextOutput() {
  if (!decimation_taps_.empty()) {
    const float* s = &history_[read_];
    float sum = 0.0f;
    for (const auto& [k, tap] : decimation_taps_) sum += tap * s[k];
    read_ += static_cast<size_t>(ratio_.down);
    return sum;
  }
  const int64_t l = ratio_.up;
  // (m + 1) M mod L, from m M mod L.
  int64_t next_phase = phase_ + step_part_;
  if (next_phase >= l) next_phase -= l;
  const size_t p = static_cast<size_t>(next_phase);
  const float* taps = &phase_taps_[p * stride_];
  const float* s = &history_[read_];
  // Fixed order of the partial sums, so results are reproducible.
  Vec4 a = {0, 0, 0, 0}, b = a, c = a, d = a;
  size_t k = phase_first_[p];
  const size_t last = phase_last_[p];
  for (; k + 16 <= last; k += 16) {
    a += Load(taps + k) * Load(s + k);
    b += Load(taps + k + 4) * Load(s + k + 4);
    c += Load(taps + k + 8) * Load(s + k + 8);
    d += Load(taps + k + 12) * Load(s + k + 12);
  }
  for (; k < last; k += 4) a += Load(taps + k) * Load(s + k);
  const Vec4 sum = (a + b) + (c + d);
  // floor((m + 1) M / L) - floor(m M / L) = M div L, plus one when the remainders wrap.
  read_ += static_cast<size_t>(step_whole_ + (next_phase < phase_ + step_part_ ? 1 : 0));
  phase_ = next_phase;
  return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

void RationalResampler::DecimateBlock(float* out, size_t count) {
  // Output m + j, tap k reads s[j M + k] = lane (k mod M) at (j + k div M): with the window
  // split into its M phases, the kLanes outputs of a group read one contiguous run per tap.
  const size_t m = static_cast<size_t>(ratio_.down);
  const size_t span = count + (window_ + m - 1) / m + 1;  // entries needed per phase
  const float* s = &history_[read_];
  const size_t available = end_ - read_;
  for (size_t r = 0; r < m; ++r) {
    float* lane = &lanes_[r * span];
    for (size_t t = 0; t < span; ++t) {
      const size_t at = t * m + r;
      lane[t] = at < available ? s[at] : 0.0f;
    }
  }
  lane_offsets_.resize(decimation_taps_.size());
  for (size_t i = 0; i < decimation_taps_.size(); ++i) {
    const size_t k = decimation_taps_[i].first;
    lane_offsets_[i] = (k % m) * span + k / m;
  }
  for (size_t group = 0; group < count; group += kLanes) {
    Vec4 a = {0, 0, 0, 0}, b = a, c = a, d = a;
    const float* base = &lanes_[group];
    for (size_t i = 0; i < decimation_taps_.size(); ++i) {
      const float* x = base + lane_offsets_[i];
      const float tap = decimation_taps_[i].second;
      const Vec4 g = {tap, tap, tap, tap};
      a += g * Load(x);
      b += g * Load(x + 4);
      c += g * Load(x + 8);
      d += g * Load(x + 12);
    }
    std::memcpy(out + group, &a, sizeof a);
    std::memcpy(out + group + 4, &b, sizeof b);
    std::memcpy(out + group + 8, &c, sizeof c);
    std::memcpy(out + group + 12, &d, sizeof d);
  }
  read_ += count * m;
}

void RationalResampler::Append(const float* in, size_t count) {
  std::memcpy(history_.data() + end_, in, count * sizeof(float));
  end_ += count;
}

size_t RationalResampler::Process(const float* in, size_t count, float* out, size_t capacity,
                                  size_t* produced) {
  const uint64_t l = static_cast<uint64_t>(ratio_.up), m = static_cast<uint64_t>(ratio_.down);
  size_t consumed = 0, made = 0;
  for (;;) {
    if (!decimation_taps_.empty() && Ready()) {
      const size_t ready = (end_ - read_ - window_) / static_cast<size_t>(ratio_.down) + 1;
      const size_t block = std::min(ready, capacity - made) / kLanes * kLanes;
      if (block > 0) DecimateBlock(out + made, block);
      made += block;
    }
    while (made < capacity && Ready()) out[made++] = NextOutput();
    if (made == capacity || consumed == count) break;
    if (history_.size() - kSlack - end_ < kBatch) {
      // Keep only what later outputs still need. The filter is longer than M (A > 20 M), so
      // the next output never starts past the newest sample held.
      std::memmove(history_.data(), history_.data() + read_, (end_ - read_) * sizeof(float));
      end_ -= read_;
      read_ = 0;
    }
    // Take no more input than the outputs that still fit need: the last of them starts at
    // read_ + (phase + (outputs - 1) M) / L and spans P samples. (A batch never fills more
    // than kBatch outputs, which keeps the product far from overflow.)
    const uint64_t outputs = std::min<uint64_t>(capacity - made, kBatch);
    const uint64_t last_start = (static_cast<uint64_t>(phase_) + (outputs - 1) * m) / l;
    const uint64_t needed = read_ + last_start + window_ - end_;
    const uint64_t room = history_.size() - kSlack - end_;
    const uint64_t wanted = std::min<uint64_t>({count - consumed, needed, room});
    Append(in + consumed, static_cast<size_t>(wanted));
    consumed += static_cast<size_t>(wanted);
  }
  *produced = made;
  return consumed;
}

}  // namespace pelk::fingerprint
