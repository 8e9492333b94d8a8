#include "fingerprint/fingerprint_document.h"

#include <cstdio>
#include <string_view>

namespace pelk::fingerprint {
namespace {

std::string Decimal(int64_t value) { return std::to_string(value); }

std::string General(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// Minimal writer for the fixed shape of this document; escaping as the engine writer does it.
class DocumentWriter {
 public:
  void Open(std::string_view name,
            std::initializer_list<std::pair<std::string_view, std::string_view>> attributes,
            bool has_children) {
    Indent();
    text_ += '<';
    text_ += name;
    for (const auto& [key, value] : attributes) {
      text_ += ' ';
      text_ += key;
      text_ += "=\"";
      Escape(value, /*attribute=*/true);
      text_ += '"';
    }
    text_ += '>';
    if (has_children) {
      text_ += '\n';
      ++depth_;
    }
  }
  void Leaf(std::string_view name, std::string_view content,
            std::initializer_list<std::pair<std::string_view, std::string_view>> attributes = {}) {
    Open(name, attributes, false);
    Escape(content, /*attribute=*/false);
    End(name);
  }
  void Close(std::string_view name) {
    --depth_;
    Indent();
    End(name);
  }
  std::string Take() { return std::move(text_); }

 private:
  void Indent() { text_.append(2 * static_cast<size_t>(depth_), ' '); }
  void End(std::string_view name) {
    text_ += "</";
    text_ += name;
    text_ += ">\n";
  }
  void Escape(std::string_view value, bool attribute) {
    for (char c : value) {
      switch (c) {
        case '&':
          text_ += "&amp;";
          break;
        case '<':
          text_ += "&lt;";
          break;
        case '"':
          text_ += attribute ? "&quot;" : "\"";
          break;
        case '\'':
          text_ += attribute ? "&apos;" : "'";
          break;
        default:
          text_ += c;
      }
    }
  }

  std::string text_;
  int depth_ = 0;
};

}  // namespace

std::string WriteFingerprintDocument(const FingerprintReport& report,
                                     const ExtractionConfig& config) {
  std::string values;
  for (size_t i = 0; i < report.signature.size(); ++i) {
    if (i > 0) values += ' ';
    values += Decimal(report.signature[i]);
  }
  std::string bands;
  for (size_t i = 0; i < config.freq_band_list.size(); ++i) {
    if (i > 0) bands += ' ';
    bands += General(config.freq_band_list[i]);
  }
  const std::string type = "SIGNED_INT_" + Decimal(8 * sizeof(int16_t));
  const std::string count = Decimal(static_cast<int64_t>(report.signature.size()));

  DocumentWriter w;
  w.Open("FINGERPRINT",
         {{"ALG", kAlgorithmName}, {"VERSION", kAlgorithmVersion}, {"BUILD", kAlgorithmBuild}},
         true);
  w.Leaf("DATA", values,
         {{"TYPE", type}, {"COUNT", count}, {"ENCODING", "ASCII"}, {"SEPARATOR", " "}});
  w.Leaf("COMP_TIME", Decimal(report.compute_ms), {{"UNITS", "ms"}});
  w.Leaf("TOTAL_TIME", Decimal(report.total_ms), {{"UNITS", "ms"}});
  w.Open("AUDIO", {}, true);
  w.Leaf("CHANNELS", Decimal(report.channels));
  w.Leaf("SAMPLE_RATE", Decimal(report.sample_rate));
  w.Leaf("SAMPLE_SIZE", Decimal(report.bits_per_sample));
  w.Leaf("OFFSET", Decimal(report.offset_ms), {{"UNITS", "ms"}});
  w.Leaf("DURATION", Decimal(report.duration_ms), {{"UNITS", "ms"}});
  w.Close("AUDIO");
  w.Open("WL_CONFIG", {{"VERSION", "1.0"}}, true);
  w.Leaf(ExtractionConfig::kSkipInitialSilenceKey, Decimal(config.skip_initial_silence));
  if (config.skip_initial_silence != 0) {
    w.Leaf(ExtractionConfig::kMinSignalWidthKey, Decimal(config.min_signal_width));
    w.Leaf(ExtractionConfig::kMinSignalHeightKey, Decimal(config.min_signal_height));
    w.Leaf(ExtractionConfig::kSignalClipThresholdKey, Decimal(config.signal_clip_threshold));
  }
  w.Leaf(ExtractionConfig::kHistEqBinCountKey, Decimal(config.hist_eq_bin_count));
  w.Leaf(ExtractionConfig::kSampleRateKey, General(config.sample_rate));
  w.Leaf(ExtractionConfig::kLog2FrameSamplesKey, Decimal(config.log2_frame_samples));
  w.Leaf(ExtractionConfig::kHalfDctModeKey, Decimal(config.half_dct_mode));
  w.Leaf(ExtractionConfig::kFreqBandListKey, bands);
  w.Leaf(ExtractionConfig::kFrameSampleOffsetKey, Decimal(config.frame_sample_offset));
  w.Leaf(ExtractionConfig::kFrameCountKey, Decimal(config.frame_count));
  w.Leaf(ExtractionConfig::kFrameOffsetKey, Decimal(config.frame_offset));
  w.Leaf(ExtractionConfig::kTradScalingFactorKey, Decimal(config.trad_scaling_factor));
  w.Close("WL_CONFIG");
  w.Close("FINGERPRINT");
  return w.Take();
}

}  // namespace pelk::fingerprint
