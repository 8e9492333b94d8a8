// Settings of the extraction engine. The fingerprinter always uses the defaults; other values
// exist so that each stage can be exercised on its own.
#pragma once

#include <cstdint>
#include <vector>

namespace pelk::fingerprint {

struct ExtractionConfig {
  // Key names, echoed with the values in the output document.
  static constexpr const char* kSkipInitialSilenceKey = "SKIP_INITIAL_SILENCE";
  static constexpr const char* kMinSignalWidthKey = "MIN_SIGNAL_WIDTH";
  static constexpr const char* kMinSignalHeightKey = "MIN_SIGNAL_HEIGHT";
  static constexpr const char* kSignalClipThresholdKey = "SIGNAL_CLIP_THRESHOLD";
  static constexpr const char* kHistEqBinCountKey = "HIST_EQ_BIN_COUNT";
  static constexpr const char* kSampleRateKey = "SAMPLE_RATE";
  static constexpr const char* kLog2FrameSamplesKey = "LOG2_FRAME_SAMPLES";
  static constexpr const char* kHalfDctModeKey = "HALF_DCT_MODE";
  static constexpr const char* kFrameSampleOffsetKey = "FRAME_SAMPLE_OFFSET";
  static constexpr const char* kFreqBandListKey = "FREQ_BAND_LIST";
  static constexpr const char* kFrameCountKey = "FRAME_COUNT";
  static constexpr const char* kFrameOffsetKey = "FRAME_OFFSET";
  static constexpr const char* kTradScalingFactorKey = "TRAD_SCALING_FACTOR";

  int32_t skip_initial_silence = 1;      // flag: skip leading silence before the first frame
  int32_t min_signal_width = 128;        // silence gate window W, analysis samples
  int32_t min_signal_height = 100;       // silence gate threshold on the mean deviation
  int32_t signal_clip_threshold = 1000;  // each deviation is clipped to this
  int32_t hist_eq_bin_count = 256;       // 0 switches equalization off
  float sample_rate = 11025.0f;          // analysis rate, Hz
  int32_t log2_frame_samples = 15;       // frame length N = 2^15
  int32_t half_dct_mode = 1;             // decimate by 2 and transform N/2 samples
  int32_t frame_sample_offset = 11264;   // hop between frame starts
  std::vector<float> freq_band_list = DefaultBands();  // (low, high) pairs in Hz
  int32_t frame_count = 12;                            // frames to collect; 0 = no limit
  int32_t frame_offset = 0;                            // frames to discard first
  int32_t trad_scaling_factor = 32768;                 // scale of the output values

  static std::vector<float> DefaultBands();

  int32_t FrameSamples() const { return int32_t{1} << log2_frame_samples; }
  int32_t BandCount() const { return static_cast<int32_t>(freq_band_list.size() / 2); }
  // Bin width of the spectrum in Hz: the same in half and full mode.
  float BinWidth() const { return sample_rate / (2.0f * static_cast<float>(FrameSamples())); }
  // Number of DCT coefficients per frame.
  int32_t CoefficientCount() const {
    return half_dct_mode != 0 ? FrameSamples() / 2 : FrameSamples();
  }

  // True when every stage can run on these values without reading outside its buffers: the
  // band edges must fall inside the transform, the gate window and the hop inside the ring.
  bool IsUsable() const;
};

}  // namespace pelk::fingerprint
