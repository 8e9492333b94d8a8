// Deterministic PCM and WAV synthesis for tests: tones, seeded noise and silence at any rate,
// rendered to 8/16/24/32-bit interleaved PCM and wrapped in RIFF WAVE files, also with broken
// headers for hostile-input tests. Standard library only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pelk::testing {

// A mono signal in 16-bit units (full scale is +-32768). Renderings clamp to the sample range.
using Signal = std::vector<double>;

Signal Tone(double frequency_hz, double amplitude, int32_t sample_rate, int64_t frames,
            double phase = 0.0);
// Uniform white noise in [-amplitude, amplitude] from a fixed generator: the same seed always
// gives the same samples.
Signal Noise(uint32_t seed, double amplitude, int64_t frames);
Signal Silence(int64_t frames);
// "Music-like" material: a few tones with slowly moving amplitudes plus a little noise, so that
// band levels and their fluctuations are all non-zero.
Signal Music(uint32_t seed, int32_t sample_rate, int64_t frames);

Signal Concat(const std::vector<Signal>& parts);
// Sample-wise sum; the result has the length of the longest input.
Signal Mix(const std::vector<Signal>& parts);

// Interleaves channels of equal length (shorter ones are padded with silence).
std::vector<double> Interleave(const std::vector<Signal>& channels);

// Interleaved samples in 16-bit units to little-endian PCM: 8-bit unsigned (value / 256 + 128),
// 16-bit signed, 24-bit signed (value x 256), 32-bit signed (value x 65536), rounded to nearest.
std::vector<uint8_t> EncodePcm(const std::vector<double>& interleaved, int32_t bits);

struct PcmFormat {
  int32_t sample_rate = 44100;
  int32_t bits = 16;
  int32_t channels = 2;
};

// Ways to build a broken or unusual header. Unset overrides keep the correct value.
struct WavOptions {
  bool extensible = false;  // 40-byte WAVE_FORMAT_EXTENSIBLE "fmt " chunk
  int64_t riff_size = -1;   // RIFF size field
  int64_t fmt_size = -1;    // "fmt " size field (the chunk body written is unchanged)
  int64_t data_size = -1;   // "data" size field
  int64_t channels = -1, sample_rate = -1, block_align = -1, avg_bytes_per_sec = -1,
          bits = -1;            // header fields
  int32_t fmt_body_bytes = -1;  // bytes of the "fmt " body actually written (16, 18, 40...)
  bool omit_fmt = false;
  bool omit_data = false;
  bool data_before_fmt = false;
  std::string form = "WAVE";
  // Extra chunks ("LIST", "junk"...) written between "fmt " and "data": id and body size.
  std::vector<std::pair<std::string, uint32_t>> extra_chunks = {};
  int64_t truncate_to = -1;  // cut the file to this many bytes
};

std::vector<uint8_t> MakeWav(const PcmFormat& format, const std::vector<uint8_t>& pcm,
                             const WavOptions& options = {});

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A file in a fresh temporary directory, removed with the object.
class ScopedTempFile {
 public:
  explicit ScopedTempFile(const std::string& name);
  ScopedTempFile(const std::string& name, const std::vector<uint8_t>& bytes);
  ~ScopedTempFile();
  ScopedTempFile(const ScopedTempFile&) = delete;
  ScopedTempFile& operator=(const ScopedTempFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path dir_, path_;
};

}  // namespace pelk::testing
