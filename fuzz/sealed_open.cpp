// Feeds arbitrary bytes to the sealed container's opening side. The first byte picks the
// layer: the outer form, the container with and without a key, "kz-zip" decompression, Base64,
// or a seal-and-open round trip that must give the text back.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "seal/base64.h"
#include "seal/kz_zip.h"
#include "seal/sealed_container.h"

using namespace pelk::text;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::span<const uint8_t> rest(data + 1, size - 1);
  const std::string rest_text(rest.begin(), rest.end());  // NUL-terminated copy
  std::string text;
  std::vector<uint8_t> bytes;
  switch (mode % 6) {
    case 0:
      (void)Open("KZFP", rest_text.c_str(), &kFingerprintKey, &text);
      break;
    case 1:
      (void)OpenBytes(rest, &kFingerprintKey, &text);
      break;
    case 2:
      (void)OpenBytes(rest, nullptr, &text);
      break;
    case 3:
      (void)Decompress("kz-zip", rest, &bytes);
      if (bytes.size() > 100 * rest.size()) __builtin_trap();
      break;
    case 4:
      (void)Base64Decode(rest_text, &bytes);
      break;
    case 5: {
      const uint32_t flags = (mode >> 3) & 3;
      std::string sealed;
      if (Seal("KZFP", rest_text.c_str(), flags, &kFingerprintKey, &sealed) != S_OK) {
        __builtin_trap();
      }
      if (Open("KZFP", sealed.c_str(), &kFingerprintKey, &text) != S_OK) __builtin_trap();
      if (text != rest_text.c_str()) __builtin_trap();
      break;
    }
  }
  return 0;
}
