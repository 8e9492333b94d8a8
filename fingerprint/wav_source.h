// Uncompressed RIFF WAVE files. The format tag is not examined: channels, rate and sample width
// are passed on as the header states them and the engine decides what it can use.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "fingerprint/audio_source.h"
#include "fingerprint/riff_reader.h"

namespace pelk::fingerprint {

// The first 18 bytes of the "fmt " chunk.
struct WaveFormat {
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t samples_per_sec = 0;
  uint32_t avg_bytes_per_sec = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t extra_size = 0;
};

class WavSource : public AudioSource {
 public:
  // Opens and parses the file. On any failure the source holds no file and Rewind fails.
  explicit WavSource(const std::string& utf8_path);
  // The same on an already open stream (for instance over memory); takes ownership.
  explicit WavSource(std::FILE* file);

  int32_t GetSampleRate() const override { return static_cast<int32_t>(format_.samples_per_sec); }
  int32_t GetBitsPerSample() const override { return format_.bits_per_sample; }
  int32_t GetChannels() const override { return format_.channels; }
  uint32_t GetDataSize() const override { return data_size_; }
  int32_t GetDurationMs() const override { return duration_ms_; }

  // E_FAIL without a file or when the seek fails.
  HRESULT Rewind() override;
  // Blocks of at most 4096 bytes, each a whole number of sample frames (block alignments), so
  // every block can be pushed to the stream as it is; a trailing partial frame is not handed
  // out. A read error ends the data early.
  HRESULT Read(const uint8_t** data, int32_t* length) override;

  bool is_open() const { return reader_ != nullptr; }
  const WaveFormat& format() const { return format_; }

 private:
  void Parse();

  std::unique_ptr<RiffReader> reader_;  // null when opening or parsing failed
  WaveFormat format_;
  int32_t duration_ms_ = 0;
  uint32_t bytes_read_ = 0;
  uint32_t data_size_ = 0;
  uint64_t data_offset_ = 0;
  uint32_t block_bytes_ = 0;  // the largest whole-frame block within 4096 bytes
  std::array<uint8_t, kAudioBlockBytes> buffer_{};
};

}  // namespace pelk::fingerprint
