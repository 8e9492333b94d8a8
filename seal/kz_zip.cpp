#include "seal/kz_zip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>

namespace pelk::text {
namespace {

constexpr size_t kHeaderSize = 8;

bool IsKzZip(std::string_view method) {
  constexpr std::string_view kName = "kz-zip";
  if (method.size() != kName.size()) return false;
  for (size_t i = 0; i < kName.size(); ++i) {
    char c = method[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kName[i]) return false;
  }
  return true;
}

HRESULT FromZlib(int result) {
  switch (result) {
    case Z_MEM_ERROR:
      return kZipOutOfMemory;
    case Z_BUF_ERROR:
      return kZipBufferError;
    case Z_VERSION_ERROR:
      return kZipVersionError;
    default:  // Z_DATA_ERROR, Z_STREAM_ERROR, Z_NEED_DICT: the stream is not what we write
      return kZipDataError;
  }
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

HRESULT Deflate(std::span<const uint8_t> bytes, std::vector<uint8_t>* out) {
  z_stream stream{};
  int result = deflateInit(&stream, 1);
  if (result != Z_OK) return FromZlib(result);
  // Room for the header and the stream: the customary length + length/1000 + 21, or zlib's own
  // bound when that is larger, so that a single deflate call always finishes.
  const size_t room = std::max<size_t>(bytes.size() + bytes.size() / 1000 + 21,
                                       kHeaderSize + deflateBound(&stream, bytes.size()));
  try {
    out->resize(room);
  } catch (...) {
    deflateEnd(&stream);
    throw;
  }
  char header[kHeaderSize + 1];
  std::snprintf(header, sizeof header, "%08x", static_cast<unsigned>(bytes.size()));
  std::copy_n(header, kHeaderSize, out->begin());
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = out->data() + kHeaderSize;
  stream.avail_out = static_cast<uInt>(room - kHeaderSize);
  result = deflate(&stream, Z_FINISH);
  const size_t produced = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    out->clear();
    return result == Z_OK ? kZipBufferError : FromZlib(result);
  }
  out->resize(kHeaderSize + produced);
  return S_OK;
}

HRESULT Inflate(std::span<const uint8_t> bytes, std::vector<uint8_t>* out) {
  if (bytes.size() < kHeaderSize) return kZipBadInput;
  uint64_t declared = 0;
  for (size_t i = 0; i < kHeaderSize; ++i) {
    const int digit = HexDigit(bytes[i]);
    if (digit < 0) return kZipBadInput;
    declared = declared * 16 + static_cast<uint64_t>(digit);
  }
  const std::span<const uint8_t> compressed = bytes.subspan(kHeaderSize);
  if (declared > kZipMaxExpansion * compressed.size()) return kZipBadInput;
  if (compressed.size() > std::numeric_limits<uInt>::max()) return kZipBadInput;

  out->resize(static_cast<size_t>(declared));
  z_stream stream{};
  int result = inflateInit(&stream);
  if (result != Z_OK) return FromZlib(result);
  uint8_t unused = 0;  // zlib wants a valid output pointer even for an empty result
  stream.next_in = const_cast<Bytef*>(compressed.data());
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = out->empty() ? &unused : out->data();
  stream.avail_out = static_cast<uInt>(out->size());
  result = inflate(&stream, Z_FINISH);
  const size_t produced = stream.total_out;
  inflateEnd(&stream);
  if (result != Z_STREAM_END) {
    out->clear();
    // Z_OK here means the output space ran out before the stream's end.
    return result == Z_OK ? kZipBufferError : FromZlib(result);
  }
  out->resize(produced);
  return S_OK;
}

}  // namespace

HRESULT Compress(std::string_view method, std::span<const uint8_t> bytes,
                 std::vector<uint8_t>* out) {
  if (!IsKzZip(method)) return kZipUnknownMethod;
  if (bytes.size() > std::numeric_limits<uint32_t>::max() - bytes.size() / 1000 - 64) {
    return kZipBadInput;  // the header holds 32 bits, zlib's counters as well
  }
  try {
    return Deflate(bytes, out);
  } catch (const std::bad_alloc&) {
    return kZipOutOfMemory;
  } catch (const std::length_error&) {
    return kZipOutOfMemory;
  }
}

HRESULT Decompress(std::string_view method, std::span<const uint8_t> bytes,
                   std::vector<uint8_t>* out) {
  if (!IsKzZip(method)) return kZipUnknownMethod;
  try {
    return Inflate(bytes, out);
  } catch (const std::bad_alloc&) {
    return kZipOutOfMemory;
  } catch (const std::length_error&) {
    return kZipOutOfMemory;
  }
}

}  // namespace pelk::text
