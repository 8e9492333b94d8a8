// The stream stage: PCM bytes in, frames out. Sample conversion (channels added), resampling to
// the analysis rate, the silence gate that skips leading silence, and the frame ring that hands
// every completed frame to the consumer. Memory is the ring, the conversion buffer and the
// resampler's filter and window, whatever the length of the stream.
//
// The silence gate sees the stream, not the writes: it starts once W samples have arrived,
// priming its window with the stream's first W samples, and up to W/2 samples of the silence
// already seen are held back in the ring. The first frame therefore begins W/2 samples before
// the sample at which the signal starts (or at the stream's first sample), whatever the sizes
// of the writes that carried it, and the same audio gives the same frames however it is split.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fingerprint/extraction_config.h"
#include "fingerprint/frame_consumer.h"
#include "fingerprint/frame_ring.h"
#include "fingerprint/rational_resampler.h"
#include "fingerprint/silence_gate.h"

namespace pelk::fingerprint {

// Status codes of the extraction engine.
enum ExtractStatus : int32_t {
  kExtractOk = 0,             // success, or more data wanted
  kExtractComplete = 1,       // enough audio collected
  kExtractNotEnoughData = 2,  // too little audio for an output
  kExtractBadArgument = 3,    // bad argument or unsupported audio
  kExtractOutOfMemory = 4,
};

class StreamFrontEnd {
 public:
  // Builds the stage for interleaved PCM of `channels` x `bits_per_sample` at `sample_rate`.
  // Returns kExtractBadArgument for no channels, a rate of 0 or below, fewer than 8 bits or
  // settings that are not usable; kExtractOutOfMemory when a buffer or the resampler cannot be
  // made. `consumer` must outlive the stage.
  static ExtractStatus Create(const ExtractionConfig& config, int32_t channels, int32_t sample_rate,
                              int32_t bits_per_sample, FrameConsumer* consumer,
                              std::unique_ptr<StreamFrontEnd>* out);

  // Consumes `length` bytes of whole sample frames. Returns kExtractBadArgument (nothing used)
  // for a null buffer, a length of 0 or below, or a partial sample frame; kExtractComplete as
  // soon as the consumer is complete (the rest of the buffer is not used); kExtractOk otherwise.
  ExtractStatus Write(const uint8_t* data, int32_t length);

  // Clears the resampler, the gate, the ring and the skipped count.
  void Reset();

  // Analysis-rate samples skipped as leading silence.
  int64_t skipped_samples() const { return skipped_; }
  int32_t block_size() const { return block_size_; }
  const RationalResampler& resampler() const { return *resampler_; }

 private:
  StreamFrontEnd(const ExtractionConfig& config, int32_t channels, int32_t bits_per_sample,
                 int32_t block_size, FrameConsumer* consumer);

  // Runs `count` new samples, written after the held ones at the ring's free space, through
  // the gate. Returns how many samples at the start of the free space are now kept for frames.
  size_t Gate(size_t count);

  int32_t channels_, bits_, block_size_;
  FrameConsumer* consumer_;
  std::unique_ptr<RationalResampler> resampler_;
  SilenceGate gate_;
  FrameRing ring_;
  std::vector<float> conversion_;  // kConversionFrames floats
  bool skip_silence_;
  bool gate_active_ = false;
  size_t held_ = 0;  // samples held at the free space while the gate is active
  int64_t skipped_ = 0;
};

}  // namespace pelk::fingerprint
