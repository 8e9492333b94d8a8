// The per-frame stages, each on its own, and the analyzer on known signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "fingerprint/fast_dct.h"
#include "fingerprint/frame_analyzer.h"
#include "fingerprint/frame_ring.h"
#include "fingerprint/histogram_equalizer.h"
#include "fingerprint/signature.h"
#include "fingerprint/spectrum.h"
#include "tests/support/pcm_synth.h"

namespace pelk::fingerprint {
namespace {

TEST(FrameRingTest, FramesAreConsecutiveOverlappingWindowsOfTheStream) {
  for (size_t hop : {size_t{6}, size_t{16}, size_t{5}}) {
    FrameRing ring(16, hop);
    std::vector<std::vector<float>> frames;
    float next = 0;
    // Commit in uneven steps to cross frame starts and the ring end at every position.
    for (size_t step = 1; frames.size() < 12; step = step % 7 + 1) {
      std::span<float> free = ring.FreeSpace();
      ASSERT_FALSE(free.empty());
      const size_t n = std::min(step, free.size());
      for (size_t i = 0; i < n; ++i) free[i] = next++;
      if (ring.Commit(n)) {
        std::vector<float> frame(ring.First().begin(), ring.First().end());
        frame.insert(frame.end(), ring.Second().begin(), ring.Second().end());
        frames.push_back(frame);
        ring.NextFrame();
      }
    }
    for (size_t k = 0; k < frames.size(); ++k) {
      ASSERT_EQ(frames[k].size(), 16u);
      for (size_t i = 0; i < 16; ++i) {
        ASSERT_EQ(frames[k][i], static_cast<float>(k * hop + i)) << "hop " << hop << " frame " << k;
      }
    }
  }
}

TEST(HistogramEqualizerTest, MapsSamplesToCentredRanksKeepingTheirOrder) {
  HistogramEqualizer equalizer(256);
  const testing::Signal noise = testing::Noise(3, 12000, 4096);
  std::vector<float> frame(noise.begin(), noise.end());
  const std::vector<float> original = frame;
  equalizer.Apply(frame);
  double sum = 0;
  for (float x : frame) {
    sum += x;
    EXPECT_GT(x, -0.51f);
    EXPECT_LT(x, 0.51f);
  }
  EXPECT_NEAR(sum / frame.size(), 0.0, 1e-5);
  // A louder rendering equalizes to the same values.
  std::vector<float> louder(original);
  for (float& x : louder) x *= 2.0f;
  equalizer.Apply(louder);
  for (size_t i = 0; i < frame.size(); ++i) {
    ASSERT_FLOAT_EQ(louder[i], frame[i]) << i;
    for (size_t j : {i / 2, (i + 1000) % frame.size()}) {
      if (original[i] < original[j]) {
        ASSERT_LE(frame[i], frame[j]) << i << " vs " << j;
      }
    }
  }
}

TEST(HistogramEqualizerTest, FrameWithoutRangeIsLeftAlone) {
  HistogramEqualizer equalizer(256);
  for (float value : {0.0f, 7.0f, 2e6f}) {
    std::vector<float> flat(1024, value);
    equalizer.Apply(flat);
    EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [&](float x) { return x == value; }));
  }
  // Values beyond the starting extremes still land inside the histogram.
  std::vector<float> huge = {3e6f, 5e6f, 4e6f, 3e6f};
  equalizer.Apply(huge);
  EXPECT_LT(huge[0], huge[2]);
  EXPECT_LT(huge[2], huge[1]);
}

TEST(FastDctTest, MatchesTheUnnormalisedSumWithScaledFirstCoefficient) {
  for (size_t length : {size_t{8}, size_t{64}, size_t{16384}}) {
    std::unique_ptr<FastDct> dct = FastDct::Create(length);
    ASSERT_NE(dct, nullptr);
    const testing::Signal input = testing::Noise(11, 1.0, static_cast<int64_t>(length));
    std::copy(input.begin(), input.end(), dct->data().begin());
    dct->Transform();
    const size_t step = length > 64 ? 997 : 1;
    for (size_t k = 0; k < length; k += step) {
      double x = 0;
      for (size_t n = 0; n < length; ++n) {
        x += input[n] * std::cos(std::numbers::pi * k * (2.0 * n + 1) / (2.0 * length));
      }
      if (k == 0) x /= std::sqrt(2.0);
      ASSERT_NEAR(dct->data()[k], x, 1e-4 * std::sqrt(double(length)))
          << length << ": X[" << k << "]";
    }
  }
}

TEST(SpectrumTest, DefaultBandsCoverTheTabulatedBins) {
  const ExtractionConfig config;
  const std::vector<BandBins> expected = {
      {0, 593},     {593, 1188},   {1188, 1782},   {1782, 2377},   {2377, 3031},
      {3031, 3744}, {3744, 4576},  {4576, 5468},   {5468, 6419},   {6419, 7548},
      {7548, 8797}, {8797, 10223}, {10223, 11888}, {11888, 13790}, {13790, 16049}};
  EXPECT_EQ(BandBinsFor(config.freq_band_list, config.BinWidth()), expected);
  EXPECT_FLOAT_EQ(config.BinWidth(), 11025.0f / 65536.0f);
}

