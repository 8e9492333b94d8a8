// sonquix album and sonquix library end to end on the demo's catalogue and messy library.
#include "cli/commands/library_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "catalog/tag_mapping.h"
#include "cli/audio/audio_decoder.h"
#include "cli/commands/album_command.h"
#include "cli/commands/demo_command.h"
#include "cli/library/audio_files.h"
#include "runtime/utf.h"
#include "tests/cli/cli_runner.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

class LibraryCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Under ctest the demo is built once for every test of the suite (tests/CMakeLists.txt).
    if (fs::exists(fs::path(SONQUIX_TEST_LIBRARY_DEMO) / "catalog.db")) {
      demo_ = SONQUIX_TEST_LIBRARY_DEMO;
      shared_ = true;
      return;
    }
    demo_ = fs::temp_directory_path() / ("pelk-cli-library-" + std::to_string(::getpid()));
    fs::remove_all(demo_);
    const Outcome run = RunCommand(AddDemoCommand, {"demo", "--json", "--keep", demo_.string()});
    ASSERT_EQ(run.code, 0) << run.err;
  }
  static void TearDownTestSuite() {
    if (!shared_) fs::remove_all(demo_);
  }
  void SetUp() override {
    // Each test works in a folder of its own beside the demo's, which it never changes.
    work_ = demo_ / ("work-" + std::to_string(::getpid()) + "-" +
                     std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(work_);
    fs::create_directories(work_);
    fs::copy(demo_ / "library", work_ / "library", fs::copy_options::recursive);
  }
  void TearDown() override { fs::remove_all(work_); }

  static Outcome Sonquix(std::vector<std::string> args) {
    return RunCommand(
        [](CLI::App& app) {
          AddAlbumCommand(app);
          AddLibraryCommand(app);
        },
        std::move(args));
  }
  Outcome Library(std::vector<std::string> extra) const {
    std::vector<std::string> args = {"library",   (work_ / "library").string(),
                                     "--catalog", (demo_ / "catalog.db").string(),
                                     "--report",  Report()};
    args.insert(args.end(), extra.begin(), extra.end());
    return Sonquix(args);
  }
  std::string Report() const { return (work_ / "report.jsonl").string(); }
  std::vector<nlohmann::json> ReportLines() const {
    std::vector<nlohmann::json> lines;
    std::ifstream in(Report());
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }
  std::vector<std::string> LibraryFiles() const {
    return CollectAudioFiles({(work_ / "library").string()}).files;
  }
  // How often each file of the library is named, by the "file" of each object.
  static std::map<std::string, int> Counts(const std::vector<nlohmann::json>& objects) {
    std::map<std::string, int> counts;
    for (const auto& o : objects) ++counts[o["file"].get<std::string>()];
    return counts;
  }
  void ExpectEachFileOnce(const std::map<std::string, int>& counts) const {
    const std::vector<std::string> files = LibraryFiles();
    ASSERT_GE(files.size(), 10u);
    EXPECT_EQ(counts.size(), files.size());
    for (const std::string& file : files) {
      const auto it = counts.find(file);
      EXPECT_TRUE(it != counts.end() && it->second == 1) << file;
    }
  }
  static std::vector<uint8_t> DecodedAudio(const std::string& file) {
    std::string why;
    std::vector<uint8_t> audio;
    const auto decoder = AudioDecoder::Open(file, &why);
    EXPECT_TRUE(decoder) << why;
    if (!decoder) return audio;
    for (;;) {
      const std::vector<uint8_t>& block = decoder->ReadBlock();
      if (block.empty()) return audio;
      audio.insert(audio.end(), block.begin(), block.end());
    }
  }

  static inline fs::path demo_;
  static inline bool shared_ = false;
  fs::path work_;
};

