// The payload cipher of the sealed container: TEA (the Tiny Encryption Algorithm) in
// output-feedback mode, its register derived from a 4-byte nonce with MD5. Applying the
// keystream twice gives the input back, so one operation both enciphers and deciphers.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "runtime/hresult.h"

namespace pelk::text {

using CipherKey = std::array<uint8_t, 16>;
using CipherNonce = std::array<uint8_t, 4>;

inline constexpr HRESULT kCipherShortPayload = static_cast<HRESULT>(0x90070004u);
// The cipher is a layer of the sealed container and shares its out-of-memory code (the MD5
// context could not be allocated, or no random nonce could be drawn).
inline constexpr HRESULT kCipherOutOfMemory = static_cast<HRESULT>(0x901F0001u);

// One TEA block: 32 cycles on the words (a, b) with the key words k0..k3.
void TeaEncryptBlock(uint32_t* a, uint32_t* b, const std::array<uint32_t, 4>& key);

// XORs `data` in place with the keystream of `key` and `nonce`.
HRESULT TeaOfbApply(const CipherKey& key, const CipherNonce& nonce, std::span<uint8_t> data);

// `payload` is 4 bytes of room for the nonce followed by the content: draws a fresh random
// nonce into the first 4 bytes and enciphers the rest in place.
HRESULT TeaEncipher(const CipherKey& key, std::span<uint8_t> payload);

// The inverse of TeaEncipher: deciphers the bytes after the nonce in place. A payload shorter
// than the nonce is kCipherShortPayload.
HRESULT TeaDecipher(const CipherKey& key, std::span<uint8_t> payload);

}  // namespace pelk::text
