#include "fingerprint/rational_resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/support/pcm_synth.h"

namespace pelk::fingerprint {
namespace {

TEST(ResampleRatioTest, ContinuedFractionGivesTheExpectedFractions) {
  const struct {
    int32_t rate;
    ResampleRatio ratio;
  } cases[] = {{44100, {1, 4}},     {22050, {1, 2}},      {11025, {1, 1}},     {88200, {1, 8}},
               {48000, {147, 640}}, {32000, {441, 1280}}, {16000, {441, 640}}, {8000, {441, 320}},
               {24000, {147, 320}}, {12000, {147, 160}},  {96000, {147, 1280}}};
  for (const auto& c : cases) {
    const std::optional<ResampleRatio> ratio = ApproximateRatio(11025.0, c.rate);
    ASSERT_TRUE(ratio.has_value()) << c.rate;
    EXPECT_EQ(ratio->up, c.ratio.up) << c.rate;
    EXPECT_EQ(ratio->down, c.ratio.down) << c.rate;
  }
  EXPECT_FALSE(ApproximateRatio(11025.0, 0).has_value());
  EXPECT_FALSE(ApproximateRatio(11025.0, -8000).has_value());
  // 11025 / (2^31 - 1) needs a denominator beyond the filter bound.
  EXPECT_FALSE(ApproximateRatio(11025.0, 2147483647.0).has_value());
  // Any rate the bound admits is approximated to within 1e-6.
  for (int32_t rate : {7, 1000, 37800, 44056, 44101, 100000, 192000, 352800}) {
    const std::optional<ResampleRatio> ratio = ApproximateRatio(11025.0, rate);
    ASSERT_TRUE(ratio.has_value()) << rate;
    const double r = 11025.0 / rate;
    EXPECT_LT(std::fabs(static_cast<double>(ratio->up) / ratio->down - r), 1e-6 * r) << rate;
  }
}

TEST(ResampleFilterTest, FixedFiltersAreSymmetricAroundTheirCentre) {
  const std::vector<float>& quarter = QuarterBandFilter();
  ASSERT_EQ(quarter.size(), 84u);
  EXPECT_FLOAT_EQ(quarter[43], 0.25f);
  EXPECT_FLOAT_EQ(quarter[42], 0.224765f);
  EXPECT_FLOAT_EQ(quarter[4], -0.00028247f);
  for (size_t i = 44; i < 84; ++i) EXPECT_EQ(quarter[i], quarter[86 - i]) << i;
  // Every fourth tap from index 3 is a zero in effect, except the centre.
  for (size_t i = 3; i < 84; i += 4) {
    if (i != 43) {
      EXPECT_EQ(quarter[i], 0.0f) << i;
    }
  }

  const std::vector<float>& half = HalfBandFilter();
  ASSERT_EQ(half.size(), 42u);
  EXPECT_FLOAT_EQ(half[21], 0.5f);
  EXPECT_FLOAT_EQ(half[20], 0.316537f);
  for (size_t i = 22; i < 42; ++i) EXPECT_EQ(half[i], half[42 - i]) << i;
  // Unity gain at DC, so the decimated level matches the input level.
  double quarter_sum = 0, half_sum = 0;
  for (float t : quarter) quarter_sum += t;
  for (float t : half) half_sum += t;
  EXPECT_NEAR(quarter_sum, 1.0, 1e-3);
  EXPECT_NEAR(half_sum, 1.0, 1e-3);
}

TEST(ResampleFilterTest, DesignedFilterIsTheWindowedSincLinedUpAndPadded) {
  struct Case {
    ResampleRatio ratio;
    int64_t lead;  // zeros before the first designed tap
  };
  // L < M: M - L zeros; L >= M: (3M - ((T-1)/2 mod M) - L) mod M, taken non-negative.
  const Case cases[] = {{{147, 640}, 640 - 147},
                        {{441, 320}, (3 * 320 - (4410 % 320) - 441) % 320},
                        {{1, 8}, 7},
                        // (3000 - 250 - 11025) mod 1000: negative before the wrap.
                        {{11025, 1000}, 725}};
  for (const Case& c : cases) {
    const int64_t l = c.ratio.up, m = c.ratio.down, widest = std::max(l, m);
    const int64_t t = 20 * widest + 1;
    const ResampleFilter filter = MakeResampleFilter(c.ratio);
    SCOPED_TRACE(std::to_string(l) + "/" + std::to_string(m));
    ASSERT_EQ(static_cast<int64_t>(filter.taps.size()) % l, 0);
    ASSERT_GE(static_cast<int64_t>(filter.taps.size()), c.lead + t);
    EXPECT_LT(static_cast<int64_t>(filter.taps.size()), c.lead + t + l);
    for (int64_t i = 0; i < c.lead; ++i) ASSERT_EQ(filter.taps[i], 0.0f) << i;
    for (int64_t j : {int64_t{0}, int64_t{1}, t / 3, (t - 1) / 2 - 1, (t - 1) / 2, t - 1}) {
      const double x = std::numbers::pi * (j - (t - 1) / 2.0) / widest;
      const double sinc = x == 0 ? 1.0 : std::sin(x) / x;
      const double expected =
          double(l) / m * sinc * (0.54 - 0.46 * std::cos(2 * std::numbers::pi * j / (t - 1)));
      EXPECT_NEAR(filter.taps[c.lead + j], expected, 1e-6) << "tap " << j;
    }
    const int64_t a = static_cast<int64_t>(filter.taps.size());
    EXPECT_EQ(filter.history_zeros, ((a / 2) / m * m + l - 1) / l);
  }
  EXPECT_EQ(MakeResampleFilter({1, 4}).history_zeros, 40);
  EXPECT_EQ(MakeResampleFilter({1, 2}).history_zeros, 20);
}

// The polyphase sum evaluated directly, in double precision, over the whole history.
std::vector<double> DirectOutputs(const RationalResampler& r, const std::vector<float>& input) {
  const std::vector<float>& h = r.taps();
  const int64_t l = r.ratio().up, m = r.ratio().down, p = static_cast<int64_t>(h.size()) / l;
  std::vector<double> s(static_cast<size_t>(r.history_zeros()), 0.0);
  s.insert(s.end(), input.begin(), input.end());
  std::vector<double> y;
  for (int64_t n = 0;; ++n) {
    const int64_t base = n * m / l;
    if (base + p - 1 >= static_cast<int64_t>(s.size())) break;
    double sum = 0;
    for (int64_t j = 0; j < p; ++j) sum += h[((n + 1) * m % l) + j * l] * s[base + p - 1 - j];
    y.push_back(sum);
  }
  return y;
}

TEST(RationalResamplerTest, StreamingOutputEqualsTheDirectSumForAnySplit) {
  // Single-precision sums of samples up to 20000 agree with the double sum to about 1e-2.
  const testing::Signal noise = testing::Noise(99, 20000, 30000);
  const std::vector<float> input(noise.begin(), noise.end());
  for (int32_t rate : {44100, 22050, 11025, 48000, 8000, 32000}) {
    auto resampler = RationalResampler::Create(rate, 11025.0);
    ASSERT_NE(resampler, nullptr);
    const std::vector<double> expected = DirectOutputs(*resampler, input);
    std::vector<float> first_run;
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}}) {
      for (size_t capacity : {size_t{1}, size_t{3}, size_t{100000}}) {
        resampler->Reset();
        std::vector<float> out;
        size_t at = 0;
        // One buffer for the run: a fresh one per call made this test take minutes under ASan.
        std::vector<float> buffer(capacity);
        for (;;) {
          size_t produced = 0;
          const size_t n = std::min(chunk, input.size() - at);
          at += resampler->Process(input.data() + at, n, buffer.data(), capacity, &produced);
          out.insert(out.end(), buffer.begin(), buffer.begin() + produced);
          if (produced == 0 && at == input.size()) break;
        }
        SCOPED_TRACE(::testing::Message()
                     << rate << " Hz, chunk " << chunk << ", capacity " << capacity);
        ASSERT_EQ(out.size(), expected.size());
        // Outputs made one at a time and in blocks agree to the last bit.
        if (first_run.empty()) first_run = out;
        ASSERT_TRUE(out == first_run);
        for (size_t i = 0; i < out.size(); ++i) {
          ASSERT_NEAR(out[i], expected[i], 0.02) << "output " << i;
        }
      }
    }
  }
}

