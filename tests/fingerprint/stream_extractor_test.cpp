#include "fingerprint/stream_extractor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/fingerprint/engine_test_util.h"
#include "tests/support/pcm_synth.h"

namespace pelk::fingerprint {
namespace {

using testing::EncodePcm;
using testing::Interleave;
using testing::Music;
using testing::PcmFormat;

constexpr int64_t kNeededAnalysisSamples = (12 - 1) * 11264 + 32768;

std::vector<uint8_t> StereoMusic(int32_t rate, double seconds, uint32_t seed = 7) {
  const int64_t frames = static_cast<int64_t>(seconds * rate);
  return EncodePcm(Interleave({Music(seed, rate, frames), Music(seed + 1, rate, frames)}), 16);
}

TEST(StreamExtractorTest, CreationRefusesFormatsWithoutAudio) {
  EXPECT_EQ(StreamExtractor(44100, 16, 2).creation_status(), kExtractOk);
  EXPECT_EQ(StreamExtractor(44100, 16, 0).creation_status(), kExtractBadArgument);
  EXPECT_EQ(StreamExtractor(0, 16, 2).creation_status(), kExtractBadArgument);
  EXPECT_EQ(StreamExtractor(-44100, 16, 2).creation_status(), kExtractBadArgument);
  EXPECT_EQ(StreamExtractor(44100, 4, 2).creation_status(), kExtractBadArgument);
  // A rate whose ratio to the analysis rate needs too large a fraction cannot be resampled.
  EXPECT_EQ(StreamExtractor(2147483647, 16, 1).creation_status(), kExtractOutOfMemory);

  StreamExtractor failed(44100, 16, 0);
  const uint8_t pcm[4] = {};
  EXPECT_EQ(failed.Write(pcm, 4), kExtractBadArgument);
  std::string_view text;
  EXPECT_EQ(failed.Output(&text), kExtractNotEnoughData);
}

// 44.1 kHz stereo is decimated by 4 with a 40-sample history, so analysis sample m is complete
// when input frame 4m + 43 arrives: 156672 analysis samples need exactly 4 x 156671 + 44 frames.
TEST(StreamExtractorTest, CompletesAtExactly156672AnalysisSamples) {
  const int64_t needed_frames = 4 * (kNeededAnalysisSamples - 1) + 44;
  const std::vector<uint8_t> pcm = StereoMusic(44100, 15.0);
  ASSERT_GT(pcm.size(), static_cast<size_t>(needed_frames * 4));

  StreamExtractor extractor(44100, 16, 2);
  EXPECT_EQ(extractor.Write(pcm.data(), static_cast<int32_t>((needed_frames - 1) * 4)), kExtractOk);
  EXPECT_FALSE(extractor.IsDone());
  std::string_view text;
  EXPECT_EQ(extractor.Output(&text), kExtractNotEnoughData);
  EXPECT_EQ(extractor.Write(pcm.data() + (needed_frames - 1) * 4, 4), kExtractComplete);
  EXPECT_TRUE(extractor.IsDone());
  EXPECT_EQ(extractor.skipped_samples(), 0);

  ASSERT_EQ(extractor.Output(&text), kExtractOk);
  EXPECT_EQ(extractor.report().duration_ms, 14210);
  EXPECT_EQ(extractor.report().offset_ms, 0);
  // Later writes complete at once and change nothing.
  EXPECT_EQ(extractor.Write(pcm.data(), 4096), kExtractComplete);
  std::string_view again;
  EXPECT_EQ(extractor.Output(&again), kExtractOk);
  EXPECT_EQ(again.data(), text.data());
}

TEST(StreamExtractorTest, SignatureHalvesEachSumToTheScale) {
  struct Case {
    const char* name;
    PcmFormat format;
    std::vector<uint8_t> pcm;
  };
  const std::vector<Case> cases = {
      {"music 44.1k stereo", {44100, 16, 2}, StereoMusic(44100, 15.0, 3)},
      {"music 48k stereo", {48000, 16, 2}, StereoMusic(48000, 15.0, 11)},
      {"noise 11025 mono", {11025, 16, 1}, EncodePcm(testing::Noise(5, 20000, 11025 * 15), 16)},
      {"two tones 22050 mono",
       {22050, 16, 1},
       EncodePcm(testing::Mix({testing::Tone(440, 8000, 22050, 22050 * 15),
                               testing::Tone(1800, 3000, 22050, 22050 * 15)}),
                 16)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const StreamResult r = Fingerprint(c.format, c.pcm);
    ASSERT_TRUE(r.done);
    ASSERT_EQ(r.signature.size(), 30u);
    for (size_t i = 0; i < 30; ++i) EXPECT_GE(r.signature[i], 0) << "value " << i;
    // Each value is truncated, so each half loses less than one per value.
    EXPECT_GE(Sum(r.signature, 0, 15), 32768 - 15);
    EXPECT_LE(Sum(r.signature, 0, 15), 32768);
    EXPECT_GE(Sum(r.signature, 15, 15), 32768 - 15);
    EXPECT_LE(Sum(r.signature, 15, 15), 32768);
  }
}

TEST(StreamExtractorTest, SignatureDoesNotDependOnBufferSizes) {
  // 11025 Hz mono goes straight to the ring; 44.1 kHz stereo exercises the decimator's history.
  const std::vector<std::pair<PcmFormat, std::vector<uint8_t>>> streams = {
      {{11025, 16, 1}, EncodePcm(Music(21, 11025, 11025 * 15), 16)},
      {{44100, 16, 2}, StereoMusic(44100, 14.3, 23)},
  };
  for (const auto& [format, pcm] : streams) {
    SCOPED_TRACE(format.sample_rate);
    const StreamResult whole = Fingerprint(format, pcm, pcm.size());
    ASSERT_TRUE(whole.done);
    // Written one frame at a time, the stream tells the exact frame that completes it.
    const StreamResult single = Fingerprint(format, pcm, 1);
    const size_t total_frames = pcm.size() / static_cast<size_t>(format.channels * 2);
    EXPECT_EQ(single.signature, whole.signature);
    for (size_t frames : {2, 3, 5, 7, 17, 511, 997, 4096}) {
      const StreamResult split = Fingerprint(format, pcm, frames);
      EXPECT_EQ(split.signature, whole.signature) << frames << " frames per write";
      EXPECT_EQ(split.frames_written,
                std::min((single.frames_written + frames - 1) / frames * frames, total_frames))
          << frames << " frames per write";
    }
  }
}

TEST(StreamExtractorTest, TooShortAudioGivesNoOutput) {
  const std::vector<uint8_t> pcm = StereoMusic(44100, 10.0);
  StreamExtractor extractor(44100, 16, 2);
  EXPECT_EQ(RunStream(extractor, pcm, 4, 1024).last_write, kExtractOk);
  EXPECT_FALSE(extractor.IsDone());
  std::string_view text;
  EXPECT_EQ(extractor.Output(&text), kExtractNotEnoughData);
}

TEST(StreamExtractorTest, PartialSampleFramesAreRefusedAndTheStreamGoesOn) {
  const std::vector<uint8_t> pcm = EncodePcm(Music(9, 11025, 11025 * 15), 16);
  const StreamResult clean = Fingerprint({11025, 16, 1}, pcm, 1000);

  StreamExtractor extractor(11025, 16, 1);
  EXPECT_EQ(extractor.Write(pcm.data(), 2001), kExtractBadArgument);
  EXPECT_EQ(extractor.Write(pcm.data(), 0), kExtractBadArgument);
  EXPECT_EQ(extractor.Write(nullptr, 2000), kExtractBadArgument);
  EXPECT_EQ(extractor.Write(pcm.data(), -2), kExtractBadArgument);
  const StreamResult after = RunStream(extractor, pcm, 2, 1000);
  EXPECT_EQ(after.last_write, kExtractComplete);
  EXPECT_EQ(after.signature, clean.signature);
}

TEST(StreamExtractorTest, SampleWidthsWithoutConversionNeverComplete) {
  const std::vector<double> samples =
      Interleave({Music(1, 44100, 44100 * 15), Music(2, 44100, 44100 * 15)});
  for (int32_t bits : {24, 32}) {
    StreamExtractor extractor(44100, bits, 2);
    ASSERT_EQ(extractor.creation_status(), kExtractOk);
    const StreamResult r = RunStream(extractor, EncodePcm(samples, bits), 2 * bits / 8, 4096);
    EXPECT_EQ(r.last_write, kExtractOk);
    EXPECT_FALSE(r.done);
  }
}

TEST(StreamExtractorTest, EightBitAudioMatchesSixteenBitUpToRounding) {
  const int64_t frames = 22050 * 16;
  const std::vector<double> samples = Interleave({Music(31, 22050, frames)});
  const StreamResult sixteen = Fingerprint({22050, 16, 1}, EncodePcm(samples, 16));
  const StreamResult eight = Fingerprint({22050, 8, 1}, EncodePcm(samples, 8));
  ASSERT_TRUE(sixteen.done);
  ASSERT_TRUE(eight.done);
  EXPECT_EQ(eight.skipped, sixteen.skipped);
  for (size_t i = 0; i < 30; ++i) {
    EXPECT_NEAR(eight.signature[i], sixteen.signature[i], 0.03 * sixteen.signature[i] + 40)
        << "value " << i;
  }
}

TEST(StreamExtractorTest, LeadingSilenceIsSkippedAndReported) {
  // 2 s of digital silence before the music: the offset is the skipped span, and the frames are
  // exactly those of the stream that starts where the gate let it start.
  const int32_t rate = 11025;
  const std::vector<uint8_t> pcm =
      EncodePcm(testing::Concat({testing::Silence(2 * rate), Music(41, rate, rate * 15)}), 16);

  StreamExtractor extractor(rate, 16, 1);
  const StreamResult r = RunStream(extractor, pcm, 2, 4096);
  ASSERT_TRUE(r.done);
  // The music triggers the gate within its first samples; the frame starts 64 before.
  EXPECT_GE(r.skipped, 2 * rate - 64);
  EXPECT_LE(r.skipped, 2 * rate);
  std::string_view text;
  ASSERT_EQ(extractor.Output(&text), kExtractOk);
  const int32_t offset_ms = static_cast<int32_t>(r.skipped * 1000 / rate);
  EXPECT_EQ(extractor.report().offset_ms, offset_ms);
  EXPECT_NE(text.find("<OFFSET UNITS=\"ms\">" + std::to_string(offset_ms) + "<"),
            std::string_view::npos);

  ExtractionConfig no_gate;
  no_gate.skip_initial_silence = 0;
  StreamExtractor reference(rate, 16, 1, no_gate);
  const std::vector<uint8_t> rest(pcm.begin() + r.skipped * 2, pcm.end());
  EXPECT_EQ(RunStream(reference, rest, 2, 4096).signature, r.signature);
}

// The two times vary from run to run: their digits become "#".
std::string MaskTimes(std::string text) {
  for (const char* tag : {"<COMP_TIME UNITS=\"ms\">", "<TOTAL_TIME UNITS=\"ms\">"}) {
    const size_t at = text.find(tag);
    if (at == std::string::npos) continue;
    const size_t begin = at + std::strlen(tag);
    const size_t end = text.find('<', begin);
    if (end == std::string::npos) continue;
    const bool digits = std::all_of(text.begin() + begin, text.begin() + end,
                                    [](char c) { return c >= '0' && c <= '9'; });
    if (digits && end > begin) text.replace(begin, end - begin, "#");
  }
  return text;
}

TEST(StreamExtractorTest, DocumentFollowsTheLayoutByteForByte) {
  const std::vector<uint8_t> pcm = StereoMusic(44100, 14.5, 17);
  StreamExtractor extractor(44100, 16, 2);
  ASSERT_EQ(RunStream(extractor, pcm, 4, 1024).last_write, kExtractComplete);
  std::string_view text;
  ASSERT_EQ(extractor.Output(&text), kExtractOk);

  std::string values;
  for (int16_t v : extractor.Signature()) values += (values.empty() ? "" : " ") + std::to_string(v);
  const std::string expected =
      "<FINGERPRINT ALG=\"Wavelattice\" VERSION=\"1.1\" BUILD=\"1.3.3\">\n"
      "  <DATA TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">" +
      values +
      "</DATA>\n"
      "  <COMP_TIME UNITS=\"ms\">#</COMP_TIME>\n"
      "  <TOTAL_TIME UNITS=\"ms\">#</TOTAL_TIME>\n"
      "  <AUDIO>\n"
      "    <CHANNELS>2</CHANNELS>\n"
      "    <SAMPLE_RATE>44100</SAMPLE_RATE>\n"
      "    <SAMPLE_SIZE>16</SAMPLE_SIZE>\n"
      "    <OFFSET UNITS=\"ms\">0</OFFSET>\n"
      "    <DURATION UNITS=\"ms\">14210</DURATION>\n"
      "  </AUDIO>\n"
      "  <WL_CONFIG VERSION=\"1.0\">\n"
      "    <SKIP_INITIAL_SILENCE>1</SKIP_INITIAL_SILENCE>\n"
      "    <MIN_SIGNAL_WIDTH>128</MIN_SIGNAL_WIDTH>\n"
      "    <MIN_SIGNAL_HEIGHT>100</MIN_SIGNAL_HEIGHT>\n"
      "    <SIGNAL_CLIP_THRESHOLD>1000</SIGNAL_CLIP_THRESHOLD>\n"
      "    <HIST_EQ_BIN_COUNT>256</HIST_EQ_BIN_COUNT>\n"
      "    <SAMPLE_RATE>11025</SAMPLE_RATE>\n"
      "    <LOG2_FRAME_SAMPLES>15</LOG2_FRAME_SAMPLES>\n"
      "    <HALF_DCT_MODE>1</HALF_DCT_MODE>\n"
      "    <FREQ_BAND_LIST>0 99.8 99.8 200 200 299.8 299.8 400 400 510 510 630 630 769.9 769.9 "
      "920 920 1080 1080 1269.8 1269.8 1480 1480 1719.8 1719.8 2000 2000 2320 2320 "
      "2700</FREQ_BAND_LIST>\n"
      "    <FRAME_SAMPLE_OFFSET>11264</FRAME_SAMPLE_OFFSET>\n"
      "    <FRAME_COUNT>12</FRAME_COUNT>\n"
      "    <FRAME_OFFSET>0</FRAME_OFFSET>\n"
      "    <TRAD_SCALING_FACTOR>32768</TRAD_SCALING_FACTOR>\n"
      "  </WL_CONFIG>\n"
      "</FINGERPRINT>\n";
  EXPECT_EQ(MaskTimes(std::string(text)), expected);
}

}  // namespace
}  // namespace pelk::fingerprint
