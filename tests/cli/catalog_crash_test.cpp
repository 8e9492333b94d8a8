// What happens to a catalogue when the process writing it dies, when two processes write it at
// once, when its file is read-only and when the disk is full. Each writer runs the real
// `sonquix catalog` code in a forked child.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "catalog/catalog_store.h"
#include "cli/commands/catalog_command.h"
#include "tests/cli/cli_runner.h"
#include "tests/cli/kill_point_vfs.h"
#include "tests/cli/tones_catalog.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

// A catalogue file that the JSON reader takes: `discs` discs of `tracks` fingerprinted tracks
// each, identifiers starting with prefix.
std::string BatchJson(const std::string& prefix, int discs, int tracks) {
  std::string text = R"({"format": "pelk-catalog", "version": 1, "discs": [)";
  for (int d = 0; d < discs; ++d) {
    const std::string id = prefix + std::to_string(d);
    text += std::string(d ? "," : "") + R"({"identifier": ")" + id + R"(", "album": "Album )" + id +
            R"(", "artist": "Artist )" + prefix +
            R"(", "year": 2001, "genre": "Test", "tracks": [)";
    for (int t = 1; t <= tracks; ++t) {
      std::string signature;
      for (int v = 0; v < 30; ++v)
        signature += (v ? " " : "") + std::to_string(d * 97 + t * 31 + v);
      text += std::string(t > 1 ? "," : "") + R"({"number": )" + std::to_string(t) +
              R"(, "title": "Song )" + std::to_string(t) + " of " + id + R"(", "identifier": ")" +
              id + "-T" + std::to_string(t) + R"(", "length_ms": 180000, "signature": ")" +
              signature + R"("})";
    }
    text += "]}";
  }
  return text + "]}";
}

struct Counts {
  int64_t discs = -1, tracks = -1, indexed = -1;
  bool operator==(const Counts&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Counts& c) {
  return os << c.discs << " discs, " << c.tracks << " tracks, " << c.indexed << " indexed";
}

// Opens the file as any reader would (SQLite rolls back what a dead writer left), checks the
// file and the full-text index, and counts.
struct Inspection {
  std::string integrity;
  bool text_index_sound = false;
  Counts counts;
};

Inspection Inspect(const std::string& path) {
  Inspection out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    out.integrity = sqlite3_errmsg(db);
    sqlite3_close(db);
    return out;
  }
  auto single = [&](const char* sql) -> std::string {
    sqlite3_stmt* s = nullptr;
    std::string value = "(error)";
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(s, 0);
      value = text ? reinterpret_cast<const char*>(text) : "";
    }
    sqlite3_finalize(s);
    return value;
  };
  out.integrity = single("PRAGMA integrity_check");
  out.text_index_sound =
      sqlite3_exec(db, "INSERT INTO track_text(track_text) VALUES('integrity-check')", nullptr,
                   nullptr, nullptr) == SQLITE_OK;
  out.counts.discs = std::stoll("0" + single("SELECT count(*) FROM discs"));
  out.counts.tracks = std::stoll("0" + single("SELECT count(*) FROM tracks"));
  out.counts.indexed = std::stoll("0" + single("SELECT count(*) FROM track_text"));
  sqlite3_close(db);
  return out;
}

// The end of a child: its exit status and what it wrote to stderr.
struct ChildEnd {
  int status = 0;
  std::string err;
  bool Killed() const { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }
  int Code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

// Runs a command of the host in a forked child; prepare runs first in the child.
pid_t StartChild(const std::vector<std::string>& args, const std::function<void()>& prepare,
                 int* err_pipe) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    prepare();
    const Outcome outcome = RunCommand(AddCatalogCommand, args);
    const std::string& err = outcome.err;
    for (size_t done = 0; done < err.size();) {
      const ssize_t put = ::write(fds[1], err.data() + done, err.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    ::_exit(outcome.code);
  }
  ::close(fds[1]);
  *err_pipe = fds[0];
  return pid;
}

ChildEnd FinishChild(pid_t pid, int err_pipe) {
  ChildEnd end;
  char buffer[4096];
  for (ssize_t got; (got = ::read(err_pipe, buffer, sizeof buffer)) > 0;)
    end.err.append(buffer, got);
  ::close(err_pipe);
  ::waitpid(pid, &end.status, 0);
  return end;
}

ChildEnd RunChild(const std::vector<std::string>& args, const std::function<void()>& prepare) {
  int err_pipe = -1;
  const pid_t pid = StartChild(args, prepare, &err_pipe);
  return FinishChild(pid, err_pipe);
}

// The file-changing operations of one run, counted by a child that is never killed.
int64_t CountOperations(const std::vector<std::string>& args, const std::function<void()>& reset) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    reset();
    crash_testing::InstallKillPointVfs(0);
    RunCommand(AddCatalogCommand, args);
    const int64_t n = crash_testing::KillPoint().operations;
    ::_exit(::write(fds[1], &n, sizeof n) == sizeof n ? 0 : 1);
  }
  ::close(fds[1]);
  int64_t n = -1;
  if (::read(fds[0], &n, sizeof n) != sizeof n) n = -1;
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return n;
}