TEST_F(LibraryCommandTest, AlbumPrintsEveryFileGivenOnce) {
  const Outcome run = Sonquix({"album", (work_ / "library").string(), "--catalog",
                               (demo_ / "catalog.db").string(), "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto doc = nlohmann::json::parse(run.out);
  std::vector<nlohmann::json> placed;
  for (const auto& album : doc["albums"]) {
    EXPECT_FALSE(album["identifier"].get<std::string>().empty());
    for (const auto& f : album["files"]) {
      EXPECT_EQ(f["disc"], album["identifier"]);
      EXPECT_EQ(f["certainty"], "sure");
      placed.push_back(f);
    }
  }
  EXPECT_GE(doc["albums"].size(), 2u);
  for (const auto& f : doc["left_over"]) placed.push_back(f);
  ExpectEachFileOnce(Counts(placed));
  // The text form names every file once as well.
  const Outcome text = Sonquix(
      {"album", (work_ / "library").string(), "--catalog", (demo_ / "catalog.db").string()});
  ASSERT_EQ(text.code, 0) << text.err;
  for (const std::string& file : LibraryFiles()) {
    const size_t at = text.out.find(file + "\n");
    EXPECT_NE(at, std::string::npos) << file;
    EXPECT_EQ(text.out.find(file + "\n", at + 1), std::string::npos) << file;
  }
}

TEST_F(LibraryCommandTest, ReportNamesEveryFileOnceAndAStoppedRunResumes) {
  // Album mode takes a folder at a time: stopping after the first list leaves folders undone.
  const Outcome first = Library({"--stop-after", "1"});
  ASSERT_EQ(first.code, 0) << first.err;
  const size_t done_first = ReportLines().size();
  EXPECT_GE(done_first, 1u);
  EXPECT_LT(done_first, LibraryFiles().size());

  const Outcome resumed = Library({"--resume"});
  ASSERT_EQ(resumed.code, 0) << resumed.err;
  EXPECT_NE(resumed.err.find(std::to_string(done_first) + " files already in"), std::string::npos)
      << resumed.err;
  const auto lines = ReportLines();
  ExpectEachFileOnce(Counts(lines));
  for (const auto& line : lines) {
    SCOPED_TRACE(line.dump());
    EXPECT_FALSE(line["confidence"].get<std::string>().empty());
    if (line["identified"].get<bool>()) {
      EXPECT_FALSE(line["disc"].get<std::string>().empty());
      EXPECT_GT(line["track"].get<int>(), 0);
    }
    EXPECT_FALSE(line.contains("tags_changed"));  // nothing written without --write-tags
  }
  // A run with nothing left does nothing and says so.
  const Outcome again = Library({"--resume"});
  EXPECT_EQ(again.code, 0);
  EXPECT_NE(again.err.find("nothing left"), std::string::npos) << again.err;
  EXPECT_EQ(ReportLines().size(), lines.size());
}

TEST_F(LibraryCommandTest, TrackModeReportsEveryFileOnce) {
  const Outcome run = Library({"--tracks"});
  ASSERT_EQ(run.code, 0) << run.err;
  ExpectEachFileOnce(Counts(ReportLines()));
}

TEST_F(LibraryCommandTest, WriteTagsKeepsTheAudioAndReportsAReadOnlyFile) {
  std::map<std::string, std::vector<uint8_t>> audio;
  for (const std::string& file : LibraryFiles()) audio[file] = DecodedAudio(file);
  // Learn which files would get tags, then mark one of them read-only.
  ASSERT_EQ(Library({}).code, 0);
  std::string read_only;
  for (const auto& line : ReportLines()) {
    if (line.contains("tags_would_change") && !line["tags_would_change"].empty()) {
      read_only = line["file"];
    }
  }
  ASSERT_FALSE(read_only.empty());
  fs::permissions(read_only,
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::remove(Report());

  const Outcome run = Library({"--write-tags"});
  ASSERT_EQ(run.code, 0) << run.err;
  int written = 0;
  for (const auto& line : ReportLines()) {
    SCOPED_TRACE(line.dump());
    const std::string file = line["file"];
    EXPECT_EQ(DecodedAudio(file), audio[file]);
    if (file == read_only) {
      EXPECT_EQ(line["tags_written"], false);
      EXPECT_NE(line["tag_error"].get<std::string>().find("read-only"), std::string::npos);
      EXPECT_EQ(fs::status(file).permissions() & fs::perms::owner_write, fs::perms::none);
      continue;
    }
    if (!line.value("tags_written", false)) continue;
    ++written;
    catalog::TagData tags;
    ASSERT_EQ(catalog::ReadTagFile(Utf8ToUtf16(file), &tags), S_OK);
    EXPECT_EQ(Utf16ToUtf8(tags.texts[catalog::kTagArtist]), line["artist"]);
    EXPECT_EQ(Utf16ToUtf8(tags.texts[catalog::kTagTitle]), line["title"]);
    EXPECT_EQ(Utf16ToUtf8(tags.texts[catalog::kTagAlbumTitle]), line["album"]);
    EXPECT_EQ(Utf16ToUtf8(tags.fields[u"PELK_DiscIdentifier"]), line["disc"]);
  }
  EXPECT_GE(written, 5);
  // No copy is left behind in any folder.
  for (const auto& entry : fs::recursive_directory_iterator(work_ / "library")) {
    EXPECT_EQ(entry.path().filename().string().find(".sonquix-"), std::string::npos)
        << entry.path();
  }
}

}  // namespace
}  // namespace pelk::cli
