#include "cli/audio/audio_decoder.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace pelk::cli {

namespace {
constexpr int kBlockFrames = 4096;
}  // namespace

struct AudioDecoder::File {
  SNDFILE* handle = nullptr;
  SF_INFO info{};
  ~File() {
    if (handle) sf_close(handle);
  }
};

std::unique_ptr<AudioDecoder> AudioDecoder::Open(const std::string& path, std::string* error) {
  auto file = std::make_unique<File>();
  file->handle = sf_open(path.c_str(), SFM_READ, &file->info);
  if (!file->handle) {
    *error = sf_strerror(nullptr);
    return nullptr;
  }
  if (file->info.channels <= 0 || file->info.samplerate <= 0) {
    *error = "the file declares no channels or no sample rate";
    return nullptr;
  }
  return std::unique_ptr<AudioDecoder>(new AudioDecoder(std::move(file)));
}

AudioDecoder::AudioDecoder(std::unique_ptr<File> file)
    : file_(std::move(file)),
      sample_rate_(file_->info.samplerate),
      channels_(file_->info.channels),
      frames_(file_->info.frames),
      format_(file_->info.format),
      samples_(static_cast<size_t>(kBlockFrames) * static_cast<size_t>(channels_)) {}

AudioDecoder::~AudioDecoder() = default;

double AudioDecoder::seconds() const {
  return static_cast<double>(frames_) / static_cast<double>(sample_rate_);
}

bool AudioDecoder::IsPlainWavPcm() const {
  const int32_t container = format_ & SF_FORMAT_TYPEMASK;
  const int32_t encoding = format_ & SF_FORMAT_SUBMASK;
  return (container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX) &&
         (encoding == SF_FORMAT_PCM_16 || encoding == SF_FORMAT_PCM_U8);
}

const std::vector<uint8_t>& AudioDecoder::ReadBlock() {
  block_.clear();
  // Read as floats, which the library scales to [-1, 1] for every sample format (reading
  // shorts would leave floating-point files unscaled, that is silent).
  const sf_count_t frames = sf_readf_float(file_->handle, samples_.data(), kBlockFrames);
  if (frames <= 0) return block_;
  const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
  block_.resize(2 * count);
  for (size_t i = 0; i < count; ++i) {
    const float scaled = std::clamp(std::nearbyint(samples_[i] * 32768.0f), -32768.0f, 32767.0f);
    const auto v = static_cast<uint16_t>(static_cast<int16_t>(scaled));
    block_[2 * i] = static_cast<uint8_t>(v);
    block_[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return block_;
}

}  // namespace pelk::cli
