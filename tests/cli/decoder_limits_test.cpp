// The host's decoder against files that lie about their sizes or would send a reader round in
// circles: inputs kept from fuzzing (tests/data/decode_*.bin), each opened and read in a child
// process whose peak memory is measured, and real files with an 80 MB cover picture, which must
// still decode beside them.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/audio/audio_decoder.h"
#include "cli/audio/ffmpeg_library.h"
#include "cli/commands/fingerprint_command.h"
#include "tests/cli/audio_encode.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

namespace fs = std::filesystem;

fs::path Data(const std::string& name) { return fs::path(SONQUIX_TEST_DATA_DIR) / name; }

// Peak virtual size of this process in megabytes: it shows what a decoder reserves for a size a
// file declares even when it never touches the memory.
int64_t PeakVirtualMegabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmPeak:", 0) == 0) return std::stoll(line.substr(7)) / 1024;
  }
  return -1;
}

int64_t PeakResidentMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

// What a child process saw opening a file and reading up to 1000 blocks (about 93 s of audio at
// 44.1 kHz), and how much its peaks grew meanwhile.
struct ChildRead {
  bool finished = false;  // the child exited by itself
  bool opened = false;
  int64_t frames = 0;
  int64_t virtual_growth_mb = -1;
  int64_t resident_growth_mb = -1;
  std::string error;
};

