// The file as FFmpeg reads it, driven through the callbacks FFmpeg calls: honest reading never
// runs out, going over the same bytes again and again does, and seeks land where FFmpeg asks.
#include "cli/audio/ffmpeg_input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/pcm_synth.h"

namespace pelk::cli {
namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 2654435761u >> 11);
  return bytes;
}

class FfmpegInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(LoadFfmpeg(&error)) << error;
  }
  std::unique_ptr<FfmpegInput> Open(const testing::ScopedTempFile& file) {
    std::string error;
    std::unique_ptr<FfmpegInput> input = FfmpegInput::Open(file.str(), &error);
    EXPECT_TRUE(input) << error;
    return input;
  }
  static int Read(FfmpegInput& input, std::vector<uint8_t>* into) {
    return input.io()->read_packet(input.io()->opaque, into->data(),
                                   static_cast<int>(into->size()));
  }
  static int64_t Seek(FfmpegInput& input, int64_t offset, int whence) {
    return input.io()->seek(input.io()->opaque, offset, whence);
  }
  static bool Interrupted(FfmpegInput& input) {
    const AVIOInterruptCB interrupt = input.interrupt();
    return interrupt.callback(interrupt.opaque) != 0;
  }
};

TEST_F(FfmpegInputTest, ReadingAFileThroughThreeTimesNeverRunsOut) {
  for (const size_t size : {size_t{5000}, size_t{20} << 20}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> content = Pattern(size);
    const testing::ScopedTempFile file("file.bin", content);
    const auto input = Open(file);
    ASSERT_TRUE(input);
    for (int pass = 0; pass < 3; ++pass) {
      ASSERT_EQ(Seek(*input, 0, SEEK_SET), 0);
      std::vector<uint8_t> read, buffer(32768);
      for (int got; (got = Read(*input, &buffer)) > 0;) {
        read.insert(read.end(), buffer.begin(), buffer.begin() + got);
      }
      EXPECT_TRUE(read == content) << "pass " << pass;
    }
    EXPECT_FALSE(input->exhausted());
    EXPECT_FALSE(Interrupted(*input));
  }
}

TEST_F(FfmpegInputTest, GoingOverTheSameBytesAgainAndAgainRunsOut) {
  const std::vector<uint8_t> content = Pattern(4096);
  const testing::ScopedTempFile file("file.bin", content);
  const auto input = Open(file);
  ASSERT_TRUE(input);
  std::vector<uint8_t> buffer(content.size());
  int64_t handed_out = 0;
  int last = 0;
  for (int round = 0; round < 1000000; ++round) {
    if (Seek(*input, 0, SEEK_SET) != 0) break;
    last = Read(*input, &buffer);
    if (last <= 0) break;
    handed_out += last;
  }
  EXPECT_EQ(last, AVERROR_EXIT);
  EXPECT_TRUE(input->exhausted());
  EXPECT_TRUE(Interrupted(*input));
  // Never more than the budget, whatever the calls: here under 17 MB for 4 KB.
  EXPECT_LE(handed_out, static_cast<int64_t>(FfmpegInput::kBudgetFactor * content.size() +
                                             FfmpegInput::kBudgetBase));
  EXPECT_LT(Seek(*input, 0, SEEK_SET), 0);  // seeks stop too
}

TEST_F(FfmpegInputTest, SeeksLandWhereFfmpegAsks) {
  const std::vector<uint8_t> content = Pattern(1000);
  const testing::ScopedTempFile file("file.bin", content);
  const auto input = Open(file);
  ASSERT_TRUE(input);
  EXPECT_EQ(Seek(*input, 0, AVSEEK_SIZE), 1000);
  EXPECT_EQ(Seek(*input, -10, SEEK_END | AVSEEK_FORCE), 990);
  std::vector<uint8_t> buffer(64);
  ASSERT_EQ(Read(*input, &buffer), 10);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 10, content.end() - 10));
  EXPECT_EQ(Read(*input, &buffer), AVERROR_EOF);
  EXPECT_EQ(Seek(*input, -500, SEEK_CUR), 500);
  ASSERT_EQ(Read(*input, &buffer), 64);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), content.begin() + 500));
  // Offsets a file declares: before the start, or past what 64 bits hold.
  EXPECT_LT(Seek(*input, -1, SEEK_SET), 0);
  EXPECT_LT(Seek(*input, INT64_MAX, SEEK_CUR), 0);
  EXPECT_EQ(Seek(*input, 0, SEEK_CUR), 564);  // a refused seek moves nothing
  std::string error;
  EXPECT_FALSE(FfmpegInput::Open(file.str() + ".missing", &error));
  EXPECT_EQ(error, "no such file or directory");
}

}  // namespace
}  // namespace pelk::cli