// At least `wanted` kill points over 1..total: the first and last few operations (the journal's
// start, the commit) and the rest spread evenly.
std::vector<int64_t> KillPoints(int64_t total, int wanted) {
  std::set<int64_t> points;
  for (int64_t k = 1; k <= std::min<int64_t>(total, 4); ++k) points.insert(k);
  for (int64_t k = std::max<int64_t>(1, total - 3); k <= total; ++k) points.insert(k);
  for (int i = 0; i < wanted; ++i) points.insert(1 + (total - 1) * i / std::max(1, wanted - 1));
  return {points.begin(), points.end()};
}

class CatalogCrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("pelk-cli-crash-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    db_ = (dir_ / "c.db").string();
    base_ = (dir_ / "base.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Puts the saved catalogue back in place (the file and no journal).
  std::function<void()> Restore() {
    return [this] {
      fs::remove(db_ + "-journal");
      fs::copy_file(base_, db_, fs::copy_options::overwrite_existing);
    };
  }

  // Kills a child running args at the kill points of its writes; after each the catalogue must
  // be sound and hold either what it held before or all that the command adds.
  void KillAtEveryStep(const std::vector<std::string>& args, const Counts& before,
                       const Counts& after, int wanted = 24, int at_least = 20) {
    const int64_t total = CountOperations(args, Restore());
    ASSERT_GT(total, 5);
    const std::vector<int64_t> points = KillPoints(total, wanted);
    ASSERT_GE(points.size(), static_cast<size_t>(at_least));
    RecordProperty("file_operations", std::to_string(total));
    RecordProperty("kill_points", std::to_string(points.size()));
    int killed = 0, completed = 0;
    for (int64_t point : points) {
      Restore()();
      const ChildEnd end = RunChild(args, [point] { crash_testing::InstallKillPointVfs(point); });
      ASSERT_TRUE(end.Killed() || end.Code() == 0) << "point " << point << ": " << end.err;
      end.Killed() ? ++killed : ++completed;
      const Inspection seen = Inspect(db_);
      ASSERT_EQ(seen.integrity, "ok") << "killed at operation " << point << " of " << total;
      EXPECT_TRUE(seen.text_index_sound) << "killed at operation " << point;
      EXPECT_TRUE(seen.counts == before || seen.counts == after)
          << "killed at operation " << point << " of " << total << ": " << seen.counts;
      std::string error;
      EXPECT_NE(
          catalog::CatalogStore::Open(db_, catalog::CatalogStore::OpenMode::kExisting, &error),
          nullptr)
          << error;
      EXPECT_EQ(Inspect(db_).counts, seen.counts) << "killed at operation " << point;
    }
    EXPECT_GE(killed, at_least) << "of " << points.size() << " points, " << completed
                                << " completed";
  }

  fs::path dir_;
  std::string db_;
  std::string base_;  // the catalogue before the command under test
};

TEST_F(CatalogCrashTest, ImportKilledAtAnyStepLeavesTheCatalogueBeforeOrAfter) {
  ASSERT_EQ(RunCommand(AddCatalogCommand,
                       {"catalog", "import", base_, Write("base.json", BatchJson("OLD", 3, 8))})
                .code,
            0);
  // Large enough that its pages leave the cache before the commit and the index grows.
  const std::string batch = Write("batch.json", BatchJson("NEW", 40, 12));
  const Counts before{3, 24, 24}, after{43, 504, 504};
  KillAtEveryStep({"catalog", "import", db_, batch}, before, after);
}

TEST_F(CatalogCrashTest, ReplacingImportKilledAtAnyStepNeverLosesTheOldDiscs) {
  ASSERT_EQ(RunCommand(AddCatalogCommand,
                       {"catalog", "import", base_, Write("base.json", BatchJson("D", 6, 10))})
                .code,
            0);
  // The same discs with two tracks each: removal and insertion in one transaction.
  const std::string batch = Write("batch.json", BatchJson("D", 6, 2));
  KillAtEveryStep({"catalog", "import", db_, batch, "--replace"}, {6, 60, 60}, {6, 12, 12});
}

TEST_F(CatalogCrashTest, AddAlbumKilledAtAnyStepAddsTheWholeAlbumOrNothing) {
  MakeTonesCatalog(dir_ / "tones", "D-TONES");
  fs::copy_file(dir_ / "tones" / "catalog.db", base_);
  std::vector<std::string> args = {"catalog", "add-album", db_,     "--artist",
                                   "Other",   "--album",   "Second"};
  for (int track = 1; track <= 3; ++track) {
    args.push_back((dir_ / "tones" / "album" / ("0" + std::to_string(track) + ".wav")).string());
  }
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // Every kill point fingerprints the album anew, seconds each under a sanitizer (the test took
  // 8 minutes under ThreadSanitizer): a handful of points there, the whole spread without.
  KillAtEveryStep(args, {1, 3, 3}, {2, 6, 6}, 4, 8);
#else
  KillAtEveryStep(args, {1, 3, 3}, {2, 6, 6});
#endif
}

TEST_F(CatalogCrashTest, TwoWritersWaitForEachOtherAndBothSucceed) {
  ASSERT_EQ(RunCommand(AddCatalogCommand,
                       {"catalog", "import", db_, Write("base.json", BatchJson("OLD", 1, 2))})
                .code,
            0);
  const std::string first = Write("first.json", BatchJson("FIRST", 30, 12));
  const std::string second = Write("second.json", BatchJson("SECOND", 30, 12));

  // A third process holds the write lock until both writers have asked for it, so both wait.
  // (Not this one: a child forked from a process with an open connection inherits its locks'
  // bookkeeping and would wait for ever.)
  int held[2], release[2], lock_pipe[2];
  ASSERT_EQ(::pipe(held), 0);
  ASSERT_EQ(::pipe(release), 0);
  ASSERT_EQ(::pipe(lock_pipe), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    sqlite3* db = nullptr;
    if (sqlite3_open(db_.c_str(), &db) != SQLITE_OK) ::_exit(2);
    sqlite3_busy_timeout(db, 60000);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) ::_exit(3);
    char byte = 'H';
    if (::write(held[1], &byte, 1) != 1 || ::read(release[0], &byte, 1) != 1) ::_exit(4);
    const bool committed = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    ::_exit(committed ? 0 : 5);
  }
  char byte = 0;
  ASSERT_EQ(::read(held[0], &byte, 1), 1);
  std::vector<std::pair<pid_t, int>> children;
  for (const std::string& file : {first, second}) {
    int err_pipe = -1;
    const int report = lock_pipe[1];
    const pid_t pid = StartChild(
        {"catalog", "import", db_, file},
        [report] { crash_testing::InstallKillPointVfs(0, report); }, &err_pipe);
    ASSERT_GT(pid, 0);
    children.emplace_back(pid, err_pipe);
  }
  ::close(lock_pipe[1]);
  ASSERT_EQ(::read(lock_pipe[0], &byte, 1), 1);
  ASSERT_EQ(::read(lock_pipe[0], &byte, 1), 1);
  ::close(lock_pipe[0]);
  ASSERT_EQ(::write(release[1], &byte, 1), 1);
  int holder_status = 0;
  ::waitpid(holder, &holder_status, 0);
  EXPECT_TRUE(WIFEXITED(holder_status) && WEXITSTATUS(holder_status) == 0) << holder_status;
  for (int fd : {held[0], held[1], release[0], release[1]}) ::close(fd);

  for (const auto& [pid, err_pipe] : children) {
    const ChildEnd end = FinishChild(pid, err_pipe);
    EXPECT_EQ(end.Code(), 0) << end.err;
    EXPECT_EQ(end.err.find("locked"), std::string::npos) << end.err;
  }
  const Inspection seen = Inspect(db_);
  EXPECT_EQ(seen.integrity, "ok");
  EXPECT_EQ(seen.counts, (Counts{61, 722, 722}));
}

