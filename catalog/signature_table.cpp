#include "catalog/signature_table.h"

#include <atomic>
#include <cstdlib>

#if defined(__SSE2__)
#include <immintrin.h>
#if defined(__GNUC__)
// AVX2 is used when the processor running the program has it.
#define PELK_SIGNATURE_TABLE_AVX2 1
#endif
#endif

namespace pelk::catalog {
namespace {

// Values are kept as unsigned 16-bit numbers in the same order as the signed ones, so that a
// difference always fits in 16 bits.
uint16_t Biased(int16_t v) { return static_cast<uint16_t>(static_cast<uint16_t>(v) ^ 0x8000u); }

constexpr size_t kLanes = 16;  // signatures summed together, SignatureTable::kBlock

std::atomic<bool> wider_allowed{true};

#if defined(__SSE2__)

// Each |a - b| in a 16-bit lane as the two saturated differences a - b and b - a (one of them is
// 0), widened to 32 bits as it is added: sixteen signatures at a time.
void SumsSse2(const uint16_t* query, const uint16_t* values, size_t stride, int32_t* out) {
  __m128i q[kSignatureValues];
  for (size_t j = 0; j < kSignatureValues; ++j)
    q[j] = _mm_set1_epi16(static_cast<int16_t>(query[j]));
  const __m128i zero = _mm_setzero_si128();
  for (size_t b = 0; b < stride; b += kLanes) {
    __m128i sums[4] = {zero, zero, zero, zero};
    const uint16_t* at = values + b;
    for (size_t j = 0; j < kSignatureValues; ++j, at += stride) {
      for (size_t half = 0; half < 2; ++half) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8 * half));
        const __m128i d = _mm_or_si128(_mm_subs_epu16(q[j], v), _mm_subs_epu16(v, q[j]));
        sums[2 * half] = _mm_add_epi32(sums[2 * half], _mm_unpacklo_epi16(d, zero));
        sums[2 * half + 1] = _mm_add_epi32(sums[2 * half + 1], _mm_unpackhi_epi16(d, zero));
      }
    }
    for (size_t k = 0; k < 4; ++k) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + b + 4 * k), sums[k]);
    }
  }
}

#else

// Portable: a block at a time, a loop of known length, which compilers vectorize.
void SumsPortable(const uint16_t* query, const uint16_t* values, size_t stride, int32_t* out) {
  for (size_t i = 0; i < stride; ++i) out[i] = 0;
  for (size_t j = 0; j < kSignatureValues; ++j) {
    const int32_t v = query[j];
    const uint16_t* row = values + j * stride;
    for (size_t b = 0; b < stride; b += kLanes) {
      for (size_t k = 0; k < kLanes; ++k) out[b + k] += std::abs(v - int32_t{row[b + k]});
    }
  }
}

#endif

#if defined(PELK_SIGNATURE_TABLE_AVX2)

// The same with the sixteen lanes in one register. Unpacking works within each 128-bit half,
// hence the order of the stores.
__attribute__((target("avx2"))) void SumsAvx2(const uint16_t* query, const uint16_t* values,
                                              size_t stride, int32_t* out) {
  __m256i q[kSignatureValues];
  for (size_t j = 0; j < kSignatureValues; ++j) {
    q[j] = _mm256_set1_epi16(static_cast<int16_t>(query[j]));
  }
  const __m256i zero = _mm256_setzero_si256();
  for (size_t b = 0; b < stride; b += kLanes) {
    __m256i low = zero, high = zero;  // lanes 0-3 and 8-11; lanes 4-7 and 12-15
    const uint16_t* at = values + b;
    for (size_t j = 0; j < kSignatureValues; ++j, at += stride) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
      const __m256i d = _mm256_or_si256(_mm256_subs_epu16(q[j], v), _mm256_subs_epu16(v, q[j]));
      low = _mm256_add_epi32(low, _mm256_unpacklo_epi16(d, zero));
      high = _mm256_add_epi32(high, _mm256_unpackhi_epi16(d, zero));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + b),
                        _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + b + 8),
                        _mm256_permute2x128_si256(low, high, 0x31));
  }
}

#endif

}  // namespace

SignatureTable::SignatureTable(const std::vector<Signature>& signatures)
    : size_(signatures.size()),
      stride_((signatures.size() + kBlock - 1) / kBlock * kBlock),
      values_(kSignatureValues * stride_, 0) {
  static_assert(kBlock == kLanes);
  for (size_t i = 0; i < size_; ++i) {
    for (size_t j = 0; j < kSignatureValues; ++j)
      values_[j * stride_ + i] = Biased(signatures[i][j]);
  }
}

void SignatureTable::AllowWiderInstructions(bool allowed) { wider_allowed = allowed; }

void SignatureTable::Distances(const Signature& signature, std::vector<int32_t>* distances) const {
  distances->resize(stride_);
  uint16_t query[kSignatureValues];
  for (size_t j = 0; j < kSignatureValues; ++j) query[j] = Biased(signature[j]);
#if defined(PELK_SIGNATURE_TABLE_AVX2)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2 && wider_allowed.load(std::memory_order_relaxed)) {
    SumsAvx2(query, values_.data(), stride_, distances->data());
    distances->resize(size_);
    return;
  }
#endif
#if defined(__SSE2__)
  SumsSse2(query, values_.data(), stride_, distances->data());
#else
  SumsPortable(query, values_.data(), stride_, distances->data());
#endif
  distances->resize(size_);
}

}  // namespace pelk::catalog
