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

#include "bench/bench_signal.h"
#include "fingerprint/sonquix_fingerprinter.h"
#include "runtime/bstr.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 180;

// Tones with moving levels and a little noise, written as a canonical 44-byte-header WAV file.
std::filesystem::path SynthesizeWav() {
  const std::vector<uint8_t> file =
      pelk::bench::StereoWav(pelk::bench::MusicPcm(kRate, kSeconds), kRate);
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
