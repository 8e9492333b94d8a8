// In-process time of one GetFileFingerprint on a 3-minute 44.1 kHz 16-bit stereo WAV file, with
// a new fingerprinter per call as the manager makes them: open the file, read blocks until the
// engine has its frames, build the fingerprint object. Each repetition is one call, so the
// median is the median of single calls. SONQUIX_BENCH_WAV names the file; without it one is
// synthesized into a temporary directory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "fingerprint/sonquix_fingerprinter.h"
#include "runtime/bstr.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 180;

void Put(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Tones with moving levels and a little noise, written as a canonical 44-byte-header WAV file.
std::filesystem::path SynthesizeWav() {
  std::vector<uint8_t> file;
  const uint32_t data_bytes = uint32_t{kRate} * kSeconds * 4;
  file.insert(file.end(), {'R', 'I', 'F', 'F'});
  Put(&file, 36 + data_bytes, 4);
  file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put(&file, 16, 4);
  Put(&file, 1, 2);
  Put(&file, 2, 2);
  Put(&file, kRate, 4);
  Put(&file, kRate * 4, 4);
  Put(&file, 4, 2);
  Put(&file, 16, 2);
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  Put(&file, data_bytes, 4);
  uint32_t noise = 12345;
  const double freqs[] = {110, 440, 660, 1250, 2480};
  for (int64_t i = 0; i < int64_t{kRate} * kSeconds; ++i) {
    const double t = static_cast<double>(i) / kRate;
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
    Put(&file, static_cast<uint16_t>(static_cast<int16_t>(std::lround(left + n))), 2);
    Put(&file, static_cast<uint16_t>(static_cast<int16_t>(std::lround(right - n))), 2);
  }
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("sonquix-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path path = dir / "music.wav";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return path;
}

// The file under test; a synthesized one is removed when the program ends.
struct BenchFile {
  BenchFile() {
    if (const char* given = std::getenv("SONQUIX_BENCH_WAV"); given && *given) {
      path = given;
    } else {
      path = SynthesizeWav();
      owned = true;
    }
  }
  ~BenchFile() {
    if (owned) std::filesystem::remove_all(path.parent_path());
  }
  std::filesystem::path path;
  bool owned = false;
};

const BenchFile& File() {
  static const BenchFile file;
  return file;
}

void BM_GetFileFingerprint(benchmark::State& state) {
  const pelk::Bstr name = pelk::Bstr::FromUtf8(File().path.string());
  for (auto _ : state) {
    pelk::ComPtr<pelk::IPelkSonquixFingerprinter2> fingerprinter;
    pelk::ComPtr<pelk::IPelkSonquixFingerprint> fingerprint;
    if (FAILED(pelk::CPelkSonquixFingerprinter::CreateInstance(
            nullptr, pelk::IPelkSonquixFingerprinter2::kIid, fingerprinter.OutVoid())) ||
        fingerprinter->GetFileFingerprint(name.Get(), fingerprint.Out()) != S_OK) {
      state.SkipWithError("no fingerprint");
      break;
    }
    benchmark::DoNotOptimize(fingerprint.Get());
  }
}
BENCHMARK(BM_GetFileFingerprint)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(101)
    ->ReportAggregatesOnly(true);

}  // namespace
