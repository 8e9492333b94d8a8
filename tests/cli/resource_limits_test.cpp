// The host against inputs that promise or hold a great deal: WAV headers claiming 2 GB or ten
// hours for `sonquix fingerprint`, and a folder of 100,000 files for the library queue's walk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands/fingerprint_command.h"
#include "cli/commands/identify_command.h"
#include "cli/library/audio_files.h"
#include "tests/cli/cli_runner.h"
#include "tests/cli/tones_catalog.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

class ResourceLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // In memory when the machine has /dev/shm: the test creates many files.
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    dir_ = base / ("pelk-cli-limits-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

std::vector<uint8_t> Music(const testing::PcmFormat& format, double seconds) {
  return testing::EncodePcm(
      testing::Music(5, format.sample_rate, static_cast<int64_t>(seconds * format.sample_rate)),
      format.bits);
}

// The signature line of `sonquix fingerprint FILE`.
Outcome Fingerprint(const fs::path& file) {
  return RunCommand(AddFingerprintCommand, {"fingerprint", file.string()});
}

TEST_F(ResourceLimitsTest, FingerprintOfWavHeadersClaimingGigabytesReadsWhatIsThere) {
  const testing::PcmFormat format{22050, 16, 1};
  const std::vector<uint8_t> minute = Music(format, 60);
  testing::WriteFile(dir_ / "honest.wav", testing::MakeWav(format, minute));
  // A data chunk that claims 2 GB in a file of a minute.
  testing::WriteFile(
      dir_ / "claims-2gb.wav",
      testing::MakeWav(format, minute, {.riff_size = 0x80000024, .data_size = 0x80000000}));
  // Ten hours that are really there (a sparse file: a minute of music, then silence).
  const uint64_t ten_hours = uint64_t{10} * 3600 * 22050 * 2;
  testing::WriteFile(dir_ / "ten-hours.wav",
                     testing::MakeWav(format, minute,
                                      {.riff_size = static_cast<int64_t>(ten_hours + 36),
                                       .data_size = static_cast<int64_t>(ten_hours)}));
  fs::resize_file(dir_ / "ten-hours.wav", ten_hours + 44);

  const Outcome honest = Fingerprint(dir_ / "honest.wav");
  ASSERT_EQ(honest.code, 0) << honest.err;
  const std::string signature = honest.out.substr(honest.out.find('\t') + 1);
  for (const char* name : {"claims-2gb.wav", "ten-hours.wav"}) {
    const Outcome out = Fingerprint(dir_ / name);
    EXPECT_EQ(out.code, 0) << name << ": " << out.err;
    EXPECT_EQ(out.out.substr(out.out.find('\t') + 1), signature) << name;
  }
}

// Peak memory of this process so far, in megabytes.
int64_t PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

TEST_F(ResourceLimitsTest, AFolderOfAHundredThousandFilesIsWalkedOnceEach) {
  // 100,000 empty files in one folder, half of them with an audio extension, some in a
  // subfolder, and a link back to the folder that the walk must not follow.
  const fs::path folder = dir_ / "library";
  fs::create_directories(folder / "sub");
  constexpr int kFiles = 100000;
  for (int i = 0; i < kFiles; ++i) {
    const char* extension = i % 2 ? ".txt" : (i % 4 ? ".FLAC" : ".mp3");
    const fs::path path =
        (i % 10 == 9 ? folder / "sub" : folder) / ("track-" + std::to_string(i) + extension);
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ::close(fd);
  }
  fs::create_directory_symlink(folder, folder / "sub" / "loop");

  // In a child, so that its peak memory is the walk's own.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int64_t before = PeakMegabytes();
    const AudioFileSet set = CollectAudioFiles({folder.string(), folder.string() + "/sub"});
    const int64_t report[3] = {
        static_cast<int64_t>(set.files.size()),
        static_cast<int64_t>(std::is_sorted(set.files.begin(), set.files.end()) &&
                             std::adjacent_find(set.files.begin(), set.files.end()) ==
                                 set.files.end()),
        PeakMegabytes() - before};
    ::_exit(::write(fds[1], report, sizeof report) == sizeof report ? 0 : 1);
  }
  ::close(fds[1]);
  int64_t report[3] = {-1, -1, -1};
  ASSERT_EQ(::read(fds[0], report, sizeof report), static_cast<ssize_t>(sizeof report));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(report[0], kFiles / 2);  // every audio file once, the subfolder named twice
  EXPECT_EQ(report[1], 1) << "not sorted, or a file twice";
  // The paths themselves (about 5 MB here) and their bookkeeping, nothing per file beyond.
  RecordProperty("walk_peak_growth_mb", std::to_string(report[2]));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Sanitizers keep freed memory in quarantine and add shadow memory: the peak says nothing then.
  EXPECT_LT(report[2], 64);
#endif
}

TEST_F(ResourceLimitsTest, AFileWhoseTagHoldsAOneMegabyteTitleIsStillIdentified) {
  MakeTonesCatalog(dir_ / "tones", "D-TONES");
  // The first track's music under a title of a million characters (words of every length), and
  // the second track as it is: both are identified, the first by its fingerprint.
  std::string title;
  for (int i = 0; title.size() < (1u << 20); ++i)
    title += std::string(1 + i % 40, 'a' + i % 26) + " ";
  const fs::path long_title = dir_ / "long-title.wav";
  const fs::path plain = dir_ / "plain.wav";
  WriteMusic(long_title, 11, 16);
  WriteTags(long_title, {"Synth", "Tones", title, "1", ""});
  WriteMusic(plain, 12, 16);
  WriteTags(plain, {"Synth", "Tones", "Second Wind", "2", ""});

  const Outcome run = RunCommand(AddIdentifyCommand,
                                 {"identify", "--catalog", (dir_ / "tones" / "catalog.db").string(),
                                  "--json", long_title.string(), plain.string()});
  ASSERT_EQ(run.code, 0) << run.err;
  std::istringstream lines(run.out);
  std::vector<nlohmann::json> answers;
  for (std::string line; std::getline(lines, line);) answers.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(answers.size(), 2u) << run.out;
  for (const nlohmann::json& answer : answers) {
    EXPECT_NE(answer.dump().find("\"D-TONES\""), std::string::npos) << answer.dump();
  }
}

}  // namespace
}  // namespace pelk::cli
