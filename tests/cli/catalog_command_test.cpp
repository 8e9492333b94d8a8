#include "cli/commands/catalog_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "catalog/file_tag.h"
#include "cli/commands/fingerprint_command.h"
#include "runtime/bstr.h"
#include "runtime/utf.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

class CatalogCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("pelk-cli-catalog-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    db_ = (dir_ / "c.db").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Outcome Sonquix(std::vector<std::string> args) {
    return RunCommand(AddCatalogCommand, std::move(args));
  }
  std::string Write(const std::string& name, const std::string& text) {
    const auto path = dir_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  std::filesystem::path dir_;
  std::string db_;
};

constexpr char kTwoDiscs[] = R"({"discs": [
 {"identifier": "D1", "album": "Blue", "artist": "Joni", "year": 1971, "store_ids": ["1", "2"],
  "tracks": [{"number": 1, "title": "All I Want", "identifier": "T1", "length_ms": 214000,
   "signature": "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30"}]},
 {"identifier": "D2", "album": "Out of Time", "artist": "R.E.M.", "compilation": false,
  "tracks": [{"number": 2, "title": "Losing My Religion", "identifier": "T2"}]}]})";

TEST_F(CatalogCommandTest, CreateImportListStatsExport) {
  EXPECT_EQ(Sonquix({"catalog", "create", db_}).code, 0);
  EXPECT_NE(Sonquix({"catalog", "create", db_}).code, 0);  // never overwrites
  auto imported = Sonquix({"catalog", "import", db_, Write("a.json", kTwoDiscs)});
  ASSERT_EQ(imported.code, 0) << imported.err;
  EXPECT_EQ(imported.out.rfind("imported 2 discs, 2 tracks", 0), 0u);

  auto list = Sonquix({"catalog", "list", db_});
  EXPECT_NE(list.out.find("D1  Joni - Blue (1971)  [1/1 tracks]"), std::string::npos);
  EXPECT_NE(list.out.find("2. Losing My Religion  (no fingerprint)"), std::string::npos);

  auto stats = Sonquix({"catalog", "stats", db_, "--json"});
  const auto j = nlohmann::json::parse(stats.out);
  EXPECT_EQ(j["discs"], 2);
  EXPECT_EQ(j["tracks"], 2);
  EXPECT_EQ(j["fingerprinted_tracks"], 1);

  // The export imports into a new catalogue and exports identically.
  const std::string exported = Sonquix({"catalog", "export", db_}).out;
  const std::string copy = (dir_ / "copy.db").string();
  ASSERT_EQ(Sonquix({"catalog", "import", copy, Write("e.json", exported)}).code, 0);
  EXPECT_EQ(Sonquix({"catalog", "export", copy}).out, exported);
}

TEST_F(CatalogCommandTest, InvalidInputChangesNothing) {
  ASSERT_EQ(Sonquix({"catalog", "import", db_, Write("a.json", kTwoDiscs)}).code, 0);
  const std::string before = Sonquix({"catalog", "export", db_}).out;

  auto bad = Sonquix({"catalog", "import", db_,
                      Write("bad.json",
                            "{\"discs\": [\n{\"identifier\": \"D9\", \"album\": \"A\","
                            "\n \"artist\": \"B\", \"tracks\": [], \"mood\": 1}]}")});
  EXPECT_NE(bad.code, 0);
  EXPECT_NE(bad.err.find("line 3: unknown field \"mood\""), std::string::npos) << bad.err;
  auto again = Sonquix({"catalog", "import", db_, Write("b.json", kTwoDiscs)});
  EXPECT_NE(again.code, 0);
  EXPECT_NE(again.err.find("nothing imported"), std::string::npos);
  EXPECT_EQ(Sonquix({"catalog", "export", db_}).out, before);

  EXPECT_NE(Sonquix({"catalog", "list", (dir_ / "missing.db").string()}).code, 0);
  auto not_catalog = Sonquix({"catalog", "stats", Write("x.db", "plain text")});
  EXPECT_NE(not_catalog.code, 0);
  EXPECT_NE(not_catalog.err.find("not a catalogue"), std::string::npos);
}

// A 16-bit mono WAV of synthesized music.
void WriteMusic(const std::filesystem::path& path, uint32_t seed, double seconds) {
  const int32_t rate = 11025;
  const auto frames = static_cast<int64_t>(seconds * rate);
  pelk::testing::WriteFile(
      path,
      pelk::testing::MakeWav(
          {rate, 16, 1}, pelk::testing::EncodePcm(pelk::testing::Music(seed, rate, frames), 16)));
}

