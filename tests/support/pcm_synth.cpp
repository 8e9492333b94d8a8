#include "tests/support/pcm_synth.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <numbers>
#include <stdexcept>

namespace pelk::testing {
namespace {

// A small fixed generator (xorshift32): std:: distributions are not identical across library
// versions, and the tests need the same samples everywhere.
class Xorshift {
 public:
  explicit Xorshift(uint32_t seed) : state_(seed == 0 ? 0x9E3779B9u : seed) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // Uniform in [-1, 1].
  double Uniform() { return static_cast<double>(Next()) / 2147483647.5 - 1.0; }

 private:
  uint32_t state_;
};

void Put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  Put16(out, v & 0xFFFFu);
  Put16(out, v >> 16);
}
void PutId(std::vector<uint8_t>* out, const std::string& id) {
  for (size_t i = 0; i < 4; ++i) out->push_back(i < id.size() ? static_cast<uint8_t>(id[i]) : ' ');
}
uint32_t Pick(int64_t override_value, uint32_t value) {
  return override_value >= 0 ? static_cast<uint32_t>(override_value) : value;
}

}  // namespace

Signal Tone(double frequency_hz, double amplitude, int32_t sample_rate, int64_t frames,
            double phase) {
  Signal s(static_cast<size_t>(frames));
  const double step = 2.0 * std::numbers::pi * frequency_hz / sample_rate;
  for (int64_t i = 0; i < frames; ++i)
    s[static_cast<size_t>(i)] = amplitude * std::sin(phase + step * static_cast<double>(i));
  return s;
}

Signal Noise(uint32_t seed, double amplitude, int64_t frames) {
  Xorshift rng(seed);
  Signal s(static_cast<size_t>(frames));
  for (double& x : s) x = amplitude * rng.Uniform();
  return s;
}

Signal Silence(int64_t frames) { return Signal(static_cast<size_t>(frames), 0.0); }

Signal Music(uint32_t seed, int32_t sample_rate, int64_t frames) {
  Xorshift rng(seed);
  Signal s = Noise(seed ^ 0xA5A5A5A5u, 600.0, frames);
  for (int voice = 0; voice < 6; ++voice) {
    const double frequency = 60.0 + 2400.0 * (rng.Uniform() + 1.0) / 2.0;
    const double wobble = 0.2 + 1.5 * (rng.Uniform() + 1.0) / 2.0;  // Hz of the amplitude swell
    const double amplitude = 1500.0 + 2500.0 * (rng.Uniform() + 1.0) / 2.0;
    const double step = 2.0 * std::numbers::pi * frequency / sample_rate;
    const double swell = 2.0 * std::numbers::pi * wobble / sample_rate;
    for (int64_t i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i);
      s[static_cast<size_t>(i)] +=
          amplitude * (0.6 + 0.4 * std::sin(swell * t + voice)) * std::sin(step * t);
    }
  }
  return s;
}

