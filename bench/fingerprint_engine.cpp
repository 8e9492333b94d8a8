// In-process cost of one fingerprint of a 3-minute 44.1 kHz 16-bit stereo signal held in memory.
// The engine stops reading once it has its twelve frames (about 14.2 s of audio), so the cost
// does not depend on the length of the track; the per-stage figures show where the time goes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

#include "bench/bench_signal.h"
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
  static const std::vector<uint8_t> pcm = pelk::bench::MusicPcm(kRate, kSeconds);
  return pcm;
}

const std::vector<uint8_t>& Wav() {
  static const std::vector<uint8_t> wav = pelk::bench::StereoWav(Pcm(), kRate);
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