TEST_F(CatalogCrashTest, TwoWritersCreatingOneCatalogueBothSucceed) {
  // Neither finds a catalogue: both lay out the schema, one after the other.
  const std::string first = Write("first.json", BatchJson("FIRST", 2, 3));
  const std::string second = Write("second.json", BatchJson("SECOND", 2, 3));
  int first_err = -1, second_err = -1;
  const pid_t a = StartChild(
      {"catalog", "import", db_, first}, [] {}, &first_err);
  const pid_t b = StartChild(
      {"catalog", "import", db_, second}, [] {}, &second_err);
  const ChildEnd end_a = FinishChild(a, first_err), end_b = FinishChild(b, second_err);
  EXPECT_EQ(end_a.Code(), 0) << end_a.err;
  EXPECT_EQ(end_b.Code(), 0) << end_b.err;
  EXPECT_EQ(Inspect(db_).counts, (Counts{4, 12, 12}));
}

TEST_F(CatalogCrashTest, ReadOnlyCatalogueIsRefusedInWordsAndLeftAlone) {
  ASSERT_EQ(RunCommand(AddCatalogCommand,
                       {"catalog", "import", db_, Write("base.json", BatchJson("OLD", 2, 2))})
                .code,
            0);
  fs::permissions(db_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string original = Bytes(db_);

  const Outcome import = RunCommand(
      AddCatalogCommand, {"catalog", "import", db_, Write("new.json", BatchJson("NEW", 1, 2))});
  EXPECT_NE(import.code, 0);
  EXPECT_NE(import.err.find("read-only"), std::string::npos) << import.err;
  EXPECT_NE(import.err.find("nothing imported"), std::string::npos) << import.err;

  MakeTonesCatalog(dir_ / "tones", "D-TONES");
  const Outcome add =
      RunCommand(AddCatalogCommand,
                 {"catalog", "add-album", db_, (dir_ / "tones" / "album" / "01.wav").string()});
  EXPECT_NE(add.code, 0);
  EXPECT_NE(add.err.find("read-only"), std::string::npos) << add.err;

  EXPECT_EQ(Bytes(db_), original);
  EXPECT_FALSE(fs::exists(db_ + "-journal"));
  const Outcome list = RunCommand(AddCatalogCommand, {"catalog", "stats", db_, "--json"});
  EXPECT_EQ(list.code, 0) << list.err;  // still read
  EXPECT_NE(list.out.find("\"tracks\":4"), std::string::npos) << list.out;
}

TEST_F(CatalogCrashTest, FullDiskIsReportedInWordsAndTheCatalogueStaysIntact) {
  ASSERT_EQ(RunCommand(AddCatalogCommand,
                       {"catalog", "import", db_, Write("base.json", BatchJson("OLD", 2, 4))})
                .code,
            0);
  const std::string big = Write("big.json", BatchJson("NEW", 60, 12));
  const std::string original = Bytes(db_);
  // No file of the child may grow past the catalogue's size plus a few pages: the disk is full
  // for it. SIGXFSZ is ignored, so the write fails as on a full disk instead of killing it.
  const rlim_t limit = static_cast<rlim_t>(original.size() + 16 * 1024);
  const ChildEnd end = RunChild({"catalog", "import", db_, big}, [limit] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &r) != 0) ::_exit(91);
  });
  EXPECT_EQ(end.Code(), 1) << end.err;
  EXPECT_NE(end.err.find("nothing imported"), std::string::npos) << end.err;
  EXPECT_NE(end.err.find("disk"), std::string::npos) << end.err;
  EXPECT_EQ(end.err.find("locked"), std::string::npos) << end.err;

  const Inspection seen = Inspect(db_);
  EXPECT_EQ(seen.integrity, "ok");
  EXPECT_TRUE(seen.text_index_sound);
  EXPECT_EQ(seen.counts, (Counts{2, 8, 8}));
  // With room again the same import goes through.
  const Outcome again = RunCommand(AddCatalogCommand, {"catalog", "import", db_, big});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(Inspect(db_).counts, (Counts{62, 728, 728}));
}

}  // namespace
}  // namespace pelk::cli
