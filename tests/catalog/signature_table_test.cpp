#include "catalog/signature_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace pelk::catalog {
namespace {

int32_t Sum(const Signature& a, const Signature& b) {
  int32_t sum = 0;
  for (size_t i = 0; i < kSignatureValues; ++i) sum += std::abs(int32_t{a[i]} - int32_t{b[i]});
  return sum;
}

// Values over the whole 16-bit range, the extremes often, so that differences reach 65535.
Signature AnySignature(std::mt19937& rng) {
  Signature s{};
  for (int16_t& v : s) {
    switch (rng() % 4) {
      case 0:
        v = -32768;
        break;
      case 1:
        v = 32767;
        break;
      default:
        v = static_cast<int16_t>(rng());
        break;
    }
  }
  return s;
}

class SignatureTableTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { SignatureTable::AllowWiderInstructions(GetParam()); }
  void TearDown() override { SignatureTable::AllowWiderInstructions(true); }
};

// Every size around the block of sixteen, and queries at the extremes: each distance is the
// plain sum, in table order, and the padding of the last block never shows.
TEST_P(SignatureTableTest, DistancesAreTheSumsInTableOrder) {
  std::mt19937 rng(17);
  std::vector<int32_t> distances{1, 2, 3};
  for (size_t size : {0, 1, 15, 16, 17, 33, 100}) {
    std::vector<Signature> signatures;
    for (size_t i = 0; i < size; ++i) signatures.push_back(AnySignature(rng));
    const SignatureTable table(signatures);
    ASSERT_EQ(table.size(), size);
    Signature lowest, highest;
    lowest.fill(-32768);
    highest.fill(32767);
    for (const Signature& query : {AnySignature(rng), AnySignature(rng), lowest, highest}) {
      table.Distances(query, &distances);
      ASSERT_EQ(distances.size(), size);
      for (size_t i = 0; i < size; ++i) {
        EXPECT_EQ(distances[i], Sum(query, signatures[i])) << "size " << size << " entry " << i;
      }
    }
  }
  // The largest distance there is: every value at the opposite extreme.
  Signature lowest, highest;
  lowest.fill(-32768);
  highest.fill(32767);
  SignatureTable({lowest}).Distances(highest, &distances);
  EXPECT_EQ(distances, std::vector<int32_t>{30 * 65535});
}

INSTANTIATE_TEST_SUITE_P(Instructions, SignatureTableTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Widest" : "Baseline"; });

}  // namespace
}  // namespace pelk::catalog
