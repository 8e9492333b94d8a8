#include "catalog/signature_index.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <thread>

namespace pelk::catalog {
namespace {

constexpr int64_t kFar = std::numeric_limits<int64_t>::max() / 2;

int64_t FullDistance(const Signature& a, const Signature& b) {
  int64_t sum = 0;
  for (size_t i = 0; i < kSignatureValues; ++i) sum += std::abs(int32_t{a[i]} - int32_t{b[i]});
  return sum;
}

// The nearest owner distance once per owner, ordered by owner.
std::vector<SignatureIndex::Hit> BestPerOwner(std::vector<SignatureIndex::Hit> hits) {
  std::sort(hits.begin(), hits.end());
  std::vector<SignatureIndex::Hit> best;
  for (const auto& hit : hits) {
    if (best.empty() || best.back().first != hit.first) best.push_back(hit);
  }
  return best;
}

}  // namespace

int64_t SignatureDistanceWithin(const Signature& a, const Signature& b, int64_t limit) {
  constexpr size_t kStep = 6;
  static_assert(kSignatureValues % kStep == 0);
  int64_t sum = 0;
  for (size_t i = 0; i < kSignatureValues; i += kStep) {
    for (size_t j = i; j < i + kStep; ++j) sum += std::abs(int32_t{a[j]} - int32_t{b[j]});
    if (sum > limit) break;
  }
  return sum;
}

void SignatureIndex::Build(const std::vector<Signature>& signatures,
                           const std::vector<uint32_t>& owners) {
  centroids_.clear();
  group_centres_.clear();
  group_members_.clear();
  cells_.clear();
  removed_.clear();
  owner_locations_.clear();
  size_ = 0;
  const size_t n = std::min(signatures.size(), owners.size());
  const size_t cell_count = n < options_.min_clustered
                                ? 1
                                : std::max<size_t>(1, n / std::max<size_t>(1, options_.cell_size));
  if (cell_count > 1) {
    // Centroids drawn evenly through the signatures: they follow the catalogue's own density,
    // and drawing them costs nothing.
    for (size_t c = 0; c < cell_count; ++c) centroids_.push_back(signatures[c * n / cell_count]);
    // Groups of centroids around a few of them, so placing a signature looks at a few groups'
    // centroids rather than at every one (the build would otherwise cost cells x signatures).
    const size_t group_count = static_cast<size_t>(std::sqrt(static_cast<double>(cell_count)));
    for (size_t g = 0; g < group_count; ++g) {
      group_centres_.push_back(centroids_[g * cell_count / group_count]);
    }
    group_members_.assign(group_count, {});
    for (size_t c = 0; c < cell_count; ++c) {
      std::vector<std::pair<int64_t, uint32_t>> near = NearestGroups(centroids_[c]);
      group_members_[near[0].second].push_back(static_cast<uint32_t>(c));
    }
  }
  cells_.resize(cell_count);
  // Placing the signatures is nearly all of the build: two threads share it, then the cells are
  // filled in signature order.
  std::vector<uint32_t> cell_of(n, 0);
  if (cell_count > 1) {
    const auto place = [&](size_t from, size_t to) {
      for (size_t i = from; i < to; ++i)
        cell_of[i] = static_cast<uint32_t>(NearestCell(signatures[i]));
    };
    std::thread helper(place, 0, n / 2);
    place(n / 2, n);
    helper.join();
  }
  for (size_t i = 0; i < n; ++i) Place(signatures[i], owners[i], cell_of[i]);
  for (Cell& cell : cells_) {
    cell.signatures.shrink_to_fit();
    cell.owners.shrink_to_fit();
  }
}

std::vector<std::pair<int64_t, uint32_t>> SignatureIndex::NearestGroups(
    const Signature& signature) const {
  std::vector<std::pair<int64_t, uint32_t>> order(group_centres_.size());
  for (size_t g = 0; g < group_centres_.size(); ++g) {
    order[g] = {FullDistance(signature, group_centres_[g]), static_cast<uint32_t>(g)};
  }
  const size_t keep = std::min(kGroupProbes, order.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(keep), order.end());
  order.resize(keep);
  return order;
}

size_t SignatureIndex::NearestCell(const Signature& signature) const {
  size_t best = 0;
  int64_t best_distance = kFar;
  const auto consider = [&](size_t c) {
    const int64_t d = SignatureDistanceWithin(signature, centroids_[c], best_distance);
    if (d < best_distance) {
      best_distance = d;
      best = c;
    }
  };
  if (group_centres_.empty()) {
    for (size_t c = 0; c < centroids_.size(); ++c) consider(c);
    return best;
  }
  for (const auto& [distance, group] : NearestGroups(signature)) {
    for (uint32_t c : group_members_[group]) consider(c);
  }
  return best;
}

void SignatureIndex::Add(const Signature& signature, uint32_t owner) {
  if (cells_.empty()) cells_.resize(1);
  Place(signature, owner, NearestCell(signature));
}

void SignatureIndex::Place(const Signature& signature, uint32_t owner, size_t c) {
  Cell& cell = cells_[c];
  if (owner >= owner_locations_.size()) owner_locations_.resize(owner + 1);
  owner_locations_[owner].push_back(uint64_t{c} << 32 | cell.signatures.size());
  cell.signatures.push_back(signature);
  cell.owners.push_back(owner);
  ++size_;
}

void SignatureIndex::RemoveOwner(uint32_t owner) {
  if (owner >= removed_.size()) removed_.resize(owner + 1, false);
  removed_[owner] = true;
}

void SignatureIndex::ScanCell(const Cell& cell, const Signature& query, int64_t max_distance,
                              std::vector<Hit>* hits) const {
  for (size_t i = 0; i < cell.signatures.size(); ++i) {
    const int64_t d = SignatureDistanceWithin(query, cell.signatures[i], max_distance);
    if (d <= max_distance && !Removed(cell.owners[i])) hits->emplace_back(cell.owners[i], d);
  }
}

std::vector<SignatureIndex::Hit> SignatureIndex::Within(const Signature& query,
                                                        int64_t max_distance) const {
  if (centroids_.empty()) return ScanWithin(query, max_distance);
  std::vector<std::pair<int64_t, uint32_t>> order(centroids_.size());
  for (size_t c = 0; c < centroids_.size(); ++c) {
    order[c] = {FullDistance(query, centroids_[c]), static_cast<uint32_t>(c)};
  }
  const size_t probes = std::min(options_.probes, order.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(probes), order.end());
  std::vector<Hit> hits;
  for (size_t p = 0; p < probes; ++p) ScanCell(cells_[order[p].second], query, max_distance, &hits);
  hits = BestPerOwner(std::move(hits));
  // An owner's nearest signature may lie in a cell not probed.
  for (Hit& hit : hits) {
    for (uint64_t at : owner_locations_[hit.first]) {
      const Signature& s = cells_[at >> 32].signatures[at & 0xFFFFFFFFu];
      hit.second = std::min(hit.second, FullDistance(query, s));
    }
  }
  return hits;
}

std::vector<SignatureIndex::Hit> SignatureIndex::ScanWithin(const Signature& query,
                                                            int64_t max_distance) const {
  std::vector<Hit> hits;
  for (const Cell& cell : cells_) ScanCell(cell, query, max_distance, &hits);
  return BestPerOwner(std::move(hits));
}

size_t SignatureIndex::MemoryBytes() const {
  size_t bytes = centroids_.capacity() * sizeof(Signature) + removed_.capacity() / 8 +
                 cells_.capacity() * sizeof(Cell);
  bytes += owner_locations_.capacity() * sizeof(std::vector<uint64_t>);
  for (const auto& locations : owner_locations_) {
    // The allocator's own header beside each list, about 16 bytes.
    bytes += locations.capacity() * sizeof(uint64_t) + 16;
  }
  for (const Cell& cell : cells_) {
    bytes +=
        cell.signatures.capacity() * sizeof(Signature) + cell.owners.capacity() * sizeof(uint32_t);
  }
  return bytes;
}

}  // namespace pelk::catalog
