#include "cli/audio/pcm16_convert.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pelk::cli {
namespace {

// The packed form of a sample format, and whether it was planar. Written out rather than asked
// of libavutil, which is loaded only when a file is decoded.
AVSampleFormat Packed(AVSampleFormat format, bool* planar) {
  *planar = true;
  switch (format) {
    case AV_SAMPLE_FMT_U8P:
      return AV_SAMPLE_FMT_U8;
    case AV_SAMPLE_FMT_S16P:
      return AV_SAMPLE_FMT_S16;
    case AV_SAMPLE_FMT_S32P:
      return AV_SAMPLE_FMT_S32;
    case AV_SAMPLE_FMT_S64P:
      return AV_SAMPLE_FMT_S64;
    case AV_SAMPLE_FMT_FLTP:
      return AV_SAMPLE_FMT_FLT;
    case AV_SAMPLE_FMT_DBLP:
      return AV_SAMPLE_FMT_DBL;
    default:
      *planar = false;
      return format;
  }
}

int16_t FromFloat(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int16_t>(std::clamp(std::nearbyint(v * 32768.0), -32768.0, 32767.0));
}

// Rounds the top 16 of `bits` bits, saturating where rounding would pass the largest value.
int16_t FromWide(int64_t v, int bits) {
  const int shift = bits - 16;
  const int64_t rounded = ((v >> (shift - 1)) + 1) >> 1;
  return static_cast<int16_t>(std::min<int64_t>(rounded, 32767));
}

template <typename Sample, typename Convert>
void Append(const uint8_t* const* planes, bool planar, int channels, int first, int count,
            Convert convert, uint8_t* out) {
  for (int i = first; i < first + count; ++i) {
    for (int c = 0; c < channels; ++c) {
      const uint8_t* at = planar ? planes[c] + sizeof(Sample) * static_cast<size_t>(i)
                                 : planes[0] + sizeof(Sample) * (static_cast<size_t>(i) * channels +
                                                                 static_cast<size_t>(c));
      Sample sample;
      std::memcpy(&sample, at, sizeof sample);  // planes need not be aligned for Sample
      const auto v = static_cast<uint16_t>(convert(sample));
      *out++ = static_cast<uint8_t>(v);
      *out++ = static_cast<uint8_t>(v >> 8);
    }
  }
}

}  // namespace

bool AppendPcm16(const uint8_t* const* planes, int format, int channels, int first, int count,
                 std::vector<uint8_t>* out) {
  if (channels <= 0 || count < 0 || first < 0) return false;
  bool planar = false;
  const AVSampleFormat packed = Packed(static_cast<AVSampleFormat>(format), &planar);
  const size_t at = out->size();
  out->resize(at + 2 * static_cast<size_t>(count) * static_cast<size_t>(channels));
  uint8_t* dest = out->data() + at;
  switch (packed) {
    case AV_SAMPLE_FMT_U8:
      Append<uint8_t>(
          planes, planar, channels, first, count,
          [](uint8_t v) { return static_cast<int16_t>((v - 128) * 256); }, dest);
      return true;
    case AV_SAMPLE_FMT_S16:
      Append<int16_t>(
          planes, planar, channels, first, count, [](int16_t v) { return v; }, dest);
      return true;
    case AV_SAMPLE_FMT_S32:
      Append<int32_t>(
          planes, planar, channels, first, count, [](int32_t v) { return FromWide(v, 32); }, dest);
      return true;
    case AV_SAMPLE_FMT_S64:
      Append<int64_t>(
          planes, planar, channels, first, count, [](int64_t v) { return FromWide(v, 64); }, dest);
      return true;
    case AV_SAMPLE_FMT_FLT:
      Append<float>(
          planes, planar, channels, first, count, [](float v) { return FromFloat(v); }, dest);
      return true;
    case AV_SAMPLE_FMT_DBL:
      Append<double>(
          planes, planar, channels, first, count, [](double v) { return FromFloat(v); }, dest);
      return true;
    default:
      out->resize(at);
      return false;
  }
}

}  // namespace pelk::cli
