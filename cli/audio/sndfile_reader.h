// Reading of WAV (any sample format), AIFF and FLAC files through libsndfile into 16-bit
// little-endian PCM. The host reads these formats with it rather than with FFmpeg:
// it is one small library that loads in about half a millisecond, where FFmpeg's libraries take
// about 30 ms of CPU to load, most of a whole `sonquix fingerprint FILE.flac` process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelk::cli {

class SndfileReader {
 public:
  // The reader for a file libsndfile recognises, or null; null too for a WAV file whose damage
  // would stall libsndfile (riff_list_walk.h).
  static std::unique_ptr<SndfileReader> Open(const std::string& path);
  ~SndfileReader();
  SndfileReader(const SndfileReader&) = delete;
  SndfileReader& operator=(const SndfileReader&) = delete;

  int32_t sample_rate() const;
  int32_t channels() const;
  double seconds() const;  // the length the file declares
  bool IsPlainWavPcm() const;
  // Replaces *block with the next at most `frames` sample frames, interleaved; empty at the end
  // or at the first damaged frame.
  void ReadBlock(int frames, std::vector<uint8_t>* block);

 private:
  struct File;
  explicit SndfileReader(std::unique_ptr<File> file);
  std::unique_ptr<File> file_;
  std::vector<float> samples_;
};

}  // namespace pelk::cli
