// Catalogue material the benchmarks share: random but valid fingerprint signatures.
#pragma once

#include <random>

#include "catalog/catalog_store.h"

namespace pelk::bench {

// Two halves of 15 values, each summing to 32768, as real signatures do.
inline catalog::Signature RandomSignature(std::mt19937& rng) {
  catalog::Signature s{};
  for (size_t half = 0; half < 2; ++half) {
    int32_t left = 32768;
    for (size_t i = 0; i < 15; ++i) {
      const int32_t v = i == 14 ? left : static_cast<int32_t>(1000 + rng() % 2000);
      s[half * 15 + i] = static_cast<int16_t>(v);
      left -= v;
    }
  }
  return s;
}

}  // namespace pelk::bench