TEST_F(CatalogCommandTest, AddAlbumFingerprintsTheFilesAndNamesTheTracks) {
  const auto one = dir_ / "01 First Light.wav";
  const auto two = dir_ / "02 - Second Wind.wav";
  const auto short_one = dir_ / "03 Short.wav";
  WriteMusic(one, 1, 16);
  WriteMusic(two, 2, 16);
  WriteMusic(short_one, 3, 2);

  // No tags: the album needs its title and artist from the options.
  auto refused = Sonquix({"catalog", "add-album", db_, one.string()});
  EXPECT_NE(refused.code, 0);
  EXPECT_NE(refused.err.find("--album"), std::string::npos);

  auto added = Sonquix({"catalog", "add-album", db_, one.string(), two.string(), short_one.string(),
                        "--artist", "Synth", "--album", "Tones", "--year", "2026"});
  ASSERT_EQ(added.code, 0) << added.err;
  EXPECT_NE(added.out.find("3 tracks, 2 fingerprinted"), std::string::npos) << added.out;
  EXPECT_NE(added.err.find("03 Short.wav"), std::string::npos);  // warned, still added

  const auto j = nlohmann::json::parse(Sonquix({"catalog", "export", db_}).out);
  const auto& disc = j["discs"][0];
  EXPECT_EQ(disc["artist"], "Synth");
  EXPECT_EQ(disc["year"], 2026);
  ASSERT_EQ(disc["tracks"].size(), 3u);
  EXPECT_EQ(disc["tracks"][0]["title"], "First Light");
  EXPECT_EQ(disc["tracks"][1]["title"], "Second Wind");
  // Each fingerprinted track carries its ladder, rung 0 first: the file's own signature.
  ASSERT_TRUE(disc["tracks"][0].contains("signatures"));
  EXPECT_GT(disc["tracks"][0]["signatures"].size(), 1u);
  const auto fingerprinted = RunCommand(AddFingerprintCommand, {"fingerprint", one.string()});
  EXPECT_NE(fingerprinted.out.find(disc["tracks"][0]["signatures"][0].get<std::string>()),
            std::string::npos)
      << fingerprinted.out;
  EXPECT_FALSE(disc["tracks"][2].contains("signatures"));

  // The same album again is refused as a whole.
  EXPECT_NE(
      Sonquix({"catalog", "add-album", db_, one.string(), "--artist", "Synth", "--album", "Tones"})
          .code,
      0);
}

// Writes a tag naming the track (and, in number, perhaps the album's total: "3/12").
void TagTrack(const std::filesystem::path& path, const std::u16string& title,
              const std::u16string& number) {
  ComPtr<IFileTag> tag;
  ASSERT_TRUE(SUCCEEDED(catalog::CreateCatalogFileTag(false, IFileTag::kIid, tag.OutVoid())));
  tag->put_Artist(Bstr(u"Gap Band").Get());
  tag->put_AlbumTitle(Bstr(u"Partial").Get());
  tag->put_Title(Bstr(title).Get());
  tag->put_TrackNumber(Bstr(number).Get());
  ASSERT_TRUE(
      SUCCEEDED(catalog::SaveCatalogFileTag(tag.Get(), Bstr::FromUtf8(path.string()).Get())));
}

TEST_F(CatalogCommandTest, AddAlbumCountsTracksByTheirNumbersNotByTheFiles) {
  // A partial album: tracks 2, 6 and 21 of it. Its count is at least the highest number.
  std::vector<std::string> files;
  for (const auto& [number, title] :
       std::vector<std::pair<int, std::u16string>>{{2, u"Two"}, {6, u"Six"}, {21, u"Twenty-One"}}) {
    const auto path = dir_ / ("track" + std::to_string(number) + ".wav");
    WriteMusic(path, static_cast<uint32_t>(number), 1);
    TagTrack(path, title, Utf8ToUtf16(std::to_string(number)));
    files.push_back(path.string());
  }
  std::vector<std::string> args = {"catalog", "add-album", db_};
  args.insert(args.end(), files.begin(), files.end());
  auto added = Sonquix(args);
  ASSERT_EQ(added.code, 0) << added.err;
  auto disc = nlohmann::json::parse(Sonquix({"catalog", "export", db_}).out)["discs"][0];
  EXPECT_EQ(disc["track_count"], 21);
  ASSERT_EQ(disc["tracks"].size(), 3u);
  EXPECT_EQ(disc["tracks"][2]["number"], 21);

  // With the tags' total, the total is the count.
  const auto other = (dir_ / "other.db").string();
  const auto path = dir_ / "total.wav";
  WriteMusic(path, 9, 1);
  TagTrack(path, u"Three", u"3/12");
  ASSERT_EQ(Sonquix({"catalog", "add-album", other, path.string()}).code, 0);
  disc = nlohmann::json::parse(Sonquix({"catalog", "export", other}).out)["discs"][0];
  EXPECT_EQ(disc["track_count"], 12);
  EXPECT_EQ(disc["tracks"][0]["number"], 3);
}

