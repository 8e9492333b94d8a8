// Audio sources: where GetFileFingerprint reads its samples from. A source reports the stream's
// format, rewinds to the first sample and hands out the sample bytes in blocks of at most
// kAudioBlockBytes, which the fingerprinter pushes unchanged into its stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "runtime/hresult.h"

namespace pelk::fingerprint {

inline constexpr int32_t kAudioBlockBytes = 4096;

class AudioSource {
 public:
  virtual ~AudioSource() = default;

  virtual int32_t GetSampleRate() const = 0;  // samples per second
  virtual int32_t GetBitsPerSample() const = 0;
  virtual int32_t GetChannels() const = 0;
  virtual uint32_t GetDataSize() const = 0;  // bytes of sample data
  virtual int32_t GetDurationMs() const = 0;

  // Positions the source at its first sample. The base does nothing.
  virtual HRESULT Rewind() { return S_OK; }

  // Hands out the next block: *data points into the source's own buffer (valid until the next
  // call) and *length is its size; a length of 0 means the end of the data. Both outputs are
  // set before anything else.
  virtual HRESULT Read(const uint8_t** data, int32_t* length) = 0;
};

// The source for a file: a WavSource when the path ends with ".wav" in any case (even if the
// file then fails to open or parse; its Rewind reports that), none otherwise.
std::unique_ptr<AudioSource> CreateAudioSource(std::string_view utf8_path);

}  // namespace pelk::fingerprint
