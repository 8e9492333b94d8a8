// A fixed set of signatures laid out value by value (all first values, then all second values,
// ...), so that the distances from one signature to every one of them are computed together in
// vector instructions, several times faster than one distance after another (bench/
// catalog_scale_study's index build). The signature index places signatures and orders its cells
// with it.
#pragma once

#include <cstdint>
#include <vector>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

class SignatureTable {
 public:
  SignatureTable() = default;
  explicit SignatureTable(const std::vector<Signature>& signatures);

  size_t size() const { return size_; }
  // The sum of absolute differences from `signature` to each signature of the table, in table
  // order: (*distances)[i] for the i-th. The vector is resized as needed (callers reuse one).
  // Exact for any values (at most 30 x 65535, well within 32 bits).
  void Distances(const Signature& signature, std::vector<int32_t>* distances) const;
  size_t MemoryBytes() const { return values_.capacity() * sizeof(uint16_t); }

  // Whether Distances may use instructions wider than the processor family's baseline when the
  // processor has them (the default); tests compare both ways. Not while distances are computed.
  static void AllowWiderInstructions(bool allowed);

 private:
  // Distances are computed for blocks of this many signatures; the last block is padded.
  static constexpr size_t kBlock = 16;
  size_t size_ = 0;
  size_t stride_ = 0;  // size_ rounded up to a whole block
  // Value j of signature i at values_[j * stride_ + i], biased to unsigned (order kept).
  std::vector<uint16_t> values_;
};

}  // namespace pelk::catalog
