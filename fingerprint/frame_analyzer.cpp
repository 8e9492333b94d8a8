#include "fingerprint/frame_analyzer.h"

#include <algorithm>
#include <new>

namespace pelk::fingerprint {

std::unique_ptr<FrameAnalyzer> FrameAnalyzer::Create(const ExtractionConfig& config) {
  std::unique_ptr<FrameAnalyzer> analyzer(new (std::nothrow) FrameAnalyzer(config));
  if (!analyzer) return nullptr;
  const size_t n = static_cast<size_t>(config.FrameSamples());
  analyzer->work_.assign(n, 0.0f);
  if (config.hist_eq_bin_count > 0) {
    analyzer->equalizer_ = std::make_unique<HistogramEqualizer>(config.hist_eq_bin_count);
  }
  if (config.half_dct_mode != 0) {
    analyzer->decimator_ = RationalResampler::Create(config.sample_rate, config.sample_rate / 2.0f);
    if (!analyzer->decimator_) return nullptr;
  }
  analyzer->dct_ = FastDct::Create(static_cast<size_t>(config.CoefficientCount()));
  if (!analyzer->dct_) return nullptr;
  analyzer->bands_ = BandBinsFor(config.freq_band_list, config.BinWidth());
  analyzer->frames_.reserve(static_cast<size_t>(config.frame_count));
  return analyzer;
}

FrameAnalyzer::FrameAnalyzer(const ExtractionConfig& config)
    : config_(config), to_discard_(config.frame_offset) {}

void FrameAnalyzer::Reset() {
  to_discard_ = config_.frame_offset;
  frames_.clear();
}

bool FrameAnalyzer::IsComplete() const {
  return config_.frame_count > 0 && frames_.size() >= static_cast<size_t>(config_.frame_count);
}

bool FrameAnalyzer::IsDone() const {
  return IsComplete() || (config_.frame_count == 0 && !frames_.empty());
}

std::span<const float> FrameAnalyzer::Analyze(std::span<const float> first,
                                              std::span<const float> second) {
  std::copy(first.begin(), first.end(), work_.begin());
  std::copy(second.begin(), second.end(), work_.begin() + static_cast<ptrdiff_t>(first.size()));
  if (equalizer_) equalizer_->Apply(work_);

  std::span<float> spectrum = dct_->data();
  if (decimator_) {
    // Each frame is decimated on its own: the history starts from zeros and the samples past
    // the frame's end count as zeros.
    decimator_->Reset();
    size_t made = 0;
    size_t used = 0;
    while (used < work_.size() && made < spectrum.size()) {
      size_t produced = 0;
      used += decimator_->Process(work_.data() + used, work_.size() - used, spectrum.data() + made,
                                  spectrum.size() - made, &produced);
      made += produced;
    }
    static const float zeros[64] = {};
    while (made < spectrum.size()) {
      size_t produced = 0;
      decimator_->Process(zeros, std::size(zeros), spectrum.data() + made, spectrum.size() - made,
                          &produced);
      made += produced;
    }
  } else {
    std::copy(work_.begin(), work_.end(), spectrum.begin());
  }
  dct_->Transform();
  if (decimator_) ApplySpectralWeighting(spectrum, config_.BinWidth());
  return spectrum;
}

void FrameAnalyzer::ConsumeFrame(std::span<const float> first, std::span<const float> second) {
  if (to_discard_ > 0) {
    --to_discard_;
    return;
  }
  if (IsComplete()) return;
  const std::span<const float> spectrum = Analyze(first, second);
  FrameBands record;
  record.energies.resize(bands_.size());
  record.rms.resize(bands_.size());
  ComputeBandEnergies(spectrum, bands_, record.energies, record.rms);
  frames_.push_back(std::move(record));
}

std::vector<int16_t> FrameAnalyzer::Signature() const {
  return ComputeSignature(frames_, config_.trad_scaling_factor);
}

}  // namespace pelk::fingerprint
