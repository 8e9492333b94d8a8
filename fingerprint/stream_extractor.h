// One audio stream through the extraction engine: PCM buffers in, the FINGERPRINT document out.
// Owns the settings, the stream stage, the analyzer and the timing. Not thread-safe: one thread
// at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fingerprint/extraction_config.h"
#include "fingerprint/fingerprint_document.h"
#include "fingerprint/frame_analyzer.h"
#include "fingerprint/stream_front_end.h"

namespace pelk::fingerprint {

class StreamExtractor {
 public:
  // Sets the stream up; creation_status() tells whether it worked: kExtractBadArgument for no
  // channels, a rate of 0 or below or fewer than 8 bits, kExtractOutOfMemory when a buffer or
  // the resampler cannot be made. A failed extractor refuses every write.
  StreamExtractor(int32_t sample_rate, int32_t bits_per_sample, int32_t channels,
                  const ExtractionConfig& config = ExtractionConfig());

  ExtractStatus creation_status() const { return creation_status_; }

  // Interleaved little-endian PCM, `length` bytes of whole sample frames. kExtractOk when more
  // audio is wanted, kExtractComplete once enough is collected (at once, using nothing, when it
  // already was), kExtractBadArgument for a null buffer, no length, a partial sample frame or a
  // failed extractor (nothing of that buffer is used; the stream stays usable).
  ExtractStatus Write(const void* data, int32_t length);

  // FRAME_COUNT frames collected (or one frame when FRAME_COUNT is 0).
  bool IsDone() const;

  // The FINGERPRINT document. kExtractNotEnoughData while too few frames are collected,
  // kExtractOutOfMemory when the text cannot be built. The first success builds and caches the
  // text; later calls return the same text. `*text` stays valid while the extractor lives.
  ExtractStatus Output(std::string_view* text);

  // Values that went into the document (valid after a successful Output()).
  const FingerprintReport& report() const { return report_; }

  // The signature of the frames collected so far (empty without frames).
  std::vector<int16_t> Signature() const;
  int64_t skipped_samples() const { return front_end_ ? front_end_->skipped_samples() : 0; }

 private:
  using Clock = std::chrono::steady_clock;

  ExtractionConfig config_;
  int32_t sample_rate_, bits_per_sample_, channels_;
  std::unique_ptr<FrameAnalyzer> analyzer_;
  std::unique_ptr<StreamFrontEnd> front_end_;
  ExtractStatus creation_status_ = kExtractOk;
  Clock::time_point start_;
  Clock::duration compute_time_{};
  bool output_made_ = false;
  std::string output_;
  FingerprintReport report_;
};

}  // namespace pelk::fingerprint