// Writes a tag of one track of the two-disc "Soundtrack" (disc is "1/2", "2/2", "2" or empty).
void TagDiscTrack(const std::filesystem::path& path, const std::u16string& title,
                  const std::u16string& number, const std::u16string& disc) {
  ComPtr<IFileTag> tag;
  ASSERT_TRUE(SUCCEEDED(catalog::CreateCatalogFileTag(false, IFileTag::kIid, tag.OutVoid())));
  tag->put_Artist(Bstr(u"Score Band").Get());
  tag->put_AlbumTitle(Bstr(u"Soundtrack").Get());
  tag->put_Title(Bstr(title).Get());
  tag->put_TrackNumber(Bstr(number).Get());
  tag->put_DiscNumber(Bstr(disc).Get());
  ASSERT_TRUE(
      SUCCEEDED(catalog::SaveCatalogFileTag(tag.Get(), Bstr::FromUtf8(path.string()).Get())));
}

TEST_F(CatalogCommandTest, TwoDiscsOfOneAlbumAreAddedApartAndListedTogether) {
  std::vector<std::string> disc1, disc2;
  for (int disc = 1; disc <= 2; ++disc) {
    for (int track = 1; track <= 2; ++track) {
      const auto path = dir_ / ("d" + std::to_string(disc) + "t" + std::to_string(track) + ".wav");
      WriteMusic(path, static_cast<uint32_t>(10 * disc + track), 1);
      TagDiscTrack(path, Utf8ToUtf16("Cue " + std::to_string(disc) + "." + std::to_string(track)),
                   Utf8ToUtf16(std::to_string(track)), Utf8ToUtf16(std::to_string(disc) + "/2"));
      (disc == 1 ? disc1 : disc2).push_back(path.string());
    }
  }
  auto add = [&](const std::vector<std::string>& files, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"catalog", "add-album", db_};
    args.insert(args.end(), files.begin(), files.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return Sonquix(args);
  };
  // Disc 1 keeps the identifier derived before discs were numbered: the first 12 hex digits of
  // the MD5 of "Score Band\nSoundtrack".
  auto first = add(disc1);
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_NE(first.out.find("added D-60c61c71d31e  Score Band - Soundtrack, disc 1 of 2: 2 tracks"),
            std::string::npos)
      << first.out;
  auto second = add(disc2);
  ASSERT_EQ(second.code, 0) << second.err;
  EXPECT_NE(second.out.find("disc 2 of 2"), std::string::npos) << second.out;
  EXPECT_NE(second.out.find("the catalogue holds 2 discs of this release: D-60c61c71d31e (disc 1)"),
            std::string::npos)
      << second.out;

  auto j = nlohmann::json::parse(Sonquix({"catalog", "export", db_}).out);
  ASSERT_EQ(j["discs"].size(), 2u);
  const std::string id2 = j["discs"][1]["identifier"];
  EXPECT_EQ(j["discs"][0]["identifier"], "D-60c61c71d31e");
  EXPECT_NE(id2, "D-60c61c71d31e");
  EXPECT_EQ(j["discs"][1]["disc_number"], 2);
  EXPECT_EQ(j["discs"][1]["disc_count"], 2);
  EXPECT_EQ(j["discs"][1]["tracks"][0]["title"], "Cue 2.1");
  EXPECT_EQ(j["discs"][1]["tracks"][0]["identifier"], id2 + "-1");
  const std::string listed = Sonquix({"catalog", "list", db_}).out;
  const size_t at1 = listed.find("Soundtrack, disc 1 of 2"),
               at2 = listed.find("Soundtrack, disc 2 of 2");
  ASSERT_NE(at1, std::string::npos) << listed;
  ASSERT_NE(at2, std::string::npos) << listed;
  EXPECT_LT(at1, at2);

  // Again: refused in words, nothing changed; with --replace the disc is replaced whole.
  auto again = add(disc2);
  EXPECT_NE(again.code, 0);
  EXPECT_NE(
      again.err.find("Score Band - Soundtrack, disc 2 of 2 is already in the catalogue as " + id2),
      std::string::npos)
      << again.err;
  EXPECT_NE(again.err.find("use --replace to replace it"), std::string::npos);
  EXPECT_EQ(again.err.find("UNIQUE"), std::string::npos);
  auto replaced = add({disc2[1]}, {"--replace"});
  ASSERT_EQ(replaced.code, 0) << replaced.err;
  EXPECT_NE(replaced.out.find("replaced " + id2), std::string::npos) << replaced.out;
  j = nlohmann::json::parse(Sonquix({"catalog", "export", db_}).out);
  ASSERT_EQ(j["discs"].size(), 2u);
  ASSERT_EQ(j["discs"][1]["tracks"].size(), 1u);
  EXPECT_EQ(j["discs"][1]["tracks"][0]["title"], "Cue 2.2");

  // --disc overrides the tags; files naming different discs are refused without it.
  auto third = add({disc1[0]}, {"--disc", "3"});
  ASSERT_EQ(third.code, 0) << third.err;
  EXPECT_NE(third.out.find("disc 3 of 3"), std::string::npos) << third.out;
  auto mixed = add({disc1[0], disc2[0]});
  EXPECT_NE(mixed.code, 0);
  EXPECT_NE(mixed.err.find("different discs (1 and 2"), std::string::npos) << mixed.err;

  // An import of a disc already there says so, and --replace takes it.
  const std::string dump = Sonquix({"catalog", "export", db_}).out;
  const auto file = Write("dump.json", dump);
  auto imported = Sonquix({"catalog", "import", db_, file});
  EXPECT_NE(imported.code, 0);
  EXPECT_NE(imported.err.find("disc Score Band - Soundtrack, disc 1 of 2 (D-60c61c71d31e) is "
                              "already in the catalogue; use --replace"),
            std::string::npos)
      << imported.err;
  EXPECT_EQ(imported.err.find("UNIQUE"), std::string::npos);
  ASSERT_EQ(Sonquix({"catalog", "import", db_, file, "--replace"}).code, 0);
  EXPECT_EQ(Sonquix({"catalog", "export", db_}).out, dump);
}