ChildRead ReadInChild(const fs::path& file) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // A safety net, not a measure: a decoder that hangs fails the test instead of blocking the
    // suite. The reads take milliseconds.
    ::alarm(600);
    std::string why;
    LoadFfmpeg(&why);  // its libraries are mapped before the baseline
    const int64_t virtual_before = PeakVirtualMegabytes();
    const int64_t resident_before = PeakResidentMegabytes();
    int64_t report[4] = {0, 0, 0, 0};
    const std::unique_ptr<AudioDecoder> decoder = AudioDecoder::Open(file.string(), &why);
    if (decoder) {
      report[0] = 1;
      for (int i = 0; i < 1000; ++i) {
        const std::vector<uint8_t>& block = decoder->ReadBlock();
        if (block.empty()) break;
        report[1] += static_cast<int64_t>(block.size()) / (2 * decoder->channels());
      }
    }
    report[2] = PeakVirtualMegabytes() - virtual_before;
    report[3] = PeakResidentMegabytes() - resident_before;
    const bool written =
        ::write(fds[1], report, sizeof report) == sizeof report &&
        ::write(fds[1], why.data(), why.size()) == static_cast<ssize_t>(why.size());
    ::_exit(written ? 0 : 1);
  }
  ::close(fds[1]);
  ChildRead result;
  int64_t report[4] = {};
  const bool got = ::read(fds[0], report, sizeof report) == sizeof report;
  char text[1024];
  for (ssize_t n; (n = ::read(fds[0], text, sizeof text)) > 0;) result.error.append(text, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.finished = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  result.opened = report[0] == 1;
  result.frames = report[1];
  result.virtual_growth_mb = report[2];
  result.resident_growth_mb = report[3];
  return result;
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr bool kPeaksMeanSomething = true;
#else
// Sanitizers reserve shadow memory and keep freed blocks in quarantine: peaks say nothing then.
constexpr bool kPeaksMeanSomething = false;
#endif
// FFmpeg may allocate 64 MB at once for a small file (allocation_ceiling.h); growth past this
// means a declared size was believed. Measured before the ceiling: 1374 MB resident for the
// 115-byte WAV, 1.5 GB virtual for each of the WavPack files.
constexpr int64_t kMostGrowthMb = 128;

struct Hostile {
  const char* file;
  bool opens;
  int64_t frames;  // when it opens, all the frames it holds
  const char* error;
};

TEST(DecoderLimitsTest, FilesThatLieAboutSizesAreReadWithinBoundedMemory) {
  const Hostile kFiles[] = {
      // 115 bytes: a LIST INFO item declaring 1.4 GB, which FFmpeg zeroed before reading.
      {"decode_wav_info_item_claims_1_4gb.bin", false, 0, "unrecognised or damaged data"},
      // 101 bytes and 4 KB: WavPack with an APE tag item declaring 1.5 GB. The second holds
      // 0.2 s of a tone, which decodes whole.
      {"decode_wavpack_ape_item_claims_1_5gb.bin", false, 0, "its wavpack audio does not decode"},
      {"decode_wavpack_ape_binary_item_claims_1_5gb.bin", true, 8820, ""},
      // A LIST subchunk of size 0xFFFFFFF8, on which libsndfile loops for ever: FFmpeg reads it
      // and finds no data chunk.
      {"decode_wav_list_subchunk_stalls_libsndfile.bin", false, 0, "unrecognised or damaged data"},
      // The fuzzer's process passed 2 GB while running these two, grown by the inputs above.
      {"decode_wavpack_ape_tag_fuzz_oom.bin", true, 8820, ""},
      {"decode_mp3_xing_frame_fuzz_oom.bin", true, 17856, ""},
  };
  for (const Hostile& h : kFiles) {
    SCOPED_TRACE(h.file);
    const ChildRead read = ReadInChild(Data(h.file));
    ASSERT_TRUE(read.finished);
    EXPECT_EQ(read.opened, h.opens) << read.error;
    EXPECT_EQ(read.error, h.error);
    EXPECT_EQ(read.frames, h.frames);
    if (kPeaksMeanSomething) {
      EXPECT_LT(read.virtual_growth_mb, kMostGrowthMb);
      EXPECT_LT(read.resident_growth_mb, kMostGrowthMb);
    }
  }
}

std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// `wav` with `chunk` inserted after its "fmt " chunk, and the RIFF size fixed.
std::vector<uint8_t> WithChunk(std::vector<uint8_t> wav, const std::string& chunk) {
  wav.insert(wav.begin() + 36, chunk.begin(), chunk.end());
  const std::string riff_size = Le32(static_cast<uint32_t>(wav.size() - 8));
  std::copy(riff_size.begin(), riff_size.end(), wav.begin() + 4);
  return wav;
}

// All the PCM a decoder hands out.
std::vector<uint8_t> Decode(const fs::path& file) {
  std::string why;
  const std::unique_ptr<AudioDecoder> decoder = AudioDecoder::Open(file.string(), &why);
  EXPECT_TRUE(decoder) << why;
  std::vector<uint8_t> pcm;
  while (decoder) {
    const std::vector<uint8_t>& block = decoder->ReadBlock();
    if (block.empty()) break;
    pcm.insert(pcm.end(), block.begin(), block.end());
  }
  return pcm;
}

TEST(DecoderLimitsTest, AWavWhoseListWouldStallLibsndfileIsDecodedWhole) {
  const std::vector<uint8_t> pcm = testing::EncodePcm(
      testing::Interleave({testing::Music(4, 44100, 44100), testing::Music(5, 44100, 44100)}), 16);
  const std::vector<uint8_t> wav = testing::MakeWav({}, pcm);
  // An INFO list whose second item's size (0xFFFFFFF8) takes libsndfile's 32-bit count back to
  // where it was: it rereads the item for ever.
  const testing::ScopedTempFile plain("plain.wav", wav);
  const std::string list = "INFO" + std::string("INAM") + Le32(6) + std::string("Title\0", 6) +
                           "ABCD" + Le32(0xFFFFFFF8) + std::string(12, 'x');
  const testing::ScopedTempFile stalling(
      "stalls.wav", WithChunk(wav, "LIST" + Le32(static_cast<uint32_t>(list.size())) + list));
  const std::vector<uint8_t> expected = Decode(plain.path());
  ASSERT_EQ(expected.size(), pcm.size());
  const ChildRead read = ReadInChild(stalling.path());
  ASSERT_TRUE(read.finished);
  EXPECT_TRUE(read.opened) << read.error;
  EXPECT_EQ(read.frames, 44100);
  EXPECT_TRUE(Decode(stalling.path()) == expected);  // FFmpeg reads it as libsndfile would
}

TEST(DecoderLimitsTest, FilesWithAnEightyMegabyteCoverDecodeBesideOnesThatLie) {
  const fs::path dir = fs::temp_directory_path() / ("pelk-cli-cover-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const int64_t frames = 15 * 44100;
  testing::WriteFile(
      dir / "source.wav",
      testing::MakeWav({},
                       testing::EncodePcm(testing::Interleave({testing::Music(3, 44100, frames),
                                                               testing::Music(4, 44100, frames)}),
                                          16)));
  // An uncompressed picture of 5400 x 5400 (83 MB) as the cover of an M4A and an MP3 file, the
  // way a tagger attaches one, and the same audio without it.
  const fs::path picture = dir / "cover.bmp";
  const std::string make_picture =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=red:s=5400x5400 "
      "-frames:v 1 -c:v bmp " +
      ShellQuoted(picture.string()) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make_picture.c_str()), 0);
  ASSERT_GT(fs::file_size(picture), 80u << 20);
  std::vector<std::string> files;
  for (const auto& [name, codec] : {std::pair{"m4a", "aac"}, std::pair{"mp3", "libmp3lame"}}) {
    const fs::path plain = dir / (std::string("plain.") + name);
    const fs::path covered = dir / (std::string("covered.") + name);
    ASSERT_TRUE(EncodeAudio(dir / "source.wav", plain, {"-c:a", codec, "-b:a", "160k"}));
    const std::string attach = "ffmpeg -nostdin -loglevel error -y -i " +
                               ShellQuoted((dir / "source.wav").string()) + " -i " +
                               ShellQuoted(picture.string()) + " -map 0 -map 1 -c:a " + codec +
                               " -b:a 160k -c:v copy -disposition:v attached_pic " +
                               ShellQuoted(covered.string()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(attach.c_str()), 0);
    ASSERT_GT(fs::file_size(covered), 80u << 20);
    files.push_back(plain.string());
    files.push_back(covered.string());
  }
  // Decoded side by side with a small file that declares 1.4 GB, and one that declares 1.5 GB.
  const std::string lie = Data("decode_wav_info_item_claims_1_4gb.bin").string();
  const std::string wavpack_lie = Data("decode_wavpack_ape_binary_item_claims_1_5gb.bin").string();
  std::vector<std::string> args = {"fingerprint", "--json",    files[1], lie,
                                   files[3],      wavpack_lie, files[0], files[2]};
  const Outcome run = RunCommand(AddFingerprintCommand, args);
  fs::remove_all(dir);
  EXPECT_EQ(run.code, 1);
  std::map<std::string, std::vector<int64_t>> signatures;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json j = nlohmann::json::parse(line);
    signatures[j.at("file")] = j.at("signature").get<std::vector<int64_t>>();
  }
  ASSERT_EQ(signatures.size(), 4u) << run.out << run.err;
  EXPECT_EQ(signatures.at(files[1]), signatures.at(files[0]));  // the cover changes nothing
  EXPECT_EQ(signatures.at(files[3]), signatures.at(files[2]));
  // The lies get one line each: the WAV is refused, the WavPack tone is too short.
  EXPECT_NE(run.err.find("sonquix: " + lie + ": not an audio file that can be decoded ("),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("sonquix: " + wavpack_lie + ": too short for a fingerprint"),
            std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace pelk::cli
