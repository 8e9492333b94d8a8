// The test signal the fingerprint benchmarks share: tones with moving levels and a little noise,
// interleaved 16-bit stereo, and the same samples as a canonical 44-byte-header WAV file.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace pelk::bench {

inline std::vector<uint8_t> MusicPcm(int rate, int seconds) {
  std::vector<uint8_t> bytes;
  bytes.reserve(size_t(rate) * seconds * 4);
  uint32_t noise = 12345;
  const double freqs[] = {110, 440, 660, 1250, 2480};
  for (int64_t i = 0; i < int64_t{rate} * seconds; ++i) {
    const double t = static_cast<double>(i) / rate;
    double left = 0, right = 0;
    for (int k = 0; k < 5; ++k) {
      const double level =
          2500 * (0.6 + 0.4 * std::sin(2 * std::numbers::pi * (0.3 + 0.2 * k) * t));
      const double v = level * std::sin(2 * std::numbers::pi * freqs[k] * t);
      left += v;
      right += (k % 2 == 0 ? v : 0.5 * v);
    }
    noise = noise * 1664525u + 1013904223u;
    const double n = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 800;
    for (double s : {left + n, right - n}) {
      const auto v = static_cast<int16_t>(std::lround(std::fmax(-32768, std::fmin(32767, s))));
      bytes.push_back(static_cast<uint8_t>(v));
      bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
  }
  return bytes;
}

// A 16-bit stereo WAV file holding pcm.
inline std::vector<uint8_t> StereoWav(const std::vector<uint8_t>& pcm, int rate) {
  std::vector<uint8_t> file;
  file.reserve(44 + pcm.size());
  auto tag = [&](const char* text) {
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(text[i]));
  };
  auto put = [&](uint32_t value, int count) {
    for (int i = 0; i < count; ++i) file.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  const auto data_bytes = static_cast<uint32_t>(pcm.size());
  tag("RIFF");
  put(36 + data_bytes, 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);
  put(2, 2);
  put(static_cast<uint32_t>(rate), 4);
  put(static_cast<uint32_t>(rate) * 4, 4);
  put(4, 2);
  put(16, 2);
  tag("data");
  put(data_bytes, 4);
  for (uint8_t b : pcm) file.push_back(b);
  return file;
}

}  // namespace pelk::bench
