#include "fingerprint/sample_converter.h"

namespace pelk::fingerprint {
namespace {

int16_t Sample16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

}  // namespace

bool IsConvertibleWidth(int32_t bits_per_sample) {
  return bits_per_sample == 8 || bits_per_sample == 16;
}

size_t ConvertSamples(const uint8_t* data, size_t frames, int32_t channels, int32_t bits_per_sample,
                      float* out) {
  const size_t ch = static_cast<size_t>(channels);
  if (bits_per_sample == 16) {
    // Mono and stereo are most of what arrives; their loops stay short.
    if (ch == 1) {
      for (size_t f = 0; f < frames; ++f, data += 2) out[f] = Sample16(data);
      return frames;
    }
    if (ch == 2) {
      for (size_t f = 0; f < frames; ++f, data += 4) {
        out[f] = static_cast<float>(int32_t{Sample16(data)} + Sample16(data + 2));
      }
      return frames;
    }
    for (size_t f = 0; f < frames; ++f) {
      int64_t sum = 0;
      for (size_t c = 0; c < ch; ++c, data += 2) {
        sum += Sample16(data);
      }
      out[f] = static_cast<float>(sum);
    }
    return frames;
  }
  if (bits_per_sample == 8) {
    for (size_t f = 0; f < frames; ++f) {
      int64_t sum = 0;
      for (size_t c = 0; c < ch; ++c) sum += (int32_t{*data++} - 128) * 256;
      out[f] = static_cast<float>(sum);
    }
    return frames;
  }
  return 0;
}

}  // namespace pelk::fingerprint
