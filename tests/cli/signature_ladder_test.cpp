// The ladder add-album stores, made from synthesized tracks: a copy 8 dB quieter of a track that
// fades in (the gate opens later in the fade) and a copy trimmed by 2 s under noise (the window
// starts 2 s later) are found through the ladder, and not through the one signature alone.
#include "cli/audio/signature_ladder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "catalog/matching.h"
#include "runtime/bstr.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

constexpr int32_t kRate = 44100;

// `seconds` of the music of `seed`, faded in over `fade` seconds (the gain rising with the
// square of the time) and `gain_db` quieter. 44100 Hz mono.
testing::Signal Fading(uint32_t seed, double seconds, double fade, double gain_db = 0) {
  testing::Signal s = testing::Music(seed, kRate, static_cast<int64_t>(seconds * kRate));
  const double gain = std::pow(10.0, gain_db / 20.0);
  for (size_t i = 0; i < s.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    s[i] *= gain * (t < fade ? (t / fade) * (t / fade) : 1.0);
  }
  return s;
}

// Music that changes every 1.7 s (another seed each section), so that a later window holds
// other sounds; `trim` seconds cut off its start and white noise of `noise_dbfs` RMS added.
testing::Signal Sections(uint32_t seed, double seconds, double trim = 0, double noise_dbfs = 0) {
  std::vector<testing::Signal> parts;
  for (double t = 0; t < seconds; t += 1.7) {
    parts.push_back(testing::Music(seed * 100 + static_cast<uint32_t>(parts.size()), kRate,
                                   static_cast<int64_t>(1.7 * kRate)));
  }
  testing::Signal s = testing::Concat(parts);
  s.erase(s.begin(), s.begin() + static_cast<int64_t>(trim * kRate));
  if (noise_dbfs != 0) {
    const double rms = 32768.0 * std::pow(10.0, noise_dbfs / 20.0);
    const testing::Signal noise =
        testing::Noise(seed + 99, rms * std::sqrt(3.0), static_cast<int64_t>(s.size()));
    for (size_t i = 0; i < s.size(); ++i) s[i] += noise[i];
  }
  return s;
}

class SignatureLadderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("pelk-ladder-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    fingerprinter_ = NewFingerprinter();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const testing::Signal& signal) {
    const auto path = dir_ / name;
    testing::WriteFile(path, testing::MakeWav({kRate, 16, 1}, testing::EncodePcm(signal, 16)));
    return path.string();
  }

  // What a lookup sends for the file: the engine's one signature.
  catalog::Signature Query(const std::string& path) {
    const FileFingerprint fp = FingerprintFile(fingerprinter_.Get(), path, 0);
    EXPECT_TRUE(fp.fingerprint) << fp.error;
    Bstr text;
    if (fp.fingerprint) fp.fingerprint->get_Signature(text.Out());
    return catalog::ParseSignature(text.Utf8()).value_or(catalog::Signature{});
  }

  // A catalogue of the files as tracks 1, 2, ... of one disc, with or without their ladders.
  std::unique_ptr<catalog::CatalogStore> Catalogue(const std::string& name,
                                                   const std::vector<std::string>& files,
                                                   bool ladders) {
    catalog::DiscRecord disc{.identifier = "D", .album = "Fades", .artist = "Synth"};
    for (const std::string& file : files) {
      FileLadder ladder = FingerprintFileLadder(fingerprinter_.Get(), file, 0);
      EXPECT_TRUE(ladder.fingerprint.fingerprint) << ladder.fingerprint.error;
      catalog::TrackRecord track{.number = static_cast<int32_t>(disc.tracks.size()) + 1,
                                 .title = file,
                                 .identifier = file};
      track.signature = Query(file);
      if (ladders) track.ladder = ladder.ladder;
      disc.tracks.push_back(std::move(track));
    }
    std::string error;
    auto store =
        catalog::CatalogStore::Open(dir_ / name, catalog::CatalogStore::OpenMode::kCreate, &error);
    EXPECT_TRUE(store && store->AddDiscs({disc}, &error)) << error;
    return store;
  }

  std::filesystem::path dir_;
  ComPtr<IPelkSonquixFingerprinter2> fingerprinter_;
};

TEST_F(SignatureLadderTest, RungZeroIsTheFilesOwnSignatureAndTheOthersDiffer) {
  const std::string path = Write("fade.wav", Fading(21, 30, 6));
  const FileLadder ladder = FingerprintFileLadder(fingerprinter_.Get(), path, 0);
  ASSERT_TRUE(ladder.fingerprint.fingerprint) << ladder.fingerprint.error;
  Bstr text;
  ladder.fingerprint.fingerprint->get_Signature(text.Out());
  const catalog::Signature rung0 = catalog::ParseSignature(text.Utf8()).value();
  EXPECT_EQ(rung0, Query(path));
  // The fade moves the window at every lower level and every later start: all rungs count.
  EXPECT_EQ(ladder.ladder.size(), DefaultLadderRungs().size());
  for (size_t i = 0; i < ladder.ladder.size(); ++i) {
    EXPECT_NE(ladder.ladder[i], rung0) << "rung " << i + 1;
    for (size_t j = 0; j < i; ++j) EXPECT_NE(ladder.ladder[i], ladder.ladder[j]) << i << j;
  }

  // Too short for any fingerprint: no ladder, and the reason in words.
  const std::string short_path = Write("short.wav", Fading(22, 3, 0));
  const FileLadder none = FingerprintFileLadder(fingerprinter_.Get(), short_path, 14200);
  EXPECT_FALSE(none.fingerprint.fingerprint);
  EXPECT_NE(none.fingerprint.error.find("too short"), std::string::npos) << none.fingerprint.error;
  EXPECT_TRUE(none.ladder.empty());
}

TEST_F(SignatureLadderTest, QuieterAndTrimmedCopiesAreFoundThroughTheLadderOnly) {
  const std::vector<std::string> originals = {Write("fade.wav", Fading(21, 30, 6)),
                                              Write("sections.wav", Sections(24, 30))};
  // 8 dB quieter: the gate opens later in the fade. Trimmed by 2 s under noise of -30 dBFS.
  const catalog::Signature quieter = Query(Write("quieter.wav", Fading(21, 30, 6, -8)));
  const catalog::Signature trimmed = Query(Write("trimmed.wav", Sections(24, 30, 2, -30)));

  auto with = Catalogue("with.db", originals, true);
  auto without = Catalogue("without.db", originals, false);
  ASSERT_TRUE(with && without);
  EXPECT_GT(with->Stats().signatures, without->Stats().signatures);
  for (const auto& [copy, track] : {std::pair{quieter, 1}, std::pair{trimmed, 2}}) {
    const catalog::MatchAnswer found = catalog::MatchWaveform(*with, copy);
    ASSERT_EQ(found.kind, 3) << "track " << track;
    EXPECT_EQ(found.matches[0].track, track);
    EXPECT_EQ(catalog::MatchWaveform(*without, copy).kind, 1) << "track " << track;
  }
}

}  // namespace
}  // namespace pelk::cli
