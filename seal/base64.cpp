#include "seal/base64.h"

#include <new>
#include <stdexcept>

namespace pelk::text {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, or -1.
int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

void Base64Encode(std::span<const uint8_t> bytes, std::string* out) {
  out->reserve(out->size() + (bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group =
        (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out->push_back(kAlphabet[(group >> 18) & 63]);
    out->push_back(kAlphabet[(group >> 12) & 63]);
    out->push_back(kAlphabet[(group >> 6) & 63]);
    out->push_back(kAlphabet[group & 63]);
  }
  const size_t left = bytes.size() - i;
  if (left == 0) return;
  uint32_t group = uint32_t{bytes[i]} << 16;
  if (left == 2) group |= uint32_t{bytes[i + 1]} << 8;
  out->push_back(kAlphabet[(group >> 18) & 63]);
  out->push_back(kAlphabet[(group >> 12) & 63]);
  out->push_back(left == 2 ? kAlphabet[(group >> 6) & 63] : '=');
  out->push_back('=');
}

HRESULT Base64Decode(std::string_view text, std::vector<uint8_t>* bytes) {
  try {
    bytes->clear();
    bytes->reserve(text.size() / 4 * 3 + 2);
    uint32_t group = 0;
    size_t place = 0;  // position of the next character inside its group of four
    for (char c : text) {
      if (c == '=') {
        if (place < 2) return kBase64MisplacedPad;
        break;
      }
      const int sextet = SextetOf(c);
      if (sextet < 0) return kBase64BadCharacter;
      group = (group << 6) | static_cast<uint32_t>(sextet);
      // Each character after the first completes one byte of the group.
      if (place > 0) bytes->push_back(static_cast<uint8_t>(group >> (6 - 2 * place)));
      place = (place + 1) % 4;
      if (place == 0) group = 0;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return kBase64OutOfMemory;
  } catch (const std::length_error&) {
    return kBase64OutOfMemory;
  }
}

}  // namespace pelk::text
