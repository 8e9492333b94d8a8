#include "fingerprint/frame_ring.h"

namespace pelk::fingerprint {

FrameRing::FrameRing(size_t frame_samples, size_t hop) : ring_(frame_samples, 0.0f), hop_(hop) {}

void FrameRing::Reset() {
  next_start_ = 0;
  write_ = 0;
}

std::span<float> FrameRing::FreeSpace() {
  const size_t end = write_ < next_start_ ? next_start_ : ring_.size();
  return std::span<float>(ring_).subspan(write_, end - write_);
}

bool FrameRing::Commit(size_t count) {
  if (count == 0) return false;
  write_ += count;
  bool complete = write_ == next_start_ || (next_start_ == 0 && write_ == ring_.size());
  if (write_ == ring_.size()) write_ = 0;
  return complete;
}

std::span<const float> FrameRing::First() const {
  return std::span<const float>(ring_).subspan(next_start_);
}

std::span<const float> FrameRing::Second() const {
  return std::span<const float>(ring_).first(next_start_);
}

void FrameRing::NextFrame() { next_start_ = (next_start_ + hop_) % ring_.size(); }

}  // namespace pelk::fingerprint
