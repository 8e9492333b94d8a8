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
  centroids_ = SignatureTable();
  group_centres_ = SignatureTable();
  groups_.clear();
  cells_.clear();
  removed_.clear();
  built_first_.clear();
  built_locations_.clear();
  added_locations_.clear();
  size_ = 0;
  const size_t n = std::min(signatures.size(), owners.size());
  const size_t cell_count = n < options_.min_clustered
                                ? 1
                                : std::max<size_t>(1, n / std::max<size_t>(1, options_.cell_size));
  if (cell_count > 1) {
    // Centroids drawn evenly through the signatures: they follow the catalogue's own density,
    // and drawing them costs nothing.
    std::vector<Signature> centroids;
    for (size_t c = 0; c < cell_count; ++c) centroids.push_back(signatures[c * n / cell_count]);
    centroids_ = SignatureTable(centroids);
    // Groups of centroids around a few of them, so placing a signature looks at a few groups'
    // centroids rather than at every one (the build would otherwise cost cells x signatures).
    const size_t group_count = static_cast<size_t>(std::sqrt(static_cast<double>(cell_count)));
    std::vector<Signature> centres;
    for (size_t g = 0; g < group_count; ++g)
      centres.push_back(centroids[g * cell_count / group_count]);
    group_centres_ = SignatureTable(centres);
    std::vector<std::vector<Signature>> members(group_count);
    groups_.assign(group_count, {});
    Scratch scratch;
    for (size_t c = 0; c < cell_count; ++c) {
      NearestGroups(centroids[c], &scratch);
      const uint32_t g = scratch.order[0].second;
      members[g].push_back(centroids[c]);
      groups_[g].numbers.push_back(static_cast<uint32_t>(c));
    }
    for (size_t g = 0; g < group_count; ++g) groups_[g].centroids = SignatureTable(members[g]);
  }
  cells_.resize(cell_count);
  // Placing the signatures is nearly all of the build: every core takes a share (each
  // signature's cell depends on nothing else, so the cells never depend on the number of cores).
  std::vector<uint32_t> cell_of(n, 0);
  if (cell_count > 1) {
    const auto place = [&](size_t from, size_t to) {
      Scratch scratch;
      for (size_t i = from; i < to; ++i) {
        cell_of[i] = static_cast<uint32_t>(NearestCell(signatures[i], &scratch));
      }
    };
    const size_t shares = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < shares; ++t)
      helpers.emplace_back(place, t * n / shares, (t + 1) * n / shares);
    place(0, n / shares);
    for (std::thread& helper : helpers) helper.join();
  }
  // Then the cells are filled in signature order, each allocated once at its size.
  std::vector<uint32_t> cell_sizes(cell_count, 0);
  for (size_t i = 0; i < n; ++i) ++cell_sizes[cell_of[i]];
  for (size_t c = 0; c < cell_count; ++c) {
    cells_[c].signatures.reserve(cell_sizes[c]);
    cells_[c].owners.reserve(cell_sizes[c]);
  }
  size_t owner_count = 0;
  for (size_t i = 0; i < n; ++i) owner_count = std::max(owner_count, size_t{owners[i]} + 1);
  built_first_.assign(owner_count + 1, 0);
  for (size_t i = 0; i < n; ++i) ++built_first_[size_t{owners[i]} + 1];
  for (size_t o = 0; o < owner_count; ++o) built_first_[o + 1] += built_first_[o];
  built_locations_.resize(n);
  std::vector<uint32_t> next(built_first_.begin(), built_first_.end() - 1);
  for (size_t i = 0; i < n; ++i) {
    Cell& cell = cells_[cell_of[i]];
    built_locations_[next[owners[i]]++] = uint64_t{cell_of[i]} << 32 | cell.signatures.size();
    cell.signatures.push_back(signatures[i]);
    cell.owners.push_back(owners[i]);
  }
  size_ = n;
}

