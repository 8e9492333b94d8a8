// WAV headers that promise far more than a fingerprint needs: a data chunk claiming 2 GB in a
// small file, and a (virtual) ten-hour file. The source reads only what the file holds, and a
// fingerprint reads only the window the engine takes, never the rest of a long file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fingerprint/stream_extractor.h"
#include "fingerprint/wav_source.h"
#include "tests/fingerprint/engine_test_util.h"
#include "tests/fingerprint/object_test_util.h"
#include "tests/support/hr_matchers.h"
#include "tests/support/pcm_synth.h"

namespace pelk::fingerprint {
namespace {

using testing::MakeWav;
using testing::PcmFormat;
using testing::ScopedTempFile;

std::vector<uint8_t> MonoMusic(const PcmFormat& format, double seconds, uint32_t seed) {
  return testing::EncodePcm(
      testing::Music(seed, format.sample_rate, static_cast<int64_t>(seconds * format.sample_rate)),
      format.bits);
}

// A read-only stream of `size` bytes: `head` and then zeros (a sparse file, without the disk),
// counting the bytes handed out.
class VirtualFile {
 public:
  VirtualFile(std::vector<uint8_t> head, uint64_t size) : head_(std::move(head)), size_(size) {}

  // The stream; whoever takes it closes it (the object must outlive it).
  std::FILE* Open() {
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buffer, size_t wanted) -> ssize_t {
      auto* f = static_cast<VirtualFile*>(cookie);
      if (f->position_ >= f->size_) return 0;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(wanted, f->size_ - f->position_));
      for (size_t i = 0; i < n; ++i) {
        const uint64_t at = f->position_ + i;
        buffer[i] = at < f->head_.size() ? static_cast<char>(f->head_[at]) : 0;
      }
      f->position_ += n;
      f->bytes_read_ += n;
      return static_cast<ssize_t>(n);
    };
    io.seek = [](void* cookie, off64_t* offset, int whence) -> int {
      auto* f = static_cast<VirtualFile*>(cookie);
      const int64_t base = whence == SEEK_SET   ? 0
                           : whence == SEEK_CUR ? static_cast<int64_t>(f->position_)
                                                : static_cast<int64_t>(f->size_);
      if (base + *offset < 0) return -1;
      f->position_ = static_cast<uint64_t>(base + *offset);
      *offset = static_cast<off64_t>(f->position_);
      return 0;
    };
    io.close = [](void*) { return 0; };
    return fopencookie(this, "rb", io);
  }
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  std::vector<uint8_t> head_;
  uint64_t size_;
  uint64_t position_ = 0;
  uint64_t bytes_read_ = 0;
};

// Reads the source into a stream as the fingerprinter does: until the stream has its window.
StreamResult FingerprintSource(WavSource& source) {
  StreamExtractor extractor(source.GetSampleRate(), source.GetBitsPerSample(),
                            source.GetChannels());
  StreamResult result;
  EXPECT_HR(S_OK, source.Rewind());
  for (;;) {
    const uint8_t* block = nullptr;
    int32_t length = 0;
    EXPECT_HR(S_OK, source.Read(&block, &length));
    if (length == 0) break;
    result.last_write = extractor.Write(block, length);
    if (result.last_write != kExtractOk) break;
  }
  result.signature = extractor.Signature();
  result.done = extractor.IsDone();
  return result;
}

TEST(WavLimitsTest, ATwoGigabyteDataClaimReadsOnlyWhatTheFileHolds) {
  const PcmFormat format{11025, 16, 1};
  const std::vector<uint8_t> pcm = MonoMusic(format, 30, 7);
  const ScopedTempFile honest("honest.wav", MakeWav(format, pcm));
  const ScopedTempFile lying(
      "lying.wav", MakeWav(format, pcm, {.riff_size = 0x80000024, .data_size = 0x80000000}));

  WavSource source(lying.str());
  ASSERT_TRUE(source.is_open());
  EXPECT_EQ(source.GetDataSize(), pcm.size());
  EXPECT_EQ(source.GetDurationMs(), 30000);  // what the file holds, not 27 hours

  ComPtr<IPelkSonquixFingerprinter2> fingerprinter = testing::NewFingerprinter();
  ComPtr<IPelkSonquixFingerprint> from_lying, from_honest;
  ASSERT_HR(S_OK,
            fingerprinter->GetFileFingerprint(Bstr::FromUtf8(lying.str()).Get(), from_lying.Out()));
  ASSERT_HR(S_OK, fingerprinter->GetFileFingerprint(Bstr::FromUtf8(honest.str()).Get(),
                                                    from_honest.Out()));
  EXPECT_EQ(
      testing::Read(from_lying.As<IFingerprintImpl>().Get(), &IFingerprintImpl::get_Signature),
      testing::Read(from_honest.As<IFingerprintImpl>().Get(), &IFingerprintImpl::get_Signature));
}

TEST(WavLimitsTest, ATenHourFileIsReadOnlyAsFarAsTheWindow) {
  // 22050 Hz mono 16-bit: ten hours are 1.59 GB, within what a RIFF size can say. A minute of
  // music comes first, silence (zeros) the rest of the ten hours.
  const PcmFormat format{22050, 16, 1};
  const std::vector<uint8_t> minute = MonoMusic(format, 60, 9);
  const uint64_t ten_hours = uint64_t{10} * 3600 * 22050 * 2;
  std::vector<uint8_t> head = MakeWav(format, minute,
                                      {.riff_size = static_cast<int64_t>(ten_hours + 36),
                                       .data_size = static_cast<int64_t>(ten_hours)});
  VirtualFile file(std::move(head), ten_hours + 44);

  WavSource source(file.Open());
  ASSERT_TRUE(source.is_open());
  EXPECT_EQ(source.GetDataSize(), ten_hours);
  EXPECT_EQ(source.GetDurationMs(), 36000000);
  const StreamResult long_file = FingerprintSource(source);
  EXPECT_EQ(long_file.last_write, kExtractComplete);
  ASSERT_TRUE(long_file.done);
  // Within the minute of music: the window, never the ten hours.
  EXPECT_LT(file.bytes_read(), minute.size() + 44);

  const StreamResult minute_alone = Fingerprint(format, minute);
  ASSERT_TRUE(minute_alone.done);
  EXPECT_EQ(long_file.signature, minute_alone.signature);
}

}  // namespace
}  // namespace pelk::fingerprint
