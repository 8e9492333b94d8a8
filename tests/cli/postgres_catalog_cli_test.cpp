// The host against a catalogue in PostgreSQL: the demo's catalogue exported from its file and
// imported into a database with the catalog commands; then identify, album and library give the
// same answers from the database as from the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands/album_command.h"
#include "cli/commands/catalog_command.h"
#include "cli/commands/demo_command.h"
#include "cli/commands/identify_command.h"
#include "cli/commands/library_command.h"
#include "cli/library/audio_files.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/pg_test_database.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

class PostgresCatalogCliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    demo_ = fs::temp_directory_path() / ("pelk-cli-postgres-" + std::to_string(::getpid()));
    fs::remove_all(demo_);
    const Outcome run = RunCommand(AddDemoCommand, {"demo", "--json", "--keep", demo_.string()});
    ASSERT_EQ(run.code, 0) << run.err;
  }
  static void TearDownTestSuite() { fs::remove_all(demo_); }
  void SetUp() override {
    ASSERT_TRUE(db_.error().empty()) << db_.error();
    ASSERT_TRUE(fs::exists(File()));
  }

  static Outcome Sonquix(std::vector<std::string> args) {
    return RunCommand(
        [](CLI::App& app) {
          AddCatalogCommand(app);
          AddIdentifyCommand(app);
          AddAlbumCommand(app);
          AddLibraryCommand(app);
        },
        std::move(args));
  }
  static std::string File() { return (demo_ / "catalog.db").string(); }
  static std::string Library() { return (demo_ / "library").string(); }
  // The demo's catalogue as JSON, in a file.
  static std::string Exported() {
    const Outcome exported = Sonquix({"catalog", "export", File()});
    EXPECT_EQ(exported.code, 0) << exported.err;
    const fs::path path = demo_ / "catalog.json";
    std::ofstream(path) << exported.out;
    return path.string();
  }
  void Import() const {
    const Outcome imported = Sonquix({"catalog", "import", db_.location(), Exported()});
    ASSERT_EQ(imported.code, 0) << imported.err;
  }
  static std::vector<nlohmann::json> Lines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
  }
  // The library run's report by file: what was found for each.
  std::map<std::string, nlohmann::json> LibraryReport(const std::string& catalog,
                                                      const std::string& name) const {
    const std::string report = (demo_ / (name + ".jsonl")).string();
    fs::remove(report);
    const Outcome run = Sonquix({"library", Library(), "--catalog", catalog, "--report", report});
    EXPECT_EQ(run.code, 0) << run.err;
    std::ifstream in(report);
    std::ostringstream text;
    text << in.rdbuf();
    std::map<std::string, nlohmann::json> by_file;
    for (const nlohmann::json& line : Lines(text.str())) by_file[line["file"]] = line;
    return by_file;
  }

  static inline fs::path demo_;
  testing::ScopedPgDatabase db_;
};

TEST_F(PostgresCatalogCliTest, CatalogCommandsWorkOnADatabase) {
  // An empty database is no catalogue to identify from; nothing is laid out in it.
  const Outcome empty = Sonquix({"identify", "--catalog", db_.location(), File()});
  EXPECT_NE(empty.code, 0);
  EXPECT_NE(empty.err.find("no catalogue in " + db_.location() + " (make one with"),
            std::string::npos)
      << empty.err;
  std::string tables;
  EXPECT_EQ(db_.Sql("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'", &tables), "");
  EXPECT_EQ(tables, "0");

  const Outcome created = Sonquix({"catalog", "create", db_.location()});
  ASSERT_EQ(created.code, 0) << created.err;
  EXPECT_EQ(created.out, "created " + db_.location() + "\n");
  const Outcome again = Sonquix({"catalog", "create", db_.location()});
  EXPECT_NE(again.code, 0);
  EXPECT_NE(again.err.find("already holds a catalogue"), std::string::npos) << again.err;

  Import();
  const Outcome twice = Sonquix({"catalog", "import", db_.location(), Exported()});
  EXPECT_NE(twice.code, 0);
  EXPECT_NE(twice.err.find("nothing imported: disc "), std::string::npos) << twice.err;
  EXPECT_NE(twice.err.find("use --replace"), std::string::npos) << twice.err;
  const Outcome replaced = Sonquix({"catalog", "import", db_.location(), Exported(), "--replace"});
  EXPECT_EQ(replaced.code, 0) << replaced.err;

  // The database holds what the file holds, to the last rung.
  EXPECT_EQ(Sonquix({"catalog", "export", db_.location()}).out,
            Sonquix({"catalog", "export", File()}).out);
  EXPECT_EQ(Sonquix({"catalog", "list", db_.location()}).out,
            Sonquix({"catalog", "list", File()}).out);
  auto stats = [](const std::string& catalog) {
    nlohmann::json j = nlohmann::json::parse(Sonquix({"catalog", "stats", catalog, "--json"}).out);
    EXPECT_EQ(j["path"], catalog);
    j.erase("path");
    return j;
  };
  const nlohmann::json from_db = stats(db_.location());
  EXPECT_EQ(from_db, stats(File()));
  EXPECT_GT(from_db["signatures"].get<int>(), from_db["tracks"].get<int>());

  const Outcome missing = Sonquix({"catalog", "list",
                                   db_.location().substr(0, db_.location().find('?')) + "_none" +
                                       db_.location().substr(db_.location().find('?'))});
  EXPECT_NE(missing.code, 0);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
}

