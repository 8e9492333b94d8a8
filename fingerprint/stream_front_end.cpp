#include "fingerprint/stream_front_end.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "fingerprint/sample_converter.h"

namespace pelk::fingerprint {

ExtractStatus StreamFrontEnd::Create(const ExtractionConfig& config, int32_t channels,
                                     int32_t sample_rate, int32_t bits_per_sample,
                                     FrameConsumer* consumer,
                                     std::unique_ptr<StreamFrontEnd>* out) {
  out->reset();
  if (channels <= 0 || sample_rate <= 0 || bits_per_sample < 8 || consumer == nullptr ||
      !config.IsUsable()) {
    return kExtractBadArgument;
  }
  // Whole sample frames of up to 65535 channels of any declared width still fit 32 bits.
  const int64_t block = int64_t{channels} * bits_per_sample / 8;
  if (block <= 0 || block > (int64_t{1} << 24)) return kExtractBadArgument;
  try {
    std::unique_ptr<StreamFrontEnd> stage(new StreamFrontEnd(
        config, channels, bits_per_sample, static_cast<int32_t>(block), consumer));
    stage->resampler_ = RationalResampler::Create(sample_rate, config.sample_rate);
    if (!stage->resampler_) return kExtractOutOfMemory;
    stage->Reset();
    *out = std::move(stage);
    return kExtractOk;
  } catch (const std::bad_alloc&) {
    return kExtractOutOfMemory;
  }
}

StreamFrontEnd::StreamFrontEnd(const ExtractionConfig& config, int32_t channels,
                               int32_t bits_per_sample, int32_t block_size, FrameConsumer* consumer)
    : channels_(channels),
      bits_(bits_per_sample),
      block_size_(block_size),
      consumer_(consumer),
      gate_(std::max(config.min_signal_width, 1), config.min_signal_height,
            config.signal_clip_threshold),
      ring_(static_cast<size_t>(config.FrameSamples()),
            static_cast<size_t>(config.frame_sample_offset)),
      conversion_(kConversionFrames),
      skip_silence_(config.skip_initial_silence != 0) {}

void StreamFrontEnd::Reset() {
  resampler_->Reset();
  gate_.Reset();
  ring_.Reset();
  gate_active_ = skip_silence_;
  held_ = 0;
  skipped_ = 0;
}

ExtractStatus StreamFrontEnd::Write(const uint8_t* data, int32_t length) {
  if (data == nullptr || length <= 0 || length % block_size_ != 0) return kExtractBadArgument;
  if (consumer_->IsComplete()) return kExtractComplete;
  size_t frames_left = static_cast<size_t>(length / block_size_);
  for (;;) {
    const std::span<float> free = ring_.FreeSpace();
    float* destination = free.data() + held_;
    const size_t space = free.size() - held_;
    const size_t wanted = std::min({frames_left, kConversionFrames, resampler_->InputFor(space)});
    const size_t converted =
        wanted == 0 ? 0 : ConvertSamples(data, wanted, channels_, bits_, conversion_.data());
    if (wanted > 0 && converted == 0) break;  // a sample width that yields no audio
    size_t produced = 0;
    const size_t consumed =
        resampler_->Process(conversion_.data(), converted, destination, space, &produced);
    data += consumed * static_cast<size_t>(block_size_);
    frames_left -= consumed;
    if (consumed == 0 && produced == 0) break;

    const size_t kept = gate_active_ ? Gate(produced) : produced;
    if (ring_.Commit(kept)) {
      consumer_->ConsumeFrame(ring_.First(), ring_.Second());
      ring_.NextFrame();
      if (consumer_->IsComplete()) return kExtractComplete;
    }
  }
  return kExtractOk;
}

size_t StreamFrontEnd::Gate(size_t count) {
  // While the gate is active nothing has been kept, so the free space starts at ring index 0
  // and holds the held samples followed by the new ones.
  float* base = ring_.FreeSpace().data();
  const size_t total = held_ + count;
  const size_t width = static_cast<size_t>(gate_.width());
  const size_t half = width / 2;
  size_t trigger;  // index into the held and new samples together
  if (!gate_.primed()) {
    if (total < width) {
      held_ = total;
      return 0;
    }
    gate_.Prime(base, width);
    trigger = gate_.Scan(base, total);
  } else {
    trigger = held_ + gate_.Scan(base + held_, count);
  }
  if (trigger == total) {
    // All silence: keep the last W/2 samples, where the next frame may have to begin.
    const size_t keep = std::min(total, half);
    skipped_ += static_cast<int64_t>(total - keep);
    std::memmove(base, base + (total - keep), keep * sizeof(float));
    held_ = keep;
    return 0;
  }
  const size_t start = trigger > half ? trigger - half : 0;
  skipped_ += static_cast<int64_t>(start);
  std::memmove(base, base + start, (total - start) * sizeof(float));
  gate_active_ = false;
  held_ = 0;
  gate_.Reset();
  return total - start;
}

}  // namespace pelk::fingerprint
