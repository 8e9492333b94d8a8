#include "cli/audio/pcm16_convert.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace pelk::cli {
namespace {

// Three frames of two channels, as the 16-bit values they must become: left, right, ...
const std::vector<int16_t> kExpected = {0, -32768, 16384, 32767, -1, 255};

std::vector<int16_t> Decode(const std::vector<uint8_t>& pcm) {
  std::vector<int16_t> values;
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    values.push_back(static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8)));
  }
  return values;
}

// The same samples laid out packed (one buffer, channels interleaved) and planar (one buffer per
// channel), converted through both layouts of `format`.
template <typename Sample>
void ExpectBothLayouts(AVSampleFormat packed, AVSampleFormat planar,
                       const std::vector<Sample>& interleaved,
                       const std::vector<int16_t>& expected = kExpected) {
  SCOPED_TRACE(packed);
  std::vector<uint8_t> bytes(interleaved.size() * sizeof(Sample));
  std::memcpy(bytes.data(), interleaved.data(), bytes.size());
  const uint8_t* packed_planes[] = {bytes.data()};
  std::vector<uint8_t> out;
  ASSERT_TRUE(AppendPcm16(packed_planes, packed, 2, 0, 3, &out));
  EXPECT_EQ(Decode(out), expected);

  std::vector<uint8_t> left, right;
  for (size_t i = 0; i < interleaved.size(); ++i) {
    std::vector<uint8_t>& plane = i % 2 == 0 ? left : right;
    const auto* at = reinterpret_cast<const uint8_t*>(&interleaved[i]);
    plane.insert(plane.end(), at, at + sizeof(Sample));
  }
  const uint8_t* planar_planes[] = {left.data(), right.data()};
  std::vector<uint8_t> planar_out;
  ASSERT_TRUE(AppendPcm16(planar_planes, planar, 2, 0, 3, &planar_out));
  EXPECT_EQ(Decode(planar_out), expected);

  // A range starting inside the buffers appends only its frames, after what *out held.
  std::vector<uint8_t> tail = {0xAA, 0xBB};
  ASSERT_TRUE(AppendPcm16(planar_planes, planar, 2, 1, 2, &tail));
  std::vector<int16_t> want = {static_cast<int16_t>(0xBBAA)};
  want.insert(want.end(), expected.begin() + 2, expected.end());
  EXPECT_EQ(Decode(tail), want);
}

TEST(Pcm16ConvertTest, EverySampleFormatPackedAndPlanar) {
  ExpectBothLayouts<int16_t>(AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P, kExpected);
  ExpectBothLayouts<uint8_t>(AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_U8P, {128, 0, 192, 255, 128, 129},
                             {0, -32768, 16384, 32512, 0, 256});
  // 32- and 64-bit integers are rounded to their top 16 bits, saturating at the top.
  ExpectBothLayouts<int32_t>(AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P,
                             {0x7FFF, std::numeric_limits<int32_t>::min(), 0x40000000,
                              std::numeric_limits<int32_t>::max(), -0x10000 + 0x7FFF, 0xFF7FFF});
  ExpectBothLayouts<int64_t>(
      AV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64P,
      {0, std::numeric_limits<int64_t>::min(), int64_t{1} << 62,
       std::numeric_limits<int64_t>::max(), -(int64_t{1} << 48), 255ll << 48});
  ExpectBothLayouts<float>(AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP,
                           {0.0f, -1.0f, 0.5f, 1.0f, -1.0f / 32768, 255.0f / 32768});
  // Out of range is clamped; NaN is silence.
  ExpectBothLayouts<double>(AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP,
                            {std::nan(""), -3.0, 0.5, 2.0, -1.0 / 32768, 255.4 / 32768});
}

TEST(Pcm16ConvertTest, UnknownFormatAppendsNothing) {
  const uint8_t bytes[8] = {};
  const uint8_t* planes[] = {bytes};
  std::vector<uint8_t> out = {1, 2};
  EXPECT_FALSE(AppendPcm16(planes, AV_SAMPLE_FMT_NONE, 2, 0, 1, &out));
  EXPECT_FALSE(AppendPcm16(planes, AV_SAMPLE_FMT_NB, 2, 0, 1, &out));
  EXPECT_FALSE(AppendPcm16(planes, AV_SAMPLE_FMT_S16, 0, 0, 1, &out));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2}));
}

}  // namespace
}  // namespace pelk::cli
