// The "kz-zip" compressed form: the uncompressed length as 8 lower-case hexadecimal digits,
// then a zlib stream (RFC 1950) of the bytes, compressed at level 1.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "runtime/hresult.h"

namespace pelk::text {

inline constexpr HRESULT kZipOutOfMemory = static_cast<HRESULT>(0x90150001u);
inline constexpr HRESULT kZipBadInput = static_cast<HRESULT>(0x90150004u);
inline constexpr HRESULT kZipBufferError = static_cast<HRESULT>(0x9015000Au);
inline constexpr HRESULT kZipVersionError = static_cast<HRESULT>(0x90150405u);
inline constexpr HRESULT kZipDataError = static_cast<HRESULT>(0x90150441u);
inline constexpr HRESULT kZipUnknownMethod = static_cast<HRESULT>(0x901505C1u);

// A declared length above this many times the compressed stream's size is refused before
// anything is allocated, so a corrupt header cannot demand a huge buffer.
inline constexpr uint64_t kZipMaxExpansion = 100;

// Compresses `bytes` with `method` into *out (replacing its content). The method name must be
// "kz-zip" in any case (else kZipUnknownMethod); inputs of 4 GiB or more are kZipBadInput.
HRESULT Compress(std::string_view method, std::span<const uint8_t> bytes,
                 std::vector<uint8_t>* out);

// The inverse of Compress. Input shorter than the 8-digit header, a header that is not
// hexadecimal, or a declared length above kZipMaxExpansion times the stream's size is
// kZipBadInput; a stream that does not fit the declared length is kZipBufferError; a corrupt
// stream is kZipDataError. The result is as long as what the stream produced.
HRESULT Decompress(std::string_view method, std::span<const uint8_t> bytes,
                   std::vector<uint8_t>* out);

}  // namespace pelk::text
