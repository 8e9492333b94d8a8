// Turns each completed frame into band energies: histogram equalization, half-rate decimation
// (in half mode), the DCT, the spectral weighting (half mode) and the band sums. Keeps one small
// record per collected frame and computes the signature from them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fingerprint/extraction_config.h"
#include "fingerprint/fast_dct.h"
#include "fingerprint/frame_consumer.h"
#include "fingerprint/histogram_equalizer.h"
#include "fingerprint/rational_resampler.h"
#include "fingerprint/signature.h"
#include "fingerprint/spectrum.h"

namespace pelk::fingerprint {

class FrameAnalyzer : public FrameConsumer {
 public:
  // Null when a buffer, the transform or the decimator cannot be made.
  // REQUIRES: config.IsUsable().
  static std::unique_ptr<FrameAnalyzer> Create(const ExtractionConfig& config);

  void ConsumeFrame(std::span<const float> first, std::span<const float> second) override;
  // FRAME_COUNT > 0 and that many frames collected.
  bool IsComplete() const override;

  // FRAME_COUNT frames collected, or any frame when FRAME_COUNT is 0.
  bool IsDone() const;

  const std::vector<FrameBands>& frames() const { return frames_; }
  const std::vector<BandBins>& band_bins() const { return bands_; }

  // The 2B signature values over the collected frames (empty without frames).
  std::vector<int16_t> Signature() const;

  // Forgets the collected frames and starts discarding FRAME_OFFSET frames again.
  void Reset();

  // The spectrum of one frame of N samples, before the band sums (coefficient count values).
  // Exposed so the stages can be checked together on known signals.
  std::span<const float> Analyze(std::span<const float> first, std::span<const float> second);

 private:
  explicit FrameAnalyzer(const ExtractionConfig& config);

  ExtractionConfig config_;
  int32_t to_discard_ = 0;
  std::vector<FrameBands> frames_;
  std::vector<BandBins> bands_;
  std::vector<float> work_;                        // N samples
  std::unique_ptr<HistogramEqualizer> equalizer_;  // null when equalization is off
  std::unique_ptr<RationalResampler> decimator_;   // half mode only
  std::unique_ptr<FastDct> dct_;
};

}  // namespace pelk::fingerprint
