#include "fingerprint/wav_source.h"

#include <gtest/gtest.h>

#include "fingerprint/audio_source.h"
#include "tests/fingerprint/engine_test_util.h"
#include "tests/support/hr_matchers.h"
#include "tests/support/pcm_synth.h"

namespace pelk::fingerprint {
namespace {

using testing::MakeWav;
using testing::PcmFormat;
using testing::ScopedTempFile;
using testing::WavOptions;

std::vector<uint8_t> Bytes(size_t count) {
  std::vector<uint8_t> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
  return v;
}

// Reads a source to its end: the block sizes and the bytes.
struct Drained {
  std::vector<int32_t> blocks;
  std::vector<uint8_t> bytes;
};
Drained Drain(AudioSource& source) {
  Drained d;
  for (int guard = 0; guard < 100000; ++guard) {
    const uint8_t* data = nullptr;
    int32_t length = -1;
    EXPECT_HR(S_OK, source.Read(&data, &length));
    d.blocks.push_back(length);
    if (length == 0) break;
    d.bytes.insert(d.bytes.end(), data, data + length);
  }
  return d;
}

class WavSourceTest : public ::testing::Test {
 protected:
  // A source over a temporary file holding `bytes`.
  std::unique_ptr<WavSource> Open(const std::vector<uint8_t>& bytes) {
    files_.push_back(std::make_unique<ScopedTempFile>("audio.wav", bytes));
    return std::make_unique<WavSource>(files_.back()->str());
  }
  std::unique_ptr<WavSource> Open(const PcmFormat& format, const std::vector<uint8_t>& pcm,
                                  const WavOptions& options = {}) {
    return Open(MakeWav(format, pcm, options));
  }

