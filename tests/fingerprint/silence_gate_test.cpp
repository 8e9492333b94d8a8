#include "fingerprint/silence_gate.h"

#include <gtest/gtest.h>

#include "fingerprint/stream_front_end.h"

namespace pelk::fingerprint {
namespace {

// Alternating +-amplitude: every deviation from the (near zero) mean is `amplitude`.
std::vector<float> Loud(size_t count, float amplitude) {
  std::vector<float> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = (i % 2 == 0) ? amplitude : -amplitude;
  return v;
}

std::vector<float> Join(std::vector<float> a, const std::vector<float>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SilenceGateTest, TriggersWhenTheClippedMeanDeviationPassesTheThreshold) {
  // W = 128, H = 100, Q = 1000: 13 clipped deviations of 1000 give 13000 / 128 = 101 > 100.
  for (float amplitude : {5000.0f, 100000.0f}) {
    SilenceGate gate(128, 100, 1000);
    const std::vector<float> s = Join(std::vector<float>(300, 0.0f), Loud(200, amplitude));
    EXPECT_EQ(gate.Scan(s.data(), s.size()), 312u) << amplitude;
  }
  // Deviations of 900 need 15 samples (15 x 900 / 128 = 105; 14 give 98).
  SilenceGate gate(128, 100, 1000);
  const std::vector<float> s = Join(std::vector<float>(300, 0.0f), Loud(200, 900.0f));
  EXPECT_EQ(gate.Scan(s.data(), s.size()), 314u);
}

TEST(SilenceGateTest, MeasuresDeviationFromTheMeanNotFromZero) {
  // A constant offset is silence however large; it primes the window, so it never deviates.
  SilenceGate gate(128, 100, 1000);
  const std::vector<float> dc(5000, 20000.0f);
  EXPECT_EQ(gate.Scan(dc.data(), dc.size()), dc.size());
  EXPECT_EQ(gate.LeadingSilence(dc.data(), dc.size()), dc.size());
  // Swings around that offset are signal.
  std::vector<float> swing = Loud(100, 3000.0f);
  for (float& x : swing) x += 20000.0f;
  EXPECT_EQ(gate.Scan(swing.data(), swing.size()), 12u);
}

TEST(SilenceGateTest, LeadingSilenceOfOneCallStartsHalfAWindowBeforeTheTrigger) {
  SilenceGate gate(128, 100, 1000);
  const std::vector<float> s = Join(std::vector<float>(300, 0.0f), Loud(200, 5000.0f));
  EXPECT_EQ(gate.LeadingSilence(s.data(), s.size()), 312u - 64u);

  // A crossing within the first 64 samples of a call cannot reach back before the call.
  gate.Reset();
  const std::vector<float> quiet(300, 0.0f);
  EXPECT_EQ(gate.LeadingSilence(quiet.data(), quiet.size()), 300u);
  const std::vector<float> loud = Loud(200, 5000.0f);
  EXPECT_EQ(gate.LeadingSilence(loud.data(), loud.size()), 0u);
}

// Keeps the first frame it is given.
class FirstFrame : public FrameConsumer {
 public:
  void ConsumeFrame(std::span<const float> first, std::span<const float> second) override {
    frame.assign(first.begin(), first.end());
    frame.insert(frame.end(), second.begin(), second.end());
  }
  bool IsComplete() const override { return !frame.empty(); }
  std::vector<float> frame;
};

struct GateRun {
  int64_t skipped = 0;
  std::vector<float> frame;
};

// Streams 16-bit mono at the analysis rate (no resampling), in writes of the given sizes
// (cycled), until the first frame is complete.
GateRun RunFrontEnd(const std::vector<int16_t>& samples, const std::vector<size_t>& writes) {
  FirstFrame sink;
  std::unique_ptr<StreamFrontEnd> stage;
  EXPECT_EQ(StreamFrontEnd::Create(ExtractionConfig(), 1, 11025, 16, &sink, &stage), kExtractOk);
  size_t at = 0;
  for (size_t w = 0; at < samples.size() && !sink.IsComplete(); ++w) {
    const size_t n = std::min(writes[w % writes.size()], samples.size() - at);
    stage->Write(reinterpret_cast<const uint8_t*>(samples.data() + at),
                 static_cast<int32_t>(2 * n));
    at += n;
  }
  return {stage->skipped_samples(), sink.frame};
}

// Quiet material whose every sample is recognisable by its position: values cycle through
// -25..24, far below the threshold.
std::vector<int16_t> QuietThenLoud(size_t quiet, size_t loud) {
  std::vector<int16_t> s;
  for (size_t i = 0; i < quiet; ++i)
    s.push_back(static_cast<int16_t>(static_cast<int>(i % 50) - 25));
  for (size_t i = 0; i < loud; ++i) s.push_back(i % 2 == 0 ? 8000 : -8000);
  return s;
}

TEST(StreamFrontEndGateTest, FirstFrameBeginsHalfAWindowBeforeTheTrigger) {
  const size_t quiet = 5000;
  const std::vector<int16_t> s = QuietThenLoud(quiet, 40000);
  // The gate run over the whole stream at once finds the trigger (a few samples into the loud
  // part); whatever the writes, the frame begins 64 samples before it.
  SilenceGate reference(128, 100, 1000);
  const std::vector<float> all(s.begin(), s.end());
  const size_t trigger = reference.Scan(all.data(), all.size());
  ASSERT_GT(trigger, quiet);
  ASSERT_LT(trigger, quiet + 20);
  const size_t start = trigger - 64;
  const std::vector<std::vector<size_t>> splits = {
      {s.size()},         // one write
      {quiet, 4096},      // the crossing lies a few samples into a write
      {quiet + 60, 997},  // the crossing lies in the first write, near its end
      {trigger, 50},      // the crossing is the first sample of a write
      {1},                // one sample per write
      {3, 127, 2}};
  for (const std::vector<size_t>& split : splits) {
    SCOPED_TRACE(::testing::Message() << "first write " << split[0]);
    const GateRun run = RunFrontEnd(s, split);
    EXPECT_EQ(run.skipped, static_cast<int64_t>(start));
    ASSERT_EQ(run.frame.size(), 32768u);
    for (size_t i = 0; i < 200; ++i) ASSERT_EQ(run.frame[i], s[start + i]) << "frame sample " << i;
  }
}

TEST(StreamFrontEndGateTest, SignalAtTheStartSkipsNothing) {
  // A trigger within the first 64 samples of the stream starts the frame at its first sample.
  for (const std::vector<size_t>& split : {std::vector<size_t>{40000}, std::vector<size_t>{1}}) {
    const std::vector<int16_t> s = QuietThenLoud(30, 40000);
    const GateRun run = RunFrontEnd(s, split);
    EXPECT_EQ(run.skipped, 0);
    ASSERT_FALSE(run.frame.empty());
    EXPECT_EQ(run.frame[0], s[0]);
    EXPECT_EQ(run.frame[100], s[100]);
  }
}

TEST(StreamFrontEndGateTest, DigitalSilenceNeverOpensTheGate) {
  const std::vector<int16_t> s(100000, 0);
  const GateRun run = RunFrontEnd(s, {4096});
  EXPECT_TRUE(run.frame.empty());
  // All but the half window held back is counted as skipped.
  EXPECT_EQ(run.skipped, 100000 - 64);
}

}  // namespace
}  // namespace pelk::fingerprint
