// A nearest-neighbour index over fingerprint signatures under the sum of absolute differences
// (L1), answering "every owner with a signature within a distance" for the waveform lookup.
//
// Small sets are scanned whole (exact). Larger ones are split into cells around centroids drawn
// from the signatures themselves; each signature lives in the cell of its nearest centroid (looked
// for among the centroids grouped around the few group centres nearest to it), and a query
// scans the cells of its `probes` nearest centroids with exact distances; an owner found
// there is then measured at every one of its signatures, wherever they lie. A hit is therefore
// always a true hit at the owner's true nearest distance; what can be missed is an owner none of
// whose signatures within reach lies in a probed cell (bench/waveform_index_study measures how
// often against the exact scan).
//
// Not thread-safe: the catalogue store calls it under its own lock.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalog/catalog_store.h"
#include "catalog/signature_table.h"

namespace pelk::catalog {

// The sum of absolute differences, or some sum above `limit` as soon as the partial sum passes
// it (the terms are never negative, and most signatures lie far from any query).
int64_t SignatureDistanceWithin(const Signature& a, const Signature& b, int64_t limit);

struct SignatureIndexOptions {
  // Below this many signatures the index is one cell, scanned whole.
  size_t min_clustered = 100000;
  // Signatures per cell on average (the number of cells follows from the size at Build).
  size_t cell_size = 2500;
  // Cells scanned per query.
  size_t probes = 16;
};

class SignatureIndex {
 public:
  using Options = SignatureIndexOptions;
  // (owner, distance of the owner's nearest signature).
  using Hit = std::pair<uint32_t, int64_t>;

  SignatureIndex() : SignatureIndex(Options{}) {}
  explicit SignatureIndex(Options options) : options_(options) {}

  // Replaces the content: owners[i] owns signatures[i] (several signatures may share an owner).
  void Build(const std::vector<Signature>& signatures, const std::vector<uint32_t>& owners);
  // One more signature, into the cell of its nearest centroid (cells are not re-drawn).
  void Add(const Signature& signature, uint32_t owner);
  // The owner's signatures no longer answer (they stay in memory until the next Build).
  void RemoveOwner(uint32_t owner);

  // Every owner, not removed, with a signature within max_distance, with its nearest distance;
  // ordered by owner. The index may miss an owner (see above), never add one or misstate a
  // distance.
  std::vector<Hit> Within(const Signature& query, int64_t max_distance) const;
  // The same answer by scanning every signature: the reference the index is measured against.
  std::vector<Hit> ScanWithin(const Signature& query, int64_t max_distance) const;

  // Cells scanned per query from now on.
  void set_probes(size_t probes) { options_.probes = probes; }

  size_t size() const { return size_; }
  size_t cells() const { return cells_.size(); }
  // Memory held, in bytes (signatures, owners, where each owner's signatures lie, centroids,
  // removal marks).
  size_t MemoryBytes() const;

 private:
  struct Cell {
    std::vector<Signature> signatures;
    std::vector<uint32_t> owners;
  };
  // Groups of centroids looked at when placing a signature.
  static constexpr size_t kGroupProbes = 3;
  // Distances computed while placing signatures; one per thread.
  struct Scratch {
    std::vector<int32_t> distances;
    std::vector<std::pair<int64_t, uint32_t>> order;
  };
  // The kGroupProbes groups nearest to the signature, nearest first (ties by group number).
  void NearestGroups(const Signature& signature, Scratch* scratch) const;
  // The cell of the nearest centroid among those of the nearest groups (the first one in that
  // order when several are as near).
  size_t NearestCell(const Signature& signature, Scratch* scratch) const;
  void Place(const Signature& signature, uint32_t owner, size_t cell);
  bool Removed(uint32_t owner) const { return owner < removed_.size() && removed_[owner]; }
  void ScanCell(const Cell& cell, const Signature& query, int64_t max_distance,
                std::vector<Hit>* hits) const;
  // Calls f(location) for each of the owner's signatures (location: cell << 32 | position).
  template <class F>
  void ForEachLocation(uint32_t owner, F f) const;

  Options options_;
  SignatureTable centroids_;  // empty: one cell
  SignatureTable group_centres_;
  struct Group {
    SignatureTable centroids;
    std::vector<uint32_t> numbers;  // the centroids' numbers, ascending
  };
  std::vector<Group> groups_;
  std::vector<Cell> cells_;
  std::vector<bool> removed_;  // by owner
  // Where each owner's signatures lie, cell << 32 | position in the cell: the build's in one list
  // ordered by owner (owner o's from built_first_[o] to built_first_[o + 1]), those added since
  // by owner.
  std::vector<uint32_t> built_first_;
  std::vector<uint64_t> built_locations_;
  std::unordered_map<uint32_t, std::vector<uint64_t>> added_locations_;
  size_t size_ = 0;
};

}  // namespace pelk::catalog
