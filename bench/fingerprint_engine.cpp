// In-process cost of one fingerprint of a 3-minute 44.1 kHz 16-bit stereo signal held in memory.
// The engine stops reading once it has its twelve frames (about 14.2 s of audio), so the cost
// does not depend on the length of the track; the per-stage figures show where the time goes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

#include "fingerprint/frame_analyzer.h"
#include "fingerprint/rational_resampler.h"
#include "fingerprint/stream_extractor.h"
#include "fingerprint/wav_source.h"

namespace {

using namespace pelk::fingerprint;

constexpr int kRate = 44100;
constexpr int kSeconds = 180;

// Tones with moving levels and a little noise, interleaved stereo, 16-bit little-endian.
const std::vector<uint8_t>& Pcm() {
  static const std::vector<uint8_t> pcm = [] {
    std::vector<uint8_t> bytes;
    bytes.reserve(size_t{kRate} * kSeconds * 4);
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
      for (double s : {left + n, right - n}) {
        const int16_t v = static_cast<int16_t>(std::lround(std::fmax(-32768, std::fmin(32767, s))));
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
      }
    }
    return bytes;
  }();
  return pcm;
}

const std::vector<uint8_t>& Wav() {
  static const std::vector<uint8_t> wav = [] {
    const std::vector<uint8_t>& pcm = Pcm();
    std::vector<uint8_t> file(44);
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i));
    };
    auto put16 = [&](size_t at, uint16_t v) {
      file[at] = uint8_t(v), file[at + 1] = uint8_t(v >> 8);
    };
    std::memcpy(&file[0], "RIFF", 4);
    put32(4, static_cast<uint32_t>(36 + pcm.size()));
    std::memcpy(&file[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, kRate);
    put32(28, kRate * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(&file[36], "data", 4);
    put32(40, static_cast<uint32_t>(pcm.size()));
    file.resize(44 + pcm.size());
    std::memcpy(file.data() + 44, pcm.data(), pcm.size());
    return file;
  }();
  return wav;
}

// The stream interface: 4096-byte writes until complete, then the document.
void BM_FingerprintPcmStream(benchmark::State& state) {
  const std::vector<uint8_t>& pcm = Pcm();
  size_t consumed = 0;
  for (auto _ : state) {
    StreamExtractor extractor(kRate, 16, 2);
    consumed = 0;
    for (size_t at = 0; at < pcm.size(); at += 4096) {
      const ExtractStatus status = extractor.Write(pcm.data() + at, 4096);
      consumed = at + 4096;
      if (status != kExtractOk) break;
    }
    std::string_view text;
    if (extractor.Output(&text) != kExtractOk) state.SkipWithError("no fingerprint");
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["audio_read_s"] = static_cast<double>(consumed) / (kRate * 4);
}
BENCHMARK(BM_FingerprintPcmStream)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

// The file path: a WAV source over the file bytes in memory, blocks pushed into the stream.
void BM_FingerprintWavSource(benchmark::State& state) {
  std::vector<uint8_t> wav = Wav();
  for (auto _ : state) {
    WavSource source(fmemopen(wav.data(), wav.size(), "rb"));
    source.Rewind();
    StreamExtractor extractor(source.GetSampleRate(), source.GetBitsPerSample(),
                              source.GetChannels());
    for (;;) {
      const uint8_t* block = nullptr;
      int32_t length = 0;
      source.Read(&block, &length);
      if (length == 0 || extractor.Write(block, length) != kExtractOk) break;
    }
    std::string_view text;
    if (extractor.Output(&text) != kExtractOk) state.SkipWithError("no fingerprint");
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_FingerprintWavSource)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

// Stage: conversion is inside the stream; this is the 4:1 decimation of the 626728 input
// samples one fingerprint needs.
void BM_StageDecimate44100(benchmark::State& state) {
  std::vector<float> in(626728);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>((i * 7919) % 20000) - 10000.0f;
  std::vector<float> out(in.size() / 4 + 1);
  auto resampler = RationalResampler::Create(kRate, 11025);
  for (auto _ : state) {
    resampler->Reset();
    size_t produced = 0;
    resampler->Process(in.data(), in.size(), out.data(), out.size(), &produced);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_StageDecimate44100)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

// Stage: one frame through equalization, decimation, DCT, weighting and band sums (x12 per
// fingerprint).
void BM_StageAnalyzeFrame(benchmark::State& state) {
  ExtractionConfig config;
  config.frame_count = 0;
  auto analyzer = FrameAnalyzer::Create(config);
  std::vector<float> frame(32768);
  for (size_t i = 0; i < frame.size(); ++i)
    frame[i] = static_cast<float>(std::sin(i * 0.37) * 9000 + (i * 31) % 700);
  for (auto _ : state) {
    benchmark::DoNotOptimize(analyzer->Analyze(frame, {}).data());
  }
}
BENCHMARK(BM_StageAnalyzeFrame)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

}  // namespace
