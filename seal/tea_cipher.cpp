#include "seal/tea_cipher.h"

#include <openssl/rand.h>

#include <algorithm>

#include "seal/md5.h"

namespace pelk::text {
namespace {

// Mixed into the register derivation. NEVER CHANGE: every enciphered string already handed out,
// serialized fingerprints included, would stop opening.
constexpr std::array<uint8_t, 16> kIvSalt = {0x2c, 0xaf, 0xe8, 0x12, 0x11, 0x8f, 0x96, 0x89,
                                             0xaa, 0x48, 0xdd, 0xd5, 0xaa, 0x71, 0xbb, 0xd5};

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void StoreLe32(uint32_t v, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void TeaEncryptBlock(uint32_t* a, uint32_t* b, const std::array<uint32_t, 4>& key) {
  constexpr uint32_t kDelta = 0x9E3779B9;
  uint32_t v0 = *a, v1 = *b, sum = 0;
  for (int cycle = 0; cycle < 32; ++cycle) {
    sum += kDelta;
    v0 += ((v1 << 4) + key[0]) ^ (v1 + sum) ^ ((v1 >> 5) + key[1]);
    v1 += ((v0 << 4) + key[2]) ^ (v0 + sum) ^ ((v0 >> 5) + key[3]);
  }
  *a = v0;
  *b = v1;
}

HRESULT TeaOfbApply(const CipherKey& key, const CipherNonce& nonce, std::span<uint8_t> data) {
  const std::optional<Md5Digest> iv = Md5({kIvSalt, nonce, kIvSalt});
  if (!iv) return kCipherOutOfMemory;
  const std::array<uint32_t, 4> words = {LoadLe32(&key[0]), LoadLe32(&key[4]), LoadLe32(&key[8]),
                                         LoadLe32(&key[12])};
  uint32_t a = LoadLe32(&(*iv)[0]);
  uint32_t b = LoadLe32(&(*iv)[4]);
  uint8_t stream[8];
  for (size_t i = 0; i < data.size(); ++i) {
    if (i % 8 == 0) {
      TeaEncryptBlock(&a, &b, words);
      StoreLe32(a, &stream[0]);
      StoreLe32(b, &stream[4]);
    }
    data[i] ^= stream[i % 8];
  }
  return S_OK;
}

HRESULT TeaEncipher(const CipherKey& key, std::span<uint8_t> payload) {
  CipherNonce nonce;
  if (payload.size() < nonce.size()) return kCipherShortPayload;
  // The nonce only has to differ between seals; the library's generator is seeded and
  // thread-safe.
  if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) return kCipherOutOfMemory;
  std::copy(nonce.begin(), nonce.end(), payload.begin());
  return TeaOfbApply(key, nonce, payload.subspan(nonce.size()));
}

HRESULT TeaDecipher(const CipherKey& key, std::span<uint8_t> payload) {
  CipherNonce nonce;
  if (payload.size() < nonce.size()) return kCipherShortPayload;
  std::copy_n(payload.begin(), nonce.size(), nonce.begin());
  return TeaOfbApply(key, nonce, payload.subspan(nonce.size()));
}

}  // namespace pelk::text