Signal Concat(const std::vector<Signal>& parts) {
  Signal out;
  for (const Signal& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Signal Mix(const std::vector<Signal>& parts) {
  size_t length = 0;
  for (const Signal& p : parts) length = std::max(length, p.size());
  Signal out(length, 0.0);
  for (const Signal& p : parts) {
    for (size_t i = 0; i < p.size(); ++i) out[i] += p[i];
  }
  return out;
}

std::vector<double> Interleave(const std::vector<Signal>& channels) {
  size_t length = 0;
  for (const Signal& c : channels) length = std::max(length, c.size());
  std::vector<double> out;
  out.reserve(length * channels.size());
  for (size_t i = 0; i < length; ++i) {
    for (const Signal& c : channels) out.push_back(i < c.size() ? c[i] : 0.0);
  }
  return out;
}

std::vector<uint8_t> EncodePcm(const std::vector<double>& interleaved, int32_t bits) {
  std::vector<uint8_t> out;
  out.reserve(interleaved.size() * static_cast<size_t>(bits / 8));
  for (double x : interleaved) {
    switch (bits) {
      case 8: {
        const double v = std::clamp(std::round(x / 256.0) + 128.0, 0.0, 255.0);
        out.push_back(static_cast<uint8_t>(v));
        break;
      }
      case 16: {
        const double v = std::clamp(std::round(x), -32768.0, 32767.0);
        Put16(&out, static_cast<uint32_t>(static_cast<int32_t>(v)));
        break;
      }
      case 24: {
        const double v = std::clamp(std::round(x * 256.0), -8388608.0, 8388607.0);
        const uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(v));
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
        out.push_back(static_cast<uint8_t>(u >> 16));
        break;
      }
      case 32: {
        const double v = std::clamp(std::round(x * 65536.0), -2147483648.0, 2147483647.0);
        Put32(&out, static_cast<uint32_t>(static_cast<int32_t>(v)));
        break;
      }
      default:
        throw std::invalid_argument("EncodePcm: bits must be 8, 16, 24 or 32");
    }
  }
  return out;
}

std::vector<uint8_t> MakeWav(const PcmFormat& format, const std::vector<uint8_t>& pcm,
                             const WavOptions& options) {
  const uint32_t channels = Pick(options.channels, static_cast<uint32_t>(format.channels));
  const uint32_t rate = Pick(options.sample_rate, static_cast<uint32_t>(format.sample_rate));
  const uint32_t bits = Pick(options.bits, static_cast<uint32_t>(format.bits));
  const uint32_t align =
      Pick(options.block_align, static_cast<uint32_t>(format.channels * format.bits / 8));
  const uint32_t avg = Pick(options.avg_bytes_per_sec, align * rate);

  std::vector<uint8_t> fmt;
  Put16(&fmt, options.extensible ? 0xFFFEu : 1u);
  Put16(&fmt, channels);
  Put32(&fmt, rate);
  Put32(&fmt, avg);
  Put16(&fmt, align);
  Put16(&fmt, bits);
  if (options.extensible) {
    Put16(&fmt, 22);                       // extra bytes
    Put16(&fmt, bits);                     // valid bits per sample
    Put32(&fmt, channels == 2 ? 3u : 4u);  // speaker mask
    // Sub-format: integer PCM.
    const uint8_t pcm_guid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), pcm_guid, pcm_guid + 16);
  }
  if (options.fmt_body_bytes >= 0) fmt.resize(static_cast<size_t>(options.fmt_body_bytes), 0);

  std::vector<uint8_t> body;
  auto put_chunk = [&body](const std::string& id, uint32_t size, const std::vector<uint8_t>& data) {
    PutId(&body, id);
    Put32(&body, size);
    body.insert(body.end(), data.begin(), data.end());
    if (data.size() % 2 == 1) body.push_back(0);
  };
  auto put_fmt = [&] {
    if (!options.omit_fmt)
      put_chunk("fmt ", Pick(options.fmt_size, static_cast<uint32_t>(fmt.size())), fmt);
  };
  auto put_data = [&] {
    if (!options.omit_data)
      put_chunk("data", Pick(options.data_size, static_cast<uint32_t>(pcm.size())), pcm);
  };
  if (options.data_before_fmt) put_data();
  put_fmt();
  for (const auto& [id, size] : options.extra_chunks)
    put_chunk(id, size, std::vector<uint8_t>(size, 0x55));
  if (!options.data_before_fmt) put_data();

  std::vector<uint8_t> file;
  PutId(&file, "RIFF");
  Put32(&file, Pick(options.riff_size, static_cast<uint32_t>(body.size() + 4)));
  PutId(&file, options.form);
  file.insert(file.end(), body.begin(), body.end());
  if (options.truncate_to >= 0 && static_cast<size_t>(options.truncate_to) < file.size()) {
    file.resize(static_cast<size_t>(options.truncate_to));
  }
  return file;
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("WriteFile: cannot write " + path.string());
}

ScopedTempFile::ScopedTempFile(const std::string& name) {
  static std::atomic<int> counter{0};
  dir_ = std::filesystem::temp_directory_path() /
         ("sonquix-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir_);
  path_ = dir_ / name;
}

ScopedTempFile::ScopedTempFile(const std::string& name, const std::vector<uint8_t>& bytes)
    : ScopedTempFile(name) {
  WriteFile(path_, bytes);
}

ScopedTempFile::~ScopedTempFile() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace pelk::testing