TEST_F(CatalogCommandTest, ImportRefusesACountBelowTheHighestTrack) {
  auto refused = Sonquix(
      {"catalog", "import", db_,
       Write("gap.json",
             "{\"discs\": [{\"identifier\": \"D-GAP\", \"album\": \"A\", \"artist\": \"B\", "
             "\"track_count\": 15, \"tracks\": [{\"number\": 2, \"title\": \"T2\", "
             "\"identifier\": \"T-2\"}, {\"number\": 24, \"title\": \"T24\", "
             "\"identifier\": \"T-24\"}]}]}")});
  EXPECT_NE(refused.code, 0);
  EXPECT_NE(
      refused.err.find("\"track_count\" of disc D-GAP is 15, below its highest track number 24"),
      std::string::npos)
      << refused.err;
  // Without a count the tracks decide it; gaps stay gaps.
  auto imported = Sonquix(
      {"catalog", "import", db_,
       Write("nocount.json",
             "{\"discs\": [{\"identifier\": \"D-GAP\", \"album\": \"A\", \"artist\": \"B\", "
             "\"tracks\": [{\"number\": 2, \"title\": \"T2\", \"identifier\": \"T-2\"}, "
             "{\"number\": 24, \"title\": \"T24\", \"identifier\": \"T-24\"}]}]}")});
  ASSERT_EQ(imported.code, 0) << imported.err;
  const auto disc = nlohmann::json::parse(Sonquix({"catalog", "export", db_}).out)["discs"][0];
  EXPECT_EQ(disc["track_count"], 24);
  EXPECT_EQ(disc["tracks"].size(), 2u);
}

}  // namespace
}  // namespace pelk::cli
