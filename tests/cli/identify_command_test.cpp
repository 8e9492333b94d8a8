// sonquix identify and sonquix score against a catalogue made in the test from synthesized,
// tagged audio, with both modules loaded as the host loads them.
#include "cli/commands/identify_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "catalog/file_tag.h"
#include "cli/commands/catalog_command.h"
#include "cli/commands/score_command.h"
#include "cli/module_session.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "tests/cli/audio_encode.h"
#include "tests/cli/cli_runner.h"
#include "tests/cli/tones_catalog.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

class IdentifyCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("pelk-cli-identify-" + std::to_string(::getpid()));
    MakeTonesCatalog(dir_, "D-TEST");
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static std::string Db() { return (dir_ / "catalog.db").string(); }
  // A new file in the test's folder: `seconds` of the music of `seed`, tagged when tags given.
  static std::string File(const std::string& name, uint32_t seed, double seconds,
                          const Tags* tags = nullptr) {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    WriteMusic(path, seed, seconds);
    if (tags) WriteTags(path, *tags);
    return path.string();
  }

  // The music of `seed` as mono FLAC, which the host decodes and fingerprints itself.
  static std::string Flac(const std::string& name, uint32_t seed) {
    const fs::path path = dir_ / name;
    const fs::path wav = dir_ / (name + ".source.wav");
    WriteMusic(wav, seed, 16);
    EXPECT_TRUE(EncodeAudio(wav, path, {"-c:a", "flac"}));
    fs::remove(wav);
    return path.string();
  }

  static Outcome Sonquix(std::vector<std::string> args) {
    return RunCommand(
        [](CLI::App& app) {
          AddIdentifyCommand(app);
          AddScoreCommand(app);
        },
        std::move(args));
  }
  // The JSON lines of a run, one per file.
  static std::vector<nlohmann::json> Lines(const Outcome& run) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }

  static inline fs::path dir_;
};

TEST_F(IdentifyCommandTest, FindsFilesByIdentifierFingerprintAndText) {
  const Tags id_only{"", "", "", "", "D-TEST-2"};
  const Tags text_tags{"Synth", "Tones", "First Light", "1", ""};
  const std::string by_id = File("rips/a.wav", 99, 2, &id_only);
  const std::string by_fp = File("misc/untitled.wav", 13, 16);            // track 3's audio, no tag
  const std::string by_text = File("clips/clip.wav", 11, 3, &text_tags);  // too short for a print
  const std::string flac = Flac("track2.flac", 12);

  const Outcome run =
      Sonquix({"identify", "--catalog", Db(), "--json", by_id, by_fp, by_text, flac});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto lines = Lines(run);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  const std::pair<std::string, int> expected[] = {
      {"tag identifier", 2}, {"waveform", 3}, {"text", 1}, {"waveform", 2}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(lines[i].dump());
    EXPECT_EQ(lines[i]["identified"], true);
    EXPECT_EQ(lines[i]["match_code"], 3);  // one answer
    ASSERT_EQ(lines[i]["candidates"].size(), 1u);
    const auto& c = lines[i]["candidates"][0];
    EXPECT_EQ(c["match_type_name"], expected[i].first);
    EXPECT_EQ(c["disc"]["identifier"], "D-TEST");
    EXPECT_EQ(c["disc"]["artist"], "Synth");
    EXPECT_EQ(c["disc"]["album"], "Tones");
    EXPECT_EQ(c["track"]["number"], expected[i].second);
    EXPECT_EQ(c["track"]["title"], kToneTitles[expected[i].second - 1]);
    EXPECT_GE(c["score"].get<int>(), 0);
    EXPECT_FALSE(c["found_by"].get<std::string>().empty());
  }
  // The identifier is the track's own: the identifier shortcut of the scorer gives 100.
  EXPECT_EQ(lines[0]["candidates"][0]["score"], 100);
  EXPECT_EQ(lines[1]["fingerprint"], "module");
  EXPECT_EQ(lines[3]["fingerprint"], "host");

  // The option flags reach TrackID: without waveform queries the untagged copy is not found.
  const Outcome no_wf = Sonquix({"identify", "--catalog", Db(), "--json", "--no-waveform", by_fp});
  ASSERT_EQ(no_wf.code, 0) << no_wf.err;
  EXPECT_EQ(Lines(no_wf)[0]["identified"], false);
  EXPECT_NE(Sonquix({"identify", "--catalog", Db(), by_fp}).out.find("found by a fingerprint"),
            std::string::npos);
}