TEST(SpectrumTest, WeightingRaisesOnlyTheTopBandAlongTheSoftenedCurve) {
  const float delta = ExtractionConfig().BinWidth();
  std::vector<float> x(16384, 1.0f);
  ApplySpectralWeighting(x, delta);
  const auto bin = [&](double hz) { return static_cast<size_t>(hz / delta); };
  for (size_t k = 0; k < bin(2320); ++k) ASSERT_EQ(x[k], 1.0f) << k;
  EXPECT_FLOAT_EQ(x[bin(2320)], 1.0f);
  EXPECT_NEAR(x[bin(2380)], 1.0f + 0.675f * 0.016f, 1e-6);
  EXPECT_NEAR(x[bin(2580)], 1.0f + 0.675f * 0.111f, 1e-6);
  EXPECT_NEAR(x[bin(2700) - 1], 1.0f + 0.675f * 0.943f, 2e-3);  // end of the last segment
  for (size_t k = bin(2700); k < x.size(); ++k) ASSERT_EQ(x[k], 1.0f) << k;

  // Segments that do not fit the coefficients are skipped rather than written past the end.
  std::vector<float> short_spectrum(bin(2500), 1.0f);
  ApplySpectralWeighting(short_spectrum, delta);
  EXPECT_NEAR(short_spectrum[bin(2460)], 1.0f + 0.675f * 0.086f, 1e-6);
}

FrameBands Bands(std::vector<float> e, std::vector<float> r) {
  return {std::move(e), std::move(r)};
}

TEST(SignatureTest, LevelsAndFluctuationsAreNormalisedShares) {
  const std::vector<FrameBands> frames = {Bands({4, 1, 0}, {1, 2, 3}), Bands({4, 1, 0}, {3, 2, 5}),
                                          Bands({4, 9, 0}, {2, 8, 4})};
  const std::vector<int16_t> v = ComputeSignature(frames, 32768);
  ASSERT_EQ(v.size(), 6u);
  // A = (2, sqrt(11/3), 0); S = (1, sqrt(12), 1).
  const double a_total = 2 + std::sqrt(11.0 / 3);
  EXPECT_EQ(v[0], static_cast<int16_t>(32768 * 2 / a_total));
  EXPECT_EQ(v[1], static_cast<int16_t>(32768 * std::sqrt(11.0 / 3) / a_total));
  EXPECT_EQ(v[2], 0);
  const double s_total = 2 + std::sqrt(12.0);
  EXPECT_EQ(v[3], static_cast<int16_t>(32768 / s_total));
  EXPECT_EQ(v[4], static_cast<int16_t>(32768 * std::sqrt(12.0) / s_total));
}

TEST(SignatureTest, ABandHoldingEverythingWrapsTo16Bits) {
  const std::vector<FrameBands> frames = {Bands({0, 5, 0}, {0, 1, 0}), Bands({0, 7, 0}, {0, 3, 0})};
  const std::vector<int16_t> v = ComputeSignature(frames, 32768);
  EXPECT_EQ(v, (std::vector<int16_t>{0, -32768, 0, 0, -32768, 0}));
}

TEST(SignatureTest, SingleFrameAndSilentFramesGiveZerosNotNaN) {
  const std::vector<int16_t> one = ComputeSignature({Bands({1, 3}, {1, 3})}, 32768);
  EXPECT_EQ(one[2], 0);
  EXPECT_EQ(one[3], 0);
  EXPECT_EQ(one[0] + one[1], 32767);  // 8192 + 24575: each share truncated
  const std::vector<int16_t> silent =
      ComputeSignature({Bands({0, 0}, {0, 0}), Bands({0, 0}, {0, 0})}, 32768);
  EXPECT_EQ(silent, (std::vector<int16_t>{0, 0, 0, 0}));
  EXPECT_TRUE(ComputeSignature({}, 32768).empty());
}

TEST(FrameAnalyzerTest, ToneEnergyLandsInItsBandInHalfAndFullMode) {
  // 1000 Hz lies in band 8 (920-1080 Hz); its odd harmonics after equalization lie far above.
  const testing::Signal tone = testing::Tone(1000.0, 9000.0, 11025, 32768, 0.3);
  const std::vector<float> frame(tone.begin(), tone.end());
  for (int32_t half : {1, 0}) {
    ExtractionConfig config;
    config.half_dct_mode = half;
    std::unique_ptr<FrameAnalyzer> analyzer = FrameAnalyzer::Create(config);
    ASSERT_NE(analyzer, nullptr);
    // Split anywhere: the two ranges are one frame in time order.
    analyzer->ConsumeFrame(std::span(frame).first(1000), std::span(frame).subspan(1000));
    ASSERT_EQ(analyzer->frames().size(), 1u);
    const std::vector<float>& e = analyzer->frames()[0].energies;
    const size_t loudest = std::max_element(e.begin(), e.end()) - e.begin();
    EXPECT_EQ(loudest, 8u) << "half mode " << half;
    EXPECT_GT(e[8], 100 * (e[7] + e[9])) << "half mode " << half;
  }
}

}  // namespace
}  // namespace pelk::fingerprint