void SignatureIndex::NearestGroups(const Signature& signature, Scratch* scratch) const {
  group_centres_.Distances(signature, &scratch->distances);
  // The kGroupProbes smallest (distance, group) pairs, ascending, kept by insertion.
  auto& order = scratch->order;
  order.clear();
  for (size_t g = 0; g < scratch->distances.size(); ++g) {
    const std::pair<int64_t, uint32_t> candidate{scratch->distances[g], static_cast<uint32_t>(g)};
    if (order.size() == kGroupProbes && !(candidate < order.back())) continue;
    if (order.size() == kGroupProbes) order.pop_back();
    order.insert(std::upper_bound(order.begin(), order.end(), candidate), candidate);
  }
}

size_t SignatureIndex::NearestCell(const Signature& signature, Scratch* scratch) const {
  if (groups_.empty()) return 0;
  NearestGroups(signature, scratch);
  size_t best = 0;
  int64_t best_distance = kFar;
  for (const auto& [unused, g] : scratch->order) {
    const Group& group = groups_[g];
    group.centroids.Distances(signature, &scratch->distances);
    for (size_t m = 0; m < group.numbers.size(); ++m) {
      if (scratch->distances[m] < best_distance) {
        best_distance = scratch->distances[m];
        best = group.numbers[m];
      }
    }
  }
  return best;
}

void SignatureIndex::Add(const Signature& signature, uint32_t owner) {
  if (cells_.empty()) cells_.resize(1);
  Scratch scratch;
  Place(signature, owner, NearestCell(signature, &scratch));
}

void SignatureIndex::Place(const Signature& signature, uint32_t owner, size_t c) {
  Cell& cell = cells_[c];
  added_locations_[owner].push_back(uint64_t{c} << 32 | cell.signatures.size());
  cell.signatures.push_back(signature);
  cell.owners.push_back(owner);
  ++size_;
}

template <class F>
void SignatureIndex::ForEachLocation(uint32_t owner, F f) const {
  if (owner + size_t{1} < built_first_.size()) {
    for (uint32_t i = built_first_[owner]; i < built_first_[size_t{owner} + 1]; ++i) {
      f(built_locations_[i]);
    }
  }
  if (const auto added = added_locations_.find(owner); added != added_locations_.end()) {
    for (uint64_t at : added->second) f(at);
  }
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
  if (centroids_.size() == 0) return ScanWithin(query, max_distance);
  std::vector<int32_t> distances;
  centroids_.Distances(query, &distances);
  std::vector<std::pair<int64_t, uint32_t>> order(distances.size());
  for (size_t c = 0; c < order.size(); ++c) order[c] = {distances[c], static_cast<uint32_t>(c)};
  const size_t probes = std::min(options_.probes, order.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(probes), order.end());
  std::vector<Hit> hits;
  for (size_t p = 0; p < probes; ++p) ScanCell(cells_[order[p].second], query, max_distance, &hits);
  hits = BestPerOwner(std::move(hits));
  // An owner's nearest signature may lie in a cell not probed.
  for (Hit& hit : hits) {
    ForEachLocation(hit.first, [&](uint64_t at) {
      const Signature& s = cells_[at >> 32].signatures[at & 0xFFFFFFFFu];
      hit.second = std::min(hit.second, FullDistance(query, s));
    });
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
  size_t bytes = centroids_.MemoryBytes() + group_centres_.MemoryBytes() + removed_.capacity() / 8 +
                 cells_.capacity() * sizeof(Cell);
  for (const Group& group : groups_) {
    bytes += group.centroids.MemoryBytes() + group.numbers.capacity() * sizeof(uint32_t);
  }
  bytes +=
      built_first_.capacity() * sizeof(uint32_t) + built_locations_.capacity() * sizeof(uint64_t);
  for (const auto& [owner, locations] : added_locations_) {
    // The node and the allocator's headers beside the list, about 48 bytes.
    bytes += locations.capacity() * sizeof(uint64_t) + 48;
  }
  for (const Cell& cell : cells_) {
    bytes +=
        cell.signatures.capacity() * sizeof(Signature) + cell.owners.capacity() * sizeof(uint32_t);
  }
  return bytes;
}

}  // namespace pelk::catalog
