// sonquix demo end to end: the catalogue and library it builds, and its report.
#include "cli/commands/demo_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/cli/cli_runner.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

TEST(DemoCommandTest, ReportsEveryFileAgainstWhatWasExpected) {
  const fs::path dir = fs::temp_directory_path() / ("pelk-cli-demo-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  const Outcome run = RunCommand(AddDemoCommand, {"demo", "--json", "--keep", dir.string()});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto j = nlohmann::json::parse(run.out);
  EXPECT_GE(j["albums"].get<int>(), 5);
  EXPECT_GE(j["tracks"].get<int>(), 40);
  EXPECT_TRUE(fs::exists(dir / "catalog.db"));

  const auto& files = j["files"];
  ASSERT_EQ(files.size(), j["total"].get<size_t>());
  int correct = 0, not_in_catalogue = 0;
  for (const auto& f : files) {
    SCOPED_TRACE(f.dump());
    EXPECT_TRUE(fs::exists(dir / f["file"].get<std::string>()));
    EXPECT_FALSE(f.contains("error"));
    correct += f["correct"].get<bool>() ? 1 : 0;
    const std::string kind = f["kind"];
    // Files whose tags name them fully, or carry the catalogue's identifier, leave no doubt.
    if (kind == "properly tagged" || kind.find("identifier") != std::string::npos) {
      EXPECT_TRUE(f["correct"].get<bool>());
      EXPECT_EQ(f["found"]["disc_identifier"], f["expected"]["disc_identifier"]);
    }
    if (f["expected"].is_null()) {
      ++not_in_catalogue;
      EXPECT_TRUE(f["found"].is_null());
    }
  }
  EXPECT_EQ(not_in_catalogue, 1);
  EXPECT_EQ(j["correct"].get<int>(), correct);
  EXPECT_GT(j["median_trackid_ms"].get<double>(), 0.0);

  // The folder must be new or empty.
  EXPECT_NE(RunCommand(AddDemoCommand, {"demo", "--keep", dir.string()}).code, 0);
  fs::remove_all(dir);
}

// Apart from the run above, so that the two demos (minutes each under ThreadSanitizer) can run
// side by side.
TEST(DemoCommandTest, WithoutKeepPrintsThePeoplesReportAndLeavesNothingBehind) {
  // Without --keep: the people's report, and the temporary folder is gone afterwards (a private
  // temporary root, so that other programs' files do not count).
  const fs::path temp_root =
      fs::temp_directory_path() / ("pelk-cli-demo-" + std::to_string(::getpid()) + "-tmp");
  fs::create_directories(temp_root);
  const char* old_tmpdir = std::getenv("TMPDIR");
  const std::string saved = old_tmpdir ? old_tmpdir : "";
  ::setenv("TMPDIR", temp_root.c_str(), 1);
  const Outcome plain = RunCommand(AddDemoCommand, {"demo"});
  old_tmpdir ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
  ASSERT_EQ(plain.code, 0) << plain.err;
  // "library: N files" at the head, "... of N identified correctly" at the end.
  const size_t head = plain.out.find("library: ");
  ASSERT_NE(head, std::string::npos) << plain.out;
  const int files = std::atoi(plain.out.c_str() + head + 9);
  EXPECT_GE(files, 10);
  EXPECT_NE(plain.out.find(" of " + std::to_string(files) + " identified correctly"),
            std::string::npos)
      << plain.out;
  EXPECT_NE(plain.out.find("ms per TrackID"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(temp_root));
  fs::remove_all(temp_root);
}

}  // namespace
}  // namespace pelk::cli