 private:
  std::vector<std::unique_ptr<ScopedTempFile>> files_;
};

TEST_F(WavSourceTest, FactoryWantsTheWavExtensionInAnyCase) {
  for (const char* name : {"a.wav", "B.WAV", "dir.x/c.Wav", ".wav"}) {
    std::unique_ptr<AudioSource> source = CreateAudioSource(std::string("/nonexistent/") + name);
    ASSERT_NE(source, nullptr) << name;
    EXPECT_HR(E_FAIL, source->Rewind());  // created even though the file does not open
    const uint8_t* data = nullptr;
    int32_t length = 5;
    EXPECT_HR(E_FAIL, source->Read(&data, &length));
    EXPECT_EQ(length, 0);
  }
  for (const char* name : {"a.mp3", "a.wavx", "a.wa", "wav", "", "a.wav.flac"}) {
    EXPECT_EQ(CreateAudioSource(name), nullptr) << name;
  }
}

TEST_F(WavSourceTest, ReportsTheHeaderAndDeliversBlocksOfAtMost4096Bytes) {
  const std::vector<uint8_t> pcm = Bytes(10000);
  std::unique_ptr<WavSource> source = Open({44100, 16, 2}, pcm);
  ASSERT_TRUE(source->is_open());
  EXPECT_EQ(source->GetSampleRate(), 44100);
  EXPECT_EQ(source->GetBitsPerSample(), 16);
  EXPECT_EQ(source->GetChannels(), 2);
  EXPECT_EQ(source->GetDataSize(), 10000u);
  EXPECT_EQ(source->GetDurationMs(), 57);  // 10000 x 1000 / 176400 = 56.7, rounded
  ASSERT_HR(S_OK, source->Rewind());
  Drained d = Drain(*source);
  EXPECT_EQ(d.blocks, (std::vector<int32_t>{4096, 4096, 1808, 0}));
  EXPECT_EQ(d.bytes, pcm);
  // Rewinding starts over.
  ASSERT_HR(S_OK, source->Rewind());
  EXPECT_EQ(Drain(*source).bytes, pcm);
}

TEST_F(WavSourceTest, BlocksHoldWholeSampleFramesOnly) {
  // Three 16-bit channels: 6-byte frames, so 4092-byte blocks; 3 stray bytes are not handed out.
  const std::vector<uint8_t> pcm = Bytes(6 * 2000 + 3);
  std::unique_ptr<WavSource> source = Open({48000, 16, 3}, pcm);
  ASSERT_HR(S_OK, source->Rewind());
  const Drained d = Drain(*source);
  EXPECT_EQ(d.blocks, (std::vector<int32_t>{4092, 4092, 3816, 0}));
  EXPECT_EQ(d.bytes, std::vector<uint8_t>(pcm.begin(), pcm.begin() + 12000));
}

TEST_F(WavSourceTest, TruncatedFilesFailInTheHeaderAndEndEarlyInTheData) {
  const std::vector<uint8_t> pcm = Bytes(400);
  const std::vector<uint8_t> whole = MakeWav({22050, 16, 1}, pcm);
  ASSERT_EQ(whole.size(), 44 + pcm.size());
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    std::unique_ptr<WavSource> source =
        Open(std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
    if (cut < 44) {
      EXPECT_FALSE(source->is_open());
      EXPECT_HR(E_FAIL, source->Rewind());
      continue;
    }
    // The data chunk claims 400 bytes but ends with the file.
    ASSERT_HR(S_OK, source->Rewind());
    EXPECT_EQ(source->GetDataSize(), cut - 44);
    const size_t whole_frames = (cut - 44) / 2 * 2;
    EXPECT_EQ(Drain(*source).bytes, std::vector<uint8_t>(pcm.begin(), pcm.begin() + whole_frames));
  }
}

TEST_F(WavSourceTest, LyingSizesAreClippedOrRefused) {
  const PcmFormat format{11025, 16, 1};
  const std::vector<uint8_t> pcm = Bytes(1000);
  struct Case {
    const char* what;
    WavOptions options;
    bool opens;
    uint32_t data_size;
  };
  std::vector<Case> cases = {
      {"data size beyond the file", {.data_size = 0xFFFFFFF0}, true, 1000},
      {"RIFF size beyond the file", {.riff_size = 0xFFFFFFFF}, true, 1000},
      {"RIFF size too small for its chunks", {.riff_size = 20}, false, 0},
      {"fmt size beyond the file", {.fmt_size = 0x7FFFFFFF}, false, 0},
      {"fmt shorter than 16 bytes", {.fmt_size = 14, .fmt_body_bytes = 14}, false, 0},
      {"fmt of exactly 16 bytes", {.fmt_body_bytes = 16}, true, 1000},
      {"zero channels", {.channels = 0}, false, 0},
      {"zero rate", {.sample_rate = 0}, false, 0},
      {"zero block alignment", {.block_align = 0}, false, 0},
      {"no data chunk", {.omit_data = true}, false, 0},
      {"no fmt chunk", {.omit_fmt = true}, false, 0},
      {"not a WAVE form", {.form = "AVI "}, false, 0},
      {"data before fmt", {.data_before_fmt = true}, true, 1000},
      {"odd chunk with pad byte", {.extra_chunks = {{"LIST", 3}, {"junk", 5}}}, true, 1000},
  };
  for (const Case& c : cases) {
    std::unique_ptr<WavSource> source = Open(format, pcm, c.options);
    EXPECT_EQ(source->is_open(), c.opens) << c.what;
    if (!c.opens) {
      EXPECT_HR(E_FAIL, source->Rewind()) << c.what;
      continue;
    }
    EXPECT_EQ(source->GetDataSize(), c.data_size) << c.what;
    ASSERT_HR(S_OK, source->Rewind()) << c.what;
    EXPECT_EQ(Drain(*source).bytes, pcm) << c.what;
  }
}

TEST_F(WavSourceTest, TheNumberOfChunksWalkedIsBounded) {
  WavOptions many;
  for (int i = 0; i < RiffReader::kMaxChunks; ++i) many.extra_chunks.push_back({"junk", 2});
  EXPECT_FALSE(Open({11025, 16, 1}, Bytes(100), many)->is_open());
  WavOptions some;
  for (int i = 0; i < 100; ++i) some.extra_chunks.push_back({"junk", 2});
  EXPECT_TRUE(Open({11025, 16, 1}, Bytes(100), some)->is_open());
}

// The file path as the fingerprinter takes it: source blocks pushed unchanged into a stream.
StreamResult FingerprintFile(WavSource& source) {
  EXPECT_HR(S_OK, source.Rewind());
  StreamExtractor extractor(source.GetSampleRate(), source.GetBitsPerSample(),
                            source.GetChannels());
  StreamResult r;
  for (;;) {
    const uint8_t* data = nullptr;
    int32_t length = 0;
    EXPECT_HR(S_OK, source.Read(&data, &length));
    if (length == 0) break;
    r.last_write = extractor.Write(data, length);
    if (r.last_write != kExtractOk) break;
  }
  r.signature = extractor.Signature();
  r.done = extractor.IsDone();
  return r;
}

TEST_F(WavSourceTest, ExtensibleFormatAndMultichannelFilesFingerprintLikeTheStream) {
  const int32_t rate = 44100;
  const int64_t frames = static_cast<int64_t>(rate * 14.5);
  const std::vector<double> stereo =
      testing::Interleave({testing::Music(5, rate, frames), testing::Music(6, rate, frames)});
  const std::vector<uint8_t> pcm = testing::EncodePcm(stereo, 16);
  const StreamResult stream = Fingerprint({rate, 16, 2}, pcm);
  ASSERT_TRUE(stream.done);

  for (bool extensible : {false, true}) {
    std::unique_ptr<WavSource> source = Open({rate, 16, 2}, pcm, {.extensible = extensible});
    ASSERT_TRUE(source->is_open());
    EXPECT_EQ(source->format().format_tag, extensible ? 0xFFFE : 1);
    const StreamResult file = FingerprintFile(*source);
    EXPECT_EQ(file.last_write, kExtractComplete);
    EXPECT_EQ(file.signature, stream.signature) << "extensible " << extensible;
  }

  // Three channels make 6-byte frames, which 4096-byte blocks would split.
  const std::vector<double> three = testing::Interleave(
      {testing::Music(5, rate, frames), testing::Music(6, rate, frames), testing::Silence(frames)});
  std::unique_ptr<WavSource> source = Open({rate, 16, 3}, testing::EncodePcm(three, 16));
  EXPECT_EQ(FingerprintFile(*source).signature, stream.signature);

  // Ten seconds are not enough.
  const std::vector<uint8_t> short_pcm(pcm.begin(), pcm.begin() + rate * 10 * 4);
  std::unique_ptr<WavSource> short_source = Open({rate, 16, 2}, short_pcm);
  const StreamResult too_short = FingerprintFile(*short_source);
  EXPECT_EQ(too_short.last_write, kExtractOk);
  EXPECT_FALSE(too_short.done);
}

TEST_F(WavSourceTest, BlockAlignmentThatDisagreesWithTheChannelsIsRefusedByTheStream) {
  // Found by fuzzing: 16727 channels of 8 bits claimed with a 1-byte block alignment. The source
  // hands out whole "frames" of one byte; the stream refuses them instead of misreading them.
  std::unique_ptr<WavSource> source =
      Open({8000, 8, 1}, Bytes(200), {.channels = 16727, .block_align = 1});
  ASSERT_TRUE(source->is_open());
  ASSERT_HR(S_OK, source->Rewind());
  const uint8_t* data = nullptr;
  int32_t length = 0;
  ASSERT_HR(S_OK, source->Read(&data, &length));
  EXPECT_EQ(length, 200);
  StreamExtractor extractor(source->GetSampleRate(), source->GetBitsPerSample(),
                            source->GetChannels());
  EXPECT_EQ(extractor.Write(data, length), kExtractBadArgument);
}

TEST_F(WavSourceTest, ReadsFromAnOpenStreamOverMemory) {
  std::vector<uint8_t> bytes = MakeWav({8000, 8, 1}, Bytes(5000));
  WavSource source(fmemopen(bytes.data(), bytes.size(), "rb"));
  ASSERT_TRUE(source.is_open());
  ASSERT_HR(S_OK, source.Rewind());
  EXPECT_EQ(Drain(source).blocks, (std::vector<int32_t>{4096, 904, 0}));
}

}  // namespace
}  // namespace pelk::fingerprint
