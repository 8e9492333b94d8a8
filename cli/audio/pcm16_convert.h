// Conversion of decoded audio in any of FFmpeg's sample formats, planar (one buffer per channel)
// or packed (channels interleaved in one buffer), to the interleaved 16-bit little-endian PCM
// that the fingerprinter's stream takes.
#pragma once

#include <cstdint>
#include <vector>

namespace pelk::cli {

// Appends sample frames [first, first + count) of decoded audio to *out. `format` is an
// AVSampleFormat; `planes` holds one buffer per channel for a planar format, one buffer for a
// packed one. Integers wider than 16 bits are rounded to 16, 8-bit unsigned is centred, floating
// point is scaled from [-1, 1] and clamped (NaN becomes 0). False, with nothing appended, for a
// format it does not know.
bool AppendPcm16(const uint8_t* const* planes, int format, int channels, int first, int count,
                 std::vector<uint8_t>* out);

}  // namespace pelk::cli
