// Decoding of audio files by the host into 16-bit little-endian PCM blocks, ready to be pushed
// through a fingerprinter's stream. WAV, AIFF and FLAC files are read with libsndfile, which is
// cheap to load (sndfile_reader.h); everything else FFmpeg's libraries read (MP3, Ogg Vorbis,
// Opus, AAC and ALAC in MP4/M4A, WMA, WavPack, APE, Musepack, ...) with them, loaded on first use,
// and so are the rest of a file libsndfile stops reading at a damaged frame. Only what is read
// is decoded: a caller that stops early pays for no more, and nothing is seeked.
//
// Whatever a file holds or declares, opening it and each block take bounded work and memory:
// FFmpeg reads through the host's own callbacks, against a budget of a few times the file's
// size (ffmpeg_input.h); no allocation it makes for a file exceeds what the file's size can
// justify (allocation_ceiling.h); a frame of audio comes within a bounded number of packets; and
// WAV files whose damage would stall libsndfile go to FFmpeg (riff_list_walk.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelk::cli {

class SndfileReader;

class AudioDecoder {
 public:
  // The decoder for a file, or null with *error saying why it cannot be read.
  static std::unique_ptr<AudioDecoder> Open(const std::string& path, std::string* error);
  ~AudioDecoder();
  AudioDecoder(const AudioDecoder&) = delete;
  AudioDecoder& operator=(const AudioDecoder&) = delete;

  int32_t sample_rate() const { return sample_rate_; }
  int32_t channels() const { return channels_; }
  double seconds() const;  // the length the file declares (0 when it declares none)
  // True when the samples are stored as 8-bit unsigned or 16-bit signed PCM in a WAV file, the
  // only forms the module's own WAV reader turns into audio.
  bool IsPlainWavPcm() const;

  // The next block of at most 4096 sample frames as interleaved 16-bit little-endian PCM;
  // empty at the end of the audio or on a read error. Damaged packets inside the stream are
  // skipped (the audio around them is kept); a stream that keeps failing ends there.
  const std::vector<uint8_t>& ReadBlock();

 private:
  struct File;
  AudioDecoder(std::unique_ptr<File> file, std::unique_ptr<SndfileReader> sndfile,
               std::string path);
  // Goes on with FFmpeg where libsndfile stopped before the declared end; false when there is
  // nothing more to read.
  bool SwitchToFfmpeg();

  std::unique_ptr<File> file_;  // FFmpeg's decoder
  std::unique_ptr<SndfileReader> sndfile_;
  std::string path_;
  int64_t frames_out_ = 0;  // sample frames libsndfile handed out
  int32_t sample_rate_ = 0;
  int32_t channels_ = 0;
  std::vector<uint8_t> block_;
};

}  // namespace pelk::cli
