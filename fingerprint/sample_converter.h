// Interleaved little-endian PCM to one float per sample frame, the channels added (not
// averaged). 16-bit samples are signed; 8-bit samples are unsigned with 128 as zero and are
// centred and scaled to the 16-bit range, (b - 128) x 256, so that an 8-bit and a 16-bit
// rendering of the same audio look alike to the silence gate and the analyzer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelk::fingerprint {

// At most this many sample frames are converted per step.
inline constexpr size_t kConversionFrames = 4096;

// True for the sample widths that convert to audio (8 and 16 bits).
bool IsConvertibleWidth(int32_t bits_per_sample);

// Converts `frames` sample frames of `channels` x `bits_per_sample` / 8 bytes each into `out`.
// Returns the number of frames converted: `frames`, or 0 for a width that is not convertible.
size_t ConvertSamples(const uint8_t* data, size_t frames, int32_t channels, int32_t bits_per_sample,
                      float* out);

}  // namespace pelk::fingerprint