TEST_F(IdentifyCommandTest, AllPrintsEveryCandidate) {
  // Track 3's audio tagged as track 1: the fingerprint and the tag disagree.
  const Tags wrong{"Synth", "Tones", "First Light", "1", ""};
  const std::string file = File("wrong/First Light.wav", 13, 16, &wrong);
  const auto single = Lines(Sonquix({"identify", "--catalog", Db(), "--json", file}));
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0]["candidates"].size(), 1u);

  const Outcome all = Sonquix({"identify", "--catalog", Db(), "--json", "--all", file});
  ASSERT_EQ(all.code, 0) << all.err;
  const auto line = Lines(all).at(0);
  EXPECT_EQ(line["match_code"], 2);  // several candidates
  std::set<int> tracks;
  for (const auto& c : line["candidates"]) {
    EXPECT_EQ(c["match_code_name"], "candidate");
    tracks.insert(c["track"]["number"].get<int>());
  }
  EXPECT_TRUE(tracks.count(1) && tracks.count(3)) << line.dump();
}

TEST_F(IdentifyCommandTest, BadInputFailsWithOneLine) {
  const std::string good = File("misc/good.wav", 12, 16);
  const Outcome missing =
      Sonquix({"identify", "--catalog", Db(), (dir_ / "missing.wav").string(), good});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.out.find("missing.wav: cannot be identified: no such file"), std::string::npos)
      << missing.out;
  EXPECT_NE(missing.out.find("good.wav: identified"), std::string::npos) << missing.out;

  const Outcome bad_flag = Sonquix({"identify", "--catalog", Db(), "--no-wavefrom", good});
  EXPECT_NE(bad_flag.code, 0);
  EXPECT_NE(bad_flag.err.find("--no-wavefrom"), std::string::npos) << bad_flag.err;
  const Outcome no_catalog = Sonquix({"identify", "--catalog", (dir_ / "none.db").string(), good});
  EXPECT_NE(no_catalog.code, 0);
  EXPECT_NE(no_catalog.err.find("no catalogue at"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "none.db"));  // not created by the attempt
  for (const char* options : {"0x30", "0x3300", "0x3311", "nine"}) {
    EXPECT_NE(Sonquix({"identify", "--catalog", Db(), "--options", options, good}).code, 0)
        << options;
  }
}

TEST(TrackIdOptionsTest, FlagsApplyOnTheDefaultOrTheRawSet) {
  EXPECT_EQ(TrackIdOptions("", {}, false), SONQUIX_DEFAULT_OPTIONS);
  EXPECT_EQ(TrackIdOptions("0", {}, true),
            (SONQUIX_DEFAULT_OPTIONS & ~SONQUIX_RETURN_SINGLE) | SONQUIX_RETURN_ALL);
  EXPECT_EQ(TrackIdOptions("", {"--no-waveform", "--no-tags", "--no-filename-parsing"}, false),
            (SONQUIX_DEFAULT_OPTIONS & ~0x3000) | SONQUIX_DISABLE_WF_QUERIES |
                SONQUIX_DISABLE_FILENAME_PARSING);
  EXPECT_EQ(TrackIdOptions("0x20", {"--extra-text-queries"}, false),
            SONQUIX_RETURN_ALL | SONQUIX_EXTRA_TEXT_QUERIES);
}

