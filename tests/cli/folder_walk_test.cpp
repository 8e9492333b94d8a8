// The folder walk of `sonquix album` and `sonquix library` when the file system fails it: every
// folder or file it cannot read is named with the reason, and the rest of the tree is walked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands/album_command.h"
#include "cli/commands/library_command.h"
#include "cli/library/audio_files.h"
#include "tests/cli/cli_runner.h"
#include "tests/cli/tones_catalog.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

class FolderWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("pelk-walk-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    fs::permissions(root_, fs::perms::all);  // walked by another user in one test
  }
  void TearDown() override { fs::remove_all(root_); }

  // An empty file (the walk goes by names), with its folders.
  fs::path Touch(const fs::path& relative) const {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path).put('\0');
    return path;
  }
  std::string Path(const fs::path& relative) const { return (root_ / relative).string(); }
  static std::vector<std::string> Reasons(const AudioFileSet& set) {
    std::vector<std::string> lines;
    for (const UnreadablePath& u : set.unreadable) lines.push_back(u.path + " | " + u.reason);
    return lines;
  }

  fs::path root_;
};

using Lines = std::vector<std::string>;

TEST_F(FolderWalkTest, AFolderThatVanishesOrTurnsIntoAFileMidWalkIsNamedAndTheRestIsWalked) {
  Touch("a/1.mp3");
  Touch("a/gone/lost.flac");
  Touch("a/gone/deeper/lost.flac");
  Touch("a/swapped/lost.flac");
  Touch("b/2.mp3");
  Touch("c.mp3");
  // Each folder is changed just before the walk reads it, after its parent listed it.
  const AudioFileSet set = CollectAudioFiles({root_.string()}, [&](const std::string& folder) {
    if (folder == Path("a/gone")) fs::remove_all(folder);
    if (folder == Path("a/swapped")) {
      fs::remove_all(folder);
      std::ofstream(folder).put('x');
    }
  });
  EXPECT_EQ(set.files, (Lines{Path("a/1.mp3"), Path("b/2.mp3"), Path("c.mp3")}));
  EXPECT_EQ(Reasons(set), (Lines{Path("a/gone") + " | no such file or directory",
                                 Path("a/swapped") + " | not a directory"}));
  EXPECT_TRUE(set.missing.empty());
}

