// The sealed container: turns a text into one printable, tamper-evident string and back.
//
// Container bytes: "XG1", a flags byte (kSealEnciphered, kSealCompressed), a 4-byte payload
// check (MD5 of payload and check salt), a 4-byte text check (MD5 of the sealed text and check
// salt), then the payload: the text, or its "kz-zip" form when compressed; when enciphered, a
// 4-byte nonce followed by that content enciphered (TEA in output-feedback mode).
// Outer form: a four-character tag, then the Base64 of the container.
//
// All functions are re-entrant. Codes: 0, or those of this header, base64.h, tea_cipher.h and
// kz_zip.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "runtime/hresult.h"
#include "seal/tea_cipher.h"

namespace pelk::text {

inline constexpr HRESULT kSealOutOfMemory = static_cast<HRESULT>(0x901F0001u);
inline constexpr HRESULT kSealBadArgument = static_cast<HRESULT>(0x901F0004u);
inline constexpr HRESULT kSealNotValid = static_cast<HRESULT>(0x901F000Bu);

inline constexpr uint32_t kSealEnciphered = 0x1;
inline constexpr uint32_t kSealCompressed = 0x2;

// The key of serialized fingerprints. NEVER CHANGE: every fingerprint string already handed
// out would stop opening.
inline constexpr CipherKey kFingerprintKey = {0x9b, 0x26, 0x0a, 0x4d, 0xea, 0x19, 0x04, 0x24,
                                              0xc3, 0x0a, 0xce, 0x32, 0xdb, 0xf5, 0x7a, 0xf4};

// Seals the NUL-terminated `text` under `tag` (exactly four characters) into *sealed.
// kSealBadArgument: a null tag, text or output, a tag of another length, flags other than the
// two above, or kSealEnciphered without a key.
HRESULT Seal(const char* tag, const char* text, uint32_t flags, const CipherKey* key,
             std::string* sealed);

// Opens a string made by Seal with the same tag (compared case-sensitively; else
// kSealBadArgument) and key, into *text. Beyond the container's own checks, the Base64 part
// must be exactly the encoding Seal writes, so that no change to the string goes unnoticed;
// anything else is kSealNotValid.
HRESULT Open(const char* tag, const char* sealed, const CipherKey* key, std::string* text);

// The container layer alone (no tag, no Base64).
HRESULT SealBytes(std::span<const uint8_t> bytes, uint32_t flags, const CipherKey* key,
                  std::vector<uint8_t>* container);
// Refuses with kSealNotValid: fewer than 12 bytes (16 when enciphered), a wrong magic, unknown
// flag bits, a failed check, or a payload flagged compressed that does not decompress (once the
// payload check has passed, that means a changed flags byte). An enciphered container without
// a key is kSealBadArgument; running out of memory keeps its own code.
HRESULT OpenBytes(std::span<const uint8_t> container, const CipherKey* key, std::string* text);

}  // namespace pelk::text
