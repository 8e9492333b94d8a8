// What the stream front end hands its completed frames to.
#pragma once

#include <span>

namespace pelk::fingerprint {

class FrameConsumer {
 public:
  virtual ~FrameConsumer() = default;
  // One frame of N samples in time order: `first` then `second`. The spans are valid only
  // during the call.
  virtual void ConsumeFrame(std::span<const float> first, std::span<const float> second) = 0;
  // True once no further frame is wanted.
  virtual bool IsComplete() const = 0;
};

}  // namespace pelk::fingerprint