// Folder names of 200 characters, one inside the other, until their paths pass the system's
// limit: the walk cannot open the first folder beyond it, whoever runs it.
class DeepFolders {
 public:
  DeepFolders(const fs::path& root, int levels) : root_(root) {
    fs::create_directories(root);
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    path_ = root;
    for (int level = 1; level <= levels && fd >= 0; ++level) {
      const std::string name = std::string(199, 'd') + static_cast<char>('a' + level % 26);
      ::mkdirat(fd, name.c_str(), 0755);
      const int inner = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      fd = inner;
      path_ /= name;
      const int file = ::openat(fd, ("level-" + std::to_string(level) + ".mp3").c_str(),
                                O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (file >= 0) ::close(file);
      if (!first_too_long_.empty() || path_.string().size() < PATH_MAX) continue;
      first_too_long_ = path_.string();
      deepest_reachable_ = level - 1;
    }
    if (fd >= 0) ::close(fd);
  }
  // Moves the deeper half beside the root, so that both halves can be removed by path.
  ~DeepFolders() {
    fs::path half = root_;
    for (auto it = std::next(path_.begin(), std::distance(root_.begin(), root_.end()));
         it != path_.end() && half.string().size() < PATH_MAX / 2; ++it) {
      half /= *it;
    }
    const int fd = ::open(half.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::renameat(fd, half.filename().c_str(), AT_FDCWD, (root_ / "deep-tail").c_str());
    ::close(fd);
  }
  const std::string& first_too_long() const { return first_too_long_; }
  int deepest_reachable() const { return deepest_reachable_; }

 private:
  fs::path root_, path_;
  std::string first_too_long_;
  int deepest_reachable_ = 0;
};

TEST_F(FolderWalkTest, FoldersThatCannotBeOpenedAreNamedWithTheSystemsReason) {
  Touch("before.mp3");
  Touch("zz-after/after.mp3");
  const DeepFolders deep(root_ / "deep", 25);
  ASSERT_FALSE(deep.first_too_long().empty());
  const AudioFileSet set = CollectAudioFiles({root_.string()});
  EXPECT_EQ(Reasons(set), Lines{deep.first_too_long() + " | file name too long"});
  // Every file above the limit, and the folders beside the deep one, are walked.
  ASSERT_EQ(set.files.size(), static_cast<size_t>(deep.deepest_reachable() + 2));
  EXPECT_EQ(set.files.front(), Path("before.mp3"));
  EXPECT_EQ(set.files.back(), Path("zz-after/after.mp3"));
}

// The walk in a child process that runs as an ordinary user when the tests run as root (whom
// no permission stops), with what it found as lines on a pipe.
Lines WalkAsOrdinaryUser(const std::string& root) {
  int fds[2];
  if (::pipe(fds) != 0) return {"pipe failed"};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    const AudioFileSet set = CollectAudioFiles({root});
    std::string out;
    for (const std::string& file : set.files) out += "file " + file + "\n";
    for (const UnreadablePath& u : set.unreadable) out += u.path + " | " + u.reason + "\n";
    ::_exit(::write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, got);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {"child failed " + out};
  Lines lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(FolderWalkTest, AFolderWithoutPermissionIsNamedAndItsNeighboursAreWalked) {
  Touch("open/1.mp3");
  Touch("closed/hidden.mp3");
  Touch("z.mp3");
  fs::permissions(root_ / "closed", fs::perms::none);
  EXPECT_EQ(WalkAsOrdinaryUser(root_.string()),
            (Lines{"file " + Path("open/1.mp3"), "file " + Path("z.mp3"),
                   Path("closed") + " | permission denied"}));
  fs::permissions(root_ / "closed", fs::perms::owner_all);
}

TEST_F(FolderWalkTest, LinksThatLoopAreNotFollowedAndAudioLinksToNothingAreNamed) {
  Touch("a.mp3");
  Touch("sub/b.flac");
  fs::create_directory_symlink(root_, root_ / "sub" / "back-to-root");  // not followed: silent
  fs::create_symlink("self.flac", root_ / "self.flac");                 // a loop of one
  fs::create_symlink("ping.mp3", root_ / "pong.mp3");
  fs::create_symlink("pong.mp3", root_ / "ping.mp3");
  fs::create_symlink("nowhere.wav", root_ / "dangling.wav");
  fs::create_symlink("nowhere.txt", root_ / "dangling.txt");  // not audio: not our business
  fs::create_symlink("a.mp3", root_ / "link.mp3");            // a link to audio is taken
  const AudioFileSet set = CollectAudioFiles({root_.string()});
  EXPECT_EQ(set.files, (Lines{Path("a.mp3"), Path("link.mp3"), Path("sub/b.flac")}));
  const std::string loop = "too many levels of symbolic links";
  EXPECT_EQ(Reasons(set), (Lines{Path("dangling.wav") + " | no such file or directory",
                                 Path("ping.mp3") + " | " + loop, Path("pong.mp3") + " | " + loop,
                                 Path("self.flac") + " | " + loop}));

  // Named on the command line: a loop is unreadable, not missing; a name that is not there is.
  const AudioFileSet given = CollectAudioFiles({Path("self.flac"), Path("absent.mp3")});
  EXPECT_TRUE(given.files.empty());
  EXPECT_EQ(Reasons(given), Lines{Path("self.flac") + " | " + loop});
  EXPECT_EQ(given.missing, Lines{Path("absent.mp3")});
}

TEST_F(FolderWalkTest, NamesThatAreNotUtf8AreNamedOnceAndNotEntered) {
  Touch("good.mp3");
  Touch("caf\xe9/inside.mp3");  // Latin-1 names from an old disk
  Touch("caf\xe9/more/inside.mp3");
  Touch("bad\xff.flac");
  const AudioFileSet set = CollectAudioFiles({root_.string()});
  EXPECT_EQ(set.files, Lines{Path("good.mp3")});
  EXPECT_EQ(Reasons(set), (Lines{Path("bad\xef\xbf\xbd.flac") + " | its name is not UTF-8",
                                 Path("caf\xef\xbf\xbd") + " | its name is not UTF-8"}));
}

TEST_F(FolderWalkTest, AlbumAndLibraryNameWhatTheyCannotReadAndIdentifyTheRest) {
  MakeTonesCatalog(root_ / "tones", "D-TONES");
  const fs::path album = root_ / "tones" / "album";
  fs::create_directories(album / "caf\xe9");
  WriteMusic(album / "caf\xe9" / "04.wav", 11, 16);
  const std::string catalog = (root_ / "tones" / "catalog.db").string();
  const std::string words = "sonquix: " + (album / "caf\xef\xbf\xbd").string() +
                            ": cannot be read (its name is not UTF-8)\n";
  const auto run = [](std::vector<std::string> args) {
    return RunCommand(
        [](CLI::App& app) {
          AddAlbumCommand(app);
          AddLibraryCommand(app);
        },
        std::move(args));
  };

  const Outcome found = run({"album", album.string(), "--catalog", catalog, "--json"});
  EXPECT_EQ(found.code, 1);  // not everything asked for was done
  EXPECT_NE(found.err.find(words), std::string::npos) << found.err;
  const nlohmann::json doc = nlohmann::json::parse(found.out);
  ASSERT_EQ(doc["albums"].size(), 1u) << found.out;
  EXPECT_EQ(doc["albums"][0]["files"].size(), 3u);

  const std::string report = (root_ / "report.jsonl").string();
  const Outcome queued = run({"library", album.string(), "--catalog", catalog, "--report", report});
  EXPECT_EQ(queued.code, 1);
  EXPECT_NE(queued.err.find(words), std::string::npos) << queued.err;
  EXPECT_NE(queued.err.find("1 unreadable folders or files named above"), std::string::npos)
      << queued.err;
  std::ifstream lines(report);
  int identified = 0;
  for (std::string line; std::getline(lines, line);) {
    identified += nlohmann::json::parse(line).dump().find("D-TONES") != std::string::npos;
  }
  EXPECT_EQ(identified, 3);
}

}  // namespace
}  // namespace pelk::cli
