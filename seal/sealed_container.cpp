#include "seal/sealed_container.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <stdexcept>

#include "seal/base64.h"
#include "seal/kz_zip.h"
#include "seal/md5.h"

namespace pelk::text {
namespace {

// Mixed into both checks. NEVER CHANGE: every string already sealed, serialized fingerprints
// included, would stop opening.
constexpr std::array<uint8_t, 16> kCheckSalt = {0x96, 0xb6, 0x0f, 0x76, 0x08, 0x4b, 0xf4, 0xd1,
                                                0xe5, 0x8b, 0x89, 0x38, 0x43, 0xac, 0x81, 0x6c};

constexpr std::array<uint8_t, 3> kMagic = {'X', 'G', '1'};
constexpr size_t kFlagsOffset = 3;
constexpr size_t kPayloadCheckOffset = 4;
constexpr size_t kTextCheckOffset = 8;
constexpr size_t kHeaderSize = 12;
constexpr size_t kNonceSize = 4;
constexpr uint32_t kKnownFlags = kSealEnciphered | kSealCompressed;
constexpr std::string_view kMethod = "kz-zip";

// The first 4 bytes of MD5(data ‖ check salt) into `check`.
bool Check(std::span<const uint8_t> data, uint8_t* check) {
  const std::optional<Md5Digest> digest = Md5({data, kCheckSalt});
  if (!digest) return false;
  std::copy_n(digest->begin(), 4, check);
  return true;
}

std::span<const uint8_t> AsBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

bool IsTag(const char* tag) { return tag != nullptr && std::strlen(tag) == 4; }

HRESULT SealBytesUnguarded(std::span<const uint8_t> bytes, uint32_t flags, const CipherKey* key,
                           std::vector<uint8_t>* container) {
  std::vector<uint8_t> compressed;
  std::span<const uint8_t> content = bytes;
  if (flags & kSealCompressed) {
    if (HRESULT hr = Compress(kMethod, bytes, &compressed); hr != S_OK) return hr;
    content = compressed;
  }
  const size_t nonce_size = (flags & kSealEnciphered) ? kNonceSize : 0;
  std::vector<uint8_t> out(kHeaderSize + nonce_size + content.size());
  std::copy(content.begin(), content.end(), out.begin() + kHeaderSize + nonce_size);
  const std::span<uint8_t> payload = std::span(out).subspan(kHeaderSize);
  if (flags & kSealEnciphered) {
    if (HRESULT hr = TeaEncipher(*key, payload); hr != S_OK) return hr;
  }
  std::copy(kMagic.begin(), kMagic.end(), out.begin());
  out[kFlagsOffset] = static_cast<uint8_t>(flags);
  if (!Check(payload, &out[kPayloadCheckOffset]) || !Check(bytes, &out[kTextCheckOffset])) {
    return kSealOutOfMemory;
  }
  *container = std::move(out);
  return S_OK;
}

HRESULT OpenBytesUnguarded(std::span<const uint8_t> container, const CipherKey* key,
                           std::string* text) {
  if (container.size() < kHeaderSize) return kSealNotValid;
  if (!std::equal(kMagic.begin(), kMagic.end(), container.begin())) return kSealNotValid;
  const uint32_t flags = container[kFlagsOffset];
  // The flags byte is covered by neither check; an unknown bit is refused rather than ignored.
  if (flags & ~kKnownFlags) return kSealNotValid;
  const bool enciphered = flags & kSealEnciphered;
  if (enciphered && key == nullptr) return kSealBadArgument;
  if (enciphered && container.size() < kHeaderSize + kNonceSize) return kSealNotValid;

  const std::span<const uint8_t> payload = container.subspan(kHeaderSize);
  uint8_t check[4];
  if (!Check(payload, check)) return kSealOutOfMemory;
  if (!std::equal(check, check + 4, container.begin() + kPayloadCheckOffset)) return kSealNotValid;

  std::vector<uint8_t> content(payload.begin(), payload.end());
  if (enciphered) {
    if (HRESULT hr = TeaDecipher(*key, content); hr != S_OK) return hr;
    content.erase(content.begin(), content.begin() + kNonceSize);
  }
  if (flags & kSealCompressed) {
    std::vector<uint8_t> expanded;
    if (HRESULT hr = Decompress(kMethod, content, &expanded); hr != S_OK) {
      return hr == kZipOutOfMemory ? hr : kSealNotValid;
    }
    content = std::move(expanded);
  }
  if (!Check(content, check)) return kSealOutOfMemory;
  if (!std::equal(check, check + 4, container.begin() + kTextCheckOffset)) return kSealNotValid;
  text->assign(content.begin(), content.end());
  return S_OK;
}

template <typename Step>
HRESULT Guarded(Step step) noexcept {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return kSealOutOfMemory;
  } catch (const std::length_error&) {
    return kSealOutOfMemory;
  }
}

}  // namespace

HRESULT SealBytes(std::span<const uint8_t> bytes, uint32_t flags, const CipherKey* key,
                  std::vector<uint8_t>* container) {
  if (container == nullptr || (flags & ~kKnownFlags) != 0) return kSealBadArgument;
  if ((flags & kSealEnciphered) && key == nullptr) return kSealBadArgument;
  return Guarded([&] { return SealBytesUnguarded(bytes, flags, key, container); });
}

HRESULT OpenBytes(std::span<const uint8_t> container, const CipherKey* key, std::string* text) {
  if (text == nullptr) return kSealBadArgument;
  return Guarded([&] { return OpenBytesUnguarded(container, key, text); });
}

HRESULT Seal(const char* tag, const char* text, uint32_t flags, const CipherKey* key,
             std::string* sealed) {
  if (!IsTag(tag) || text == nullptr || sealed == nullptr) return kSealBadArgument;
  std::vector<uint8_t> container;
  if (HRESULT hr = SealBytes(AsBytes(text), flags, key, &container); hr != S_OK) return hr;
  return Guarded([&] {
    std::string out(tag);
    Base64Encode(container, &out);
    *sealed = std::move(out);
    return S_OK;
  });
}

HRESULT Open(const char* tag, const char* sealed, const CipherKey* key, std::string* text) {
  if (!IsTag(tag) || sealed == nullptr || text == nullptr) return kSealBadArgument;
  if (std::strncmp(sealed, tag, 4) != 0) return kSealBadArgument;
  const std::string_view encoded(sealed + 4);
  std::vector<uint8_t> container;
  if (HRESULT hr = Base64Decode(encoded, &container); hr != S_OK) return hr;
  return Guarded([&] {
    // The decoder stops at a pad and ignores the unused low bits of a last partial group, so
    // several texts decode alike; only the one Seal writes is accepted.
    std::string canonical;
    Base64Encode(container, &canonical);
    if (canonical != encoded) return kSealNotValid;
    return OpenBytesUnguarded(container, key, text);
  });
}

}  // namespace pelk::text
