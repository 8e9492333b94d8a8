// sonquix lookup: LookupFile through both modules, against a catalogue made in the test from
// synthesized, tagged audio; what it committed is read back from the control.
#include "cli/commands/lookup_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "catalog/file_tag.h"
#include "cli/commands/catalog_command.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "tests/cli/cli_runner.h"
#include "tests/cli/tones_catalog.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

class LookupCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("pelk-cli-lookup-" + std::to_string(::getpid()));
    MakeTonesCatalog(dir_, "D-LOOK");
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static std::string Db() { return (dir_ / "catalog.db").string(); }
  static nlohmann::json Lookup(const std::string& file, const std::string& mode) {
    const Outcome run =
        RunCommand(AddLookupCommand, {"lookup", "--catalog", Db(), "--mode", mode, "--json", file});
    EXPECT_EQ(run.code, 0) << run.err;
    return run.out.empty() ? nlohmann::json{} : nlohmann::json::parse(run.out);
  }

  static inline fs::path dir_;
};

TEST_F(LookupCommandTest, CommitsTheDiscFoundByFingerprintOrText) {
  // Track 2's audio without a tag: only the fingerprint can find it.
  const fs::path untagged = dir_ / "misc" / "untitled.wav";
  fs::create_directories(untagged.parent_path());
  WriteMusic(untagged, 12, 16);
  nlohmann::json line = Lookup(untagged.string(), "waveform");
  SCOPED_TRACE(line.dump());
  EXPECT_EQ(line["match_code"], 3);
  EXPECT_EQ(line["fingerprint"], "host");
  ASSERT_EQ(line["committed"].size(), 1u);
  EXPECT_EQ(line["committed"][0]["identifier"], "D-LOOK");
  EXPECT_EQ(line["committed"][0]["track"], 2);
  EXPECT_EQ(line["committed"][0]["title"], "Second Wind");

  // A clip too short to matter, tagged: the text lookup finds it.
  const fs::path clip = dir_ / "clips" / "clip.wav";
  fs::create_directories(clip.parent_path());
  WriteMusic(clip, 99, 2);
  WriteTags(clip, {"Synth", "Tones", "Third Rail", "3", ""});
  line = Lookup(clip.string(), "text");
  EXPECT_EQ(line["match_code"], 3);
  ASSERT_EQ(line["committed"].size(), 1u);
  EXPECT_EQ(line["committed"][0]["title"], "Third Rail");

  // Nothing to look up by text: no match, nothing committed.
  const fs::path other = dir_ / "misc" / "other.wav";
  WriteMusic(other, 55, 3);
  line = Lookup(other.string(), "text");
  EXPECT_EQ(line["match_code"], 1);
  EXPECT_TRUE(line["committed"].empty());
}

TEST(LookupModeTest, NamesAndNumbers) {
  EXPECT_EQ(LookupModeOf("waveform,text|local"), WAVEFORM_LOOKUP | TEXT_LOOKUP | TEXT_LOCAL);
  EXPECT_EQ(LookupModeOf("multi-exact,multi-fuzzy,fuzzy"), 0x70);
  EXPECT_EQ(LookupModeOf("0x13"), 0x13);
  EXPECT_EQ(LookupModeOf("2"), 2);
  const Outcome bad = RunCommand(AddLookupCommand, {"lookup", "--mode", "wave", "x.wav"});
  EXPECT_NE(bad.code, 0);
}

}  // namespace
}  // namespace pelk::cli
