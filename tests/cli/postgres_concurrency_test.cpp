// One PostgreSQL catalogue shared by several processes at once: four identify files while a
// fifth adds albums. Every process is a forked child running the host's own commands, each with
// its own connections, as separate hosts on separate machines would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "catalog/catalog_store.h"
#include "cli/commands/catalog_command.h"
#include "cli/commands/identify_command.h"
#include "tests/cli/tones_catalog.h"
#include "tests/support/pg_test_database.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kImported = 6;      // albums the writer adds while the others identify
constexpr int kIdentifyRuns = 4;  // identify runs of each reader

// Texts that share no word, so that no album's file can pass for another's by its tags.
constexpr const char* kArtists[] = {"Orla Vance", "Bram Tolliver", "Quinn Ashdown", "Petra Lowe",
                                    "Idris Fenn", "Maren Hoyt",    "Cyrus Pell"};
constexpr const char* kAlbums[] = {"Granite Coast", "Willow Smoke", "Cobalt Rain",
                                   "Meadow Glass",  "Amber Hymns",  "Saffron Tides",
                                   "Thistle Engine"};
constexpr const char* kTitles[] = {
    "Northern Ferry", "Velvet Crane",  "Hollow Orchard", "Paper Comet",   "Silent Quarry",
    "Copper Lullaby", "Winter Harbor", "Marble Fever",   "Crimson Attic", "Distant Tundra",
    "Golden Static",  "Ivory Canyon",  "Rusty Violin",   "Feather Mill",  "Lunar Pottery"};

// Runs body in a forked child; its words (empty: all went well) come back through a pipe.
struct Child {
  pid_t pid = -1;
  int pipe = -1;
};

