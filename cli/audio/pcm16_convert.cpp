#include "cli/audio/pcm16_convert.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Rounds to nearest, ties to even, as std::nearbyint does in the default rounding mode; the
// library call per sample cost a sixth of a Vorbis file's whole fingerprint. Scaling by a power
// of two is exact in either precision.
template <typename Real>
int16_t FromReal(Real v) {
  if (std::isnan(v)) return 0;
  const Real scaled = std::clamp(v * Real{32768}, Real{-32768}, Real{32767});
#if defined(__SSE2__)
  if constexpr (sizeof(Real) == sizeof(float)) {
    return static_cast<int16_t>(_mm_cvtss_si32(_mm_set_ss(scaled)));
  } else {
    return static_cast<int16_t>(_mm_cvtsd_si32(_mm_set_sd(scaled)));
  }
#else
  return static_cast<int16_t>(std::nearbyint(scaled));
#endif
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
  const auto n = static_cast<size_t>(channels);
  // One channel at a time: each plane (or the packed buffer at a stride) is read in order.
  for (size_t c = 0; c < n; ++c) {
    const uint8_t* in = planar ? planes[c] + sizeof(Sample) * static_cast<size_t>(first)
                               : planes[0] + sizeof(Sample) * (static_cast<size_t>(first) * n + c);
    const size_t stride = planar ? sizeof(Sample) : sizeof(Sample) * n;
    uint8_t* to = out + 2 * c;
    for (int i = 0; i < count; ++i, in += stride, to += 2 * n) {
      Sample sample;
      std::memcpy(&sample, in, sizeof sample);  // planes need not be aligned for Sample
      const auto v = static_cast<uint16_t>(convert(sample));
      to[0] = static_cast<uint8_t>(v);
      to[1] = static_cast<uint8_t>(v >> 8);
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
          planes, planar, channels, first, count, [](float v) { return FromReal(v); }, dest);
      return true;
    case AV_SAMPLE_FMT_DBL:
      Append<double>(
          planes, planar, channels, first, count, [](double v) { return FromReal(v); }, dest);
      return true;
    default:
      out->resize(at);
      return false;
  }
}

}  // namespace pelk::cli