TEST_F(PostgresCatalogCliTest, FilesAlbumsAndLibrariesAreIdentifiedAsFromTheFile) {
  Import();
  const std::vector<std::string> files = CollectAudioFiles({Library()}).files;
  ASSERT_GE(files.size(), 10u);

  std::vector<std::string> identify = {"identify", "--json", "--catalog", ""};
  identify.insert(identify.end(), files.begin(), files.end());
  identify[3] = File();
  const Outcome from_file = Sonquix(identify);
  identify[3] = db_.location();
  const Outcome from_db = Sonquix(identify);
  ASSERT_EQ(from_db.code, 0) << from_db.err;
  const auto file_lines = Lines(from_file.out), db_lines = Lines(from_db.out);
  ASSERT_EQ(db_lines.size(), files.size());
  ASSERT_EQ(file_lines.size(), files.size());
  size_t identified = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    nlohmann::json a = file_lines[i], b = db_lines[i];
    a.erase("time_ms");
    b.erase("time_ms");
    EXPECT_EQ(b, a) << files[i];
    identified += b["identified"].get<bool>();
  }
  EXPECT_GE(identified, files.size() / 2);

  const Outcome album_file = Sonquix({"album", Library(), "--catalog", File(), "--json"});
  const Outcome album_db = Sonquix({"album", Library(), "--catalog", db_.location(), "--json"});
  ASSERT_EQ(album_db.code, 0) << album_db.err;
  EXPECT_EQ(nlohmann::json::parse(album_db.out), nlohmann::json::parse(album_file.out));
  EXPECT_GE(nlohmann::json::parse(album_db.out)["albums"].size(), 2u);

  const auto report_file = LibraryReport(File(), "from-file");
  const auto report_db = LibraryReport(db_.location(), "from-db");
  EXPECT_EQ(report_db.size(), files.size());
  EXPECT_EQ(report_db, report_file);
}

TEST_F(PostgresCatalogCliTest, ALibraryRunGoesOnPastLookupsThatFailAndResumesThem) {
  Import();
  // A role that may open the catalogue but read none of it: every lookup fails, as when the
  // server goes away in the middle of a run.
  const std::string role = "sonquix_meta_only_" + db_.name();
  ASSERT_EQ(db_.Sql("CREATE ROLE " + role + " LOGIN"), "");
  ASSERT_EQ(db_.Sql("GRANT SELECT ON meta TO " + role), "");
  std::string location = db_.location();
  location.replace(location.find("user=postgres"), std::string("user=postgres").size(),
                   "user=" + role);
  const size_t files = CollectAudioFiles({Library()}).files.size();
  const std::string report = (demo_ / "failing.jsonl").string();
  fs::remove(report);
  const auto report_lines = [&] {
    std::ifstream in(report);
    std::ostringstream text;
    text << in.rdbuf();
    return Lines(text.str());
  };

  for (const std::string mode : {"--tracks", ""}) {
    SCOPED_TRACE(mode.empty() ? "album mode" : "track mode");
    fs::remove(report);
    std::vector<std::string> args = {"library", Library(),  "--catalog",
                                     location,  "--report", report};
    if (!mode.empty()) args.push_back(mode);
    const Outcome failing = Sonquix(args);
    EXPECT_EQ(failing.code, 1) << failing.err;
    // Every file has its line, saying why it has no answer.
    std::map<std::string, int> seen;
    for (const nlohmann::json& line : report_lines()) {
      ++seen[line["file"]];
      EXPECT_EQ(line["certainty"], "error") << line.dump();
      EXPECT_NE(line["confidence"].get<std::string>().find(
                    "catalogue lookup failed: cannot search the texts"),
                std::string::npos)
          << line.dump();
    }
    EXPECT_EQ(seen.size(), files);
    for (const auto& [file, count] : seen) EXPECT_EQ(count, 1) << file;
  }

  // With the catalogue readable again, --resume tries every failed file again.
  ASSERT_EQ(db_.Sql("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + role), "");
  const Outcome resumed =
      Sonquix({"library", Library(), "--catalog", location, "--report", report, "--resume"});
  EXPECT_EQ(resumed.code, 0) << resumed.err;
  EXPECT_EQ(resumed.err.find("already in"), std::string::npos) << resumed.err;
  std::map<std::string, nlohmann::json> last;
  for (const nlohmann::json& line : report_lines()) last[line["file"]] = line;
  EXPECT_EQ(last, LibraryReport(File(), "from-file"));
  EXPECT_EQ(report_lines().size(), 2 * files);
  ASSERT_EQ(db_.Sql("DROP OWNED BY " + role + "; DROP ROLE " + role), "");
}

}  // namespace
}  // namespace pelk::cli