TEST(ModuleSessionTest, ModulesComeFromTheOverrideFolderElseTheBuild) {
  const ModulePaths built = FindModules();
  EXPECT_TRUE(fs::exists(built.sonquix) && fs::exists(built.control));
  ::setenv("PELK_MODULE_DIR", "/opt/pelk", 1);
  const ModulePaths moved = FindModules();
  ::unsetenv("PELK_MODULE_DIR");
  EXPECT_EQ(moved.sonquix, "/opt/pelk/libpelksonquix.so");
  EXPECT_EQ(moved.control, "/opt/pelk/libpelkcontrol.so");
}

TEST_F(IdentifyCommandTest, ScoreExplainsATaggedFile) {
  const Tags tags{"Synth", "Tones", "Second Wind", "2", ""};
  const std::string file = File("Synth/Tones/02 Second Wind.wav", 12, 3, &tags);
  const Outcome run = Sonquix({"score", file, "--disc", "D-TEST", "--catalog", Db(), "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["score"], 100);
  EXPECT_EQ(j["text_score"], 100);
  EXPECT_EQ(j["track"], 2);  // the best of the three
  EXPECT_EQ(j["track_chosen"], "best");
  ASSERT_EQ(j["scores_by_track"].size(), 3u);
  EXPECT_LT(j["scores_by_track"][0].get<int>(), 100);
  EXPECT_EQ(j["similarities"].size(), 14u);
  EXPECT_EQ(j["title"]["from"], "tag-title");
  EXPECT_EQ(j["title"]["value"], 100);
  EXPECT_EQ(j["hint"]["track"], 2);
  EXPECT_EQ(j["hint"]["adds_10"], true);
  EXPECT_EQ(j["file_side"]["folder B"]["raw"], "Tones");
  EXPECT_EQ(j["file_side"]["F3"]["raw"], "02 Second Wind");
  EXPECT_EQ(j["disc_side"]["track title"]["raw"], "Second Wind");
  EXPECT_EQ(j["identifiers"]["itunes"], nullptr);

  const Outcome text =
      Sonquix({"score", file, "--disc", "D-TEST", "--catalog", Db(), "--track", "1"});
  ASSERT_EQ(text.code, 0) << text.err;
  for (const char* field : {"tag-title", "F-title", "folder B", "hint", "text score", "score"}) {
    EXPECT_NE(text.out.find(field), std::string::npos) << field;
  }
  EXPECT_EQ(text.out.find("score      100"), std::string::npos) << text.out;  // not track 1

  const Outcome beyond =
      Sonquix({"score", file, "--disc", "D-TEST", "--catalog", Db(), "--track", "4"});
  EXPECT_NE(beyond.code, 0);
  EXPECT_NE(beyond.err.find("--track 4: the disc has 3 tracks"), std::string::npos) << beyond.err;
  EXPECT_NE(Sonquix({"score", file, "--disc", "D-NONE", "--catalog", Db()}).code, 0);
}

TEST_F(IdentifyCommandTest, ScoreDistanceShowsWhatTheOlderLookupsSee) {
  const Tags tags{"Synth", "Tones", "Second Wind", "2", ""};
  const std::string file = File("Synth/Tones/02 Second Wind.wav", 12, 3, &tags);
  auto distance = [&](const char* track) {
    const Outcome run = Sonquix({"score", file, "--disc", "D-TEST", "--catalog", Db(), "--json",
                                 "--distance", "--track", track});
    EXPECT_EQ(run.code, 0) << run.err;
    return nlohmann::json::parse(run.out)["track_distance"];
  };
  const auto own = distance("2");
  const auto other = distance("1");
  // A complete tag: the older lookups compare the tag alone, and the tagged track is nearest.
  EXPECT_EQ(own["used"], "complete_tag");
  EXPECT_LT(own["complete_tag"].get<int>(), other["complete_tag"].get<int>());
  EXPECT_LT(own["plain"].get<int>(), other["plain"].get<int>());
  // Without the flag nothing of it is printed.
  const Outcome plain = Sonquix({"score", file, "--disc", "D-TEST", "--catalog", Db()});
  EXPECT_EQ(plain.out.find("track distance"), std::string::npos);
}

}  // namespace
}  // namespace pelk::cli
