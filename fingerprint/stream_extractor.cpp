#include "fingerprint/stream_extractor.h"

#include <algorithm>
#include <limits>
#include <new>

namespace pelk::fingerprint {
namespace {

// Adds the time of one engine call to the computing time when it goes out of scope.
class CallTimer {
 public:
  explicit CallTimer(std::chrono::steady_clock::duration* total)
      : total_(total), begin_(std::chrono::steady_clock::now()) {}
  ~CallTimer() { *total_ += std::chrono::steady_clock::now() - begin_; }

 private:
  std::chrono::steady_clock::duration* total_;
  std::chrono::steady_clock::time_point begin_;
};

int32_t Milliseconds(std::chrono::steady_clock::duration d) {
  const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, std::numeric_limits<int32_t>::max()));
}

int32_t SamplesToMs(double samples, float sample_rate) {
  const double ms = samples * 1000.0 / static_cast<double>(sample_rate);
  return static_cast<int32_t>(std::clamp(ms, 0.0, 2147483647.0));
}

}  // namespace

StreamExtractor::StreamExtractor(int32_t sample_rate, int32_t bits_per_sample, int32_t channels,
                                 const ExtractionConfig& config)
    : config_(config),
      sample_rate_(sample_rate),
      bits_per_sample_(bits_per_sample),
      channels_(channels),
      start_(Clock::now()) {
  CallTimer timer(&compute_time_);
  if (channels <= 0 || sample_rate <= 0 || bits_per_sample < 8 || !config_.IsUsable()) {
    creation_status_ = kExtractBadArgument;
    return;
  }
  try {
    analyzer_ = FrameAnalyzer::Create(config_);
  } catch (const std::bad_alloc&) {
    analyzer_.reset();
  }
  if (!analyzer_) {
    creation_status_ = kExtractOutOfMemory;
    return;
  }
  creation_status_ = StreamFrontEnd::Create(config_, channels, sample_rate, bits_per_sample,
                                            analyzer_.get(), &front_end_);
}

ExtractStatus StreamExtractor::Write(const void* data, int32_t length) {
  CallTimer timer(&compute_time_);
  if (!front_end_) return kExtractBadArgument;
  try {
    return front_end_->Write(static_cast<const uint8_t*>(data), length);
  } catch (const std::bad_alloc&) {
    return kExtractOutOfMemory;
  }
}

bool StreamExtractor::IsDone() const { return analyzer_ && analyzer_->IsDone(); }

std::vector<int16_t> StreamExtractor::Signature() const {
  return analyzer_ ? analyzer_->Signature() : std::vector<int16_t>();
}

ExtractStatus StreamExtractor::Output(std::string_view* text) {
  if (output_made_) {
    *text = output_;
    return kExtractOk;
  }
  const Clock::time_point begin = Clock::now();
  if (!IsDone()) return kExtractNotEnoughData;
  try {
    FingerprintReport report;
    report.signature = analyzer_->Signature();
    if (report.signature.empty()) return kExtractNotEnoughData;
    const size_t frames = analyzer_->frames().size();
    report.channels = channels_;
    report.sample_rate = sample_rate_;
    report.bits_per_sample = bits_per_sample_;
    report.offset_ms =
        SamplesToMs(static_cast<double>(front_end_->skipped_samples()), config_.sample_rate);
    report.duration_ms =
        frames == 0 ? 0
                    : SamplesToMs(static_cast<double>(frames - 1) * config_.frame_sample_offset +
                                      config_.FrameSamples(),
                                  config_.sample_rate);
    const Clock::time_point now = Clock::now();
    compute_time_ += now - begin;
    report.compute_ms = Milliseconds(compute_time_);
    report.total_ms = Milliseconds(now - start_);
    output_ = WriteFingerprintDocument(report, config_);
    report_ = std::move(report);
  } catch (const std::bad_alloc&) {
    return kExtractOutOfMemory;
  }
  output_made_ = true;
  *text = output_;
  return kExtractOk;
}

}  // namespace pelk::fingerprint
