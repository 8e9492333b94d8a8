#include "seal/md5.h"

#include <openssl/evp.h>

#include <memory>

namespace pelk::text {

std::optional<Md5Digest> Md5(std::initializer_list<std::span<const uint8_t>> parts) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  if (context == nullptr || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
    return std::nullopt;
  }
  for (std::span<const uint8_t> part : parts) {
    if (!part.empty() && EVP_DigestUpdate(context.get(), part.data(), part.size()) != 1) {
      return std::nullopt;
    }
  }
  Md5Digest digest;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace pelk::text