double Rms(const std::vector<float>& v, size_t skip) {
  double sum = 0;
  for (size_t i = skip; i < v.size(); ++i) sum += double(v[i]) * v[i];
  return std::sqrt(sum / double(v.size() - skip));
}

TEST(RationalResamplerTest, PassesLowTonesAndRejectsTonesAboveTheNewNyquist) {
  for (int32_t rate : {44100, 22050, 48000, 96000}) {
    auto resampler = RationalResampler::Create(rate, 11025.0);
    ASSERT_NE(resampler, nullptr);
    auto run = [&](double frequency) {
      resampler->Reset();
      const testing::Signal tone = testing::Tone(frequency, 10000, rate, rate);
      const std::vector<float> in(tone.begin(), tone.end());
      std::vector<float> out(in.size());
      size_t produced = 0;
      resampler->Process(in.data(), in.size(), out.data(), out.size(), &produced);
      out.resize(produced);
      return Rms(out, 200) * std::sqrt(2.0);
    };
    SCOPED_TRACE(rate);
    EXPECT_NEAR(run(440.0), 10000.0, 150.0);
    EXPECT_NEAR(run(2000.0), 10000.0, 150.0);
    EXPECT_LT(run(8000.0), 200.0);  // would alias to 3025 Hz
  }
}

}  // namespace
}  // namespace pelk::fingerprint
