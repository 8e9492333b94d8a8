#include "cli/audio/sndfile_reader.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

#include "cli/audio/riff_list_walk.h"

namespace pelk::cli {

struct SndfileReader::File {
  SNDFILE* handle = nullptr;
  SF_INFO info{};
  ~File() {
    if (handle) sf_close(handle);
  }
};

std::unique_ptr<SndfileReader> SndfileReader::Open(const std::string& path) {
  if (StallsSndfile(path)) return nullptr;
  auto file = std::make_unique<File>();
  file->handle = sf_open(path.c_str(), SFM_READ, &file->info);
  if (!file->handle || file->info.channels <= 0 || file->info.samplerate <= 0) return nullptr;
  return std::unique_ptr<SndfileReader>(new SndfileReader(std::move(file)));
}

SndfileReader::SndfileReader(std::unique_ptr<File> file) : file_(std::move(file)) {}
SndfileReader::~SndfileReader() = default;

int32_t SndfileReader::sample_rate() const { return file_->info.samplerate; }
int32_t SndfileReader::channels() const { return file_->info.channels; }

double SndfileReader::seconds() const {
  return static_cast<double>(file_->info.frames) / static_cast<double>(file_->info.samplerate);
}

bool SndfileReader::IsPlainWavPcm() const {
  const int32_t container = file_->info.format & SF_FORMAT_TYPEMASK;
  const int32_t encoding = file_->info.format & SF_FORMAT_SUBMASK;
  return (container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX) &&
         (encoding == SF_FORMAT_PCM_16 || encoding == SF_FORMAT_PCM_U8);
}

void SndfileReader::ReadBlock(int frames, std::vector<uint8_t>* block) {
  block->clear();
  const auto channels = static_cast<size_t>(file_->info.channels);
  samples_.resize(static_cast<size_t>(frames) * channels);
  // Read as floats, which the library scales to [-1, 1] for every sample format (reading
  // shorts would leave floating-point files unscaled, that is silent).
  const sf_count_t read = sf_readf_float(file_->handle, samples_.data(), frames);
  if (read <= 0) return;
  const size_t count = static_cast<size_t>(read) * channels;
  block->resize(2 * count);
  for (size_t i = 0; i < count; ++i) {
    const float scaled = std::clamp(std::nearbyint(samples_[i] * 32768.0f), -32768.0f, 32767.0f);
    const auto v = static_cast<uint16_t>(static_cast<int16_t>(scaled));
    (*block)[2 * i] = static_cast<uint8_t>(v);
    (*block)[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
}

}  // namespace pelk::cli