Child Start(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string words = body();
    for (size_t done = 0; done < words.size();) {
      const ssize_t put = ::write(fds[1], words.data() + done, words.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    ::_exit(words.empty() ? 0 : 1);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

// The child's words, or why it ended without any.
std::string Finish(const Child& child) {
  std::string words;
  char buffer[4096];
  for (ssize_t got; (got = ::read(child.pipe, buffer, sizeof buffer)) > 0;)
    words.append(buffer, static_cast<size_t>(got));
  ::close(child.pipe);
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  if (words.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    words = "the child ended with status " + std::to_string(status);
  }
  return words;
}

class PostgresConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(database_.error().empty()) << database_.error();
    dir_ = fs::temp_directory_path() / ("pelk-pg-concurrency-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    // The album every reader identifies, in the catalogue before anything starts (added by a
    // child too: the readers are forked from a process that has run no command).
    const std::vector<std::string> first = AlbumArgs(0, 3);
    ASSERT_EQ(Finish(Start([&] {
                const Outcome o = RunCommand(AddCatalogCommand, first);
                return o.code == 0 ? std::string() : "add-album: " + o.err;
              })),
              "");
    // The albums the writer adds: their files exist before the readers start.
    for (int album = 1; album <= kImported; ++album) AlbumArgs(album, 2);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes an album's files (tracks of `seconds` of distinct music, tagged) and returns the
  // add-album command for it, disc identifier D-<album>.
  std::vector<std::string> AlbumArgs(int album, int tracks) {
    std::vector<std::string> args = {"catalog", "add-album", database_.location(), "--identifier",
                                     "D-" + std::to_string(album)};
    for (int track = 1; track <= tracks; ++track) {
      const fs::path path = File(album, track);
      if (!fs::exists(path)) {
        fs::create_directories(path.parent_path());
        WriteMusic(path, static_cast<uint32_t>(100 + album * 10 + track), 16);
        // Album 0 has three tracks, the others two each.
        const int title = album == 0 ? track - 1 : 3 + (album - 1) * 2 + track - 1;
        WriteTags(path,
                  {kArtists[album], kAlbums[album], kTitles[title], std::to_string(track), ""});
      }
      args.push_back(path.string());
    }
    return args;
  }
  fs::path File(int album, int track) const {
    return dir_ / ("album" + std::to_string(album)) / (std::to_string(track) + ".wav");
  }

  // A reader: identifies the first album's files and the writer's last album's first file,
  // several times. Every answer must come from a whole, consistent catalogue: the first
  // album's files always as that album's own tracks, the late file as nothing yet or as its own
  // track on its whole disc. Returns what went wrong, empty when nothing did.
  std::string Reader() {
    const std::string late = File(kImported, 1).string();
    for (int run = 0; run < kIdentifyRuns; ++run) {
      std::vector<std::string> args = {"identify", "--json", "--catalog", database_.location()};
      for (int track = 1; track <= 3; ++track) args.push_back(File(0, track).string());
      args.push_back(late);
      const Outcome o = RunCommand(AddIdentifyCommand, args);
      if (o.code != 0) return "identify exited " + std::to_string(o.code) + ": " + o.err;
      std::istringstream lines(o.out);
      std::string line;
      int answered = 0;
      while (std::getline(lines, line)) {
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || j.contains("error")) return "identify said: " + line;
        const std::string file = j.value("file", "");
        const auto& candidates = j["candidates"];
        ++answered;
        if (file == late) {
          if (candidates.empty()) continue;
          const auto& c = candidates[0];
          if (c["disc"]["identifier"] != "D-" + std::to_string(kImported) ||
              c["track"]["number"] != 1 || c["disc"]["track_count"] != 2) {
            return "the file being imported was answered with " + c.dump();
          }
          continue;
        }
        int track = 0;
        for (int t = 1; t <= 3; ++t) track = file == File(0, t).string() ? t : track;
        if (candidates.empty()) return "no answer for " + file;
        const auto& c = candidates[0];
        if (c["disc"]["identifier"] != "D-0" || c["track"]["number"] != track ||
            c["disc"]["track_count"] != 3) {
          return file + " was answered with " + c.dump();
        }
      }
      if (answered != 4) return "identify answered " + std::to_string(answered) + " of 4 files";
    }
    return {};
  }

  std::string Writer() {
    for (int album = 1; album <= kImported; ++album) {
      const Outcome o = RunCommand(AddCatalogCommand, AlbumArgs(album, 2));
      if (o.code != 0) return "add-album " + std::to_string(album) + ": " + o.err;
    }
    return {};
  }

  testing::ScopedPgDatabase database_;
  fs::path dir_;
};

TEST_F(PostgresConcurrencyTest, FourIdentifyWhileOneAddsAlbums) {
  std::vector<Child> children;
  for (int reader = 0; reader < 4; ++reader) {
    children.push_back(Start([this] { return Reader(); }));
  }
  children.push_back(Start([this] { return Writer(); }));
  for (const Child& child : children) {
    ASSERT_GE(child.pid, 0);
  }
  for (size_t i = 0; i < children.size(); ++i) {
    EXPECT_EQ(Finish(children[i]), "") << (i < 4 ? "reader " : "writer ") << i;
  }

  // Exactly what was added: every disc once, whole.
  std::string error;
  const auto store = catalog::CatalogStore::Open(
      database_.location(), catalog::CatalogStore::OpenMode::kExisting, &error);
  ASSERT_TRUE(store) << error;
  std::set<std::string> identifiers;
  for (const catalog::DiscPtr& disc : store->AllDiscs()) {
    EXPECT_TRUE(identifiers.insert(disc->identifier).second) << disc->identifier;
    EXPECT_EQ(disc->tracks.size(), disc->identifier == "D-0" ? 3u : 2u) << disc->identifier;
    for (const catalog::TrackRecord& t : disc->tracks) {
      EXPECT_TRUE(t.signature) << disc->identifier << " track " << t.number;
    }
  }
  EXPECT_EQ(identifiers.size(), static_cast<size_t>(kImported + 1));
  const catalog::CatalogStats stats = store->Stats();
  EXPECT_EQ(stats.tracks, 3 + 2 * kImported);
  EXPECT_EQ(stats.fingerprinted_tracks, stats.tracks);
}

}  // namespace
}  // namespace pelk::cli
