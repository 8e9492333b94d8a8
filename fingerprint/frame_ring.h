// The frame ring: exactly one frame of N samples. Samples are written at the write index; a
// frame is complete when the write index reaches the start of the next frame, and is then read
// in time order as two ranges (next start to ring end, ring start to next start) without
// copying. Frame starts advance by the hop, so consecutive frames overlap by N - hop.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace pelk::fingerprint {

class FrameRing {
 public:
  // REQUIRES: 0 < hop <= frame_samples.
  FrameRing(size_t frame_samples, size_t hop);

  void Reset();

  // Where the next samples go: from the write index to the next frame start, or to the ring end
  // when the write index is at or past the next frame start. Never empty.
  std::span<float> FreeSpace();

  // Records `count` samples written at the start of FreeSpace() (count <= its size). Returns
  // true when that completes a frame; the caller then reads it and calls NextFrame().
  bool Commit(size_t count);

  // The completed frame in time order: First() then Second().
  std::span<const float> First() const;
  std::span<const float> Second() const;

  // Moves the next frame start on by the hop.
  void NextFrame();

  size_t frame_samples() const { return ring_.size(); }
  size_t hop() const { return hop_; }

 private:
  std::vector<float> ring_;
  size_t hop_;
  size_t next_start_ = 0;
  size_t write_ = 0;
};

}  // namespace pelk::fingerprint
