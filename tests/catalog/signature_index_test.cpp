#include "catalog/signature_index.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "catalog/catalog_store.h"
#include "tests/catalog/store_backends.h"

namespace pelk::catalog {
namespace {

constexpr int64_t kMax = 6000;

// Values spread like a signature's (around 2184, halves summing to 32768 give or take the
// clamp), drawn near one of a few bases so that many signatures have neighbours within reach.
class SignatureMaker {
 public:
  explicit SignatureMaker(uint32_t seed) : rng_(seed) {
    for (auto& base : bases_) base = Around(Signature{}, 900, 2184);
  }
  Signature Next() { return Around(bases_[rng_() % bases_.size()], 260, 0); }
  // A copy: the signature moved by a small amount.
  Signature Near(const Signature& s, double spread) { return Around(s, spread, 0); }

 private:
  Signature Around(const Signature& s, double spread, int32_t centre) {
    std::normal_distribution<double> normal(0, spread);
    Signature out{};
    for (size_t i = 0; i < kSignatureValues; ++i) {
      const int32_t v = centre + s[i] + static_cast<int32_t>(normal(rng_));
      out[i] = static_cast<int16_t>(std::clamp(v, 0, 32767));
    }
    return out;
  }
  std::mt19937 rng_;
  std::array<Signature, 6> bases_{};
};

// `target` moved to lie exactly `distance` (even) from it.
Signature AtDistance(Signature s, int64_t distance) {
  s[0] = static_cast<int16_t>(s[0] + distance / 2);
  s[1] = static_cast<int16_t>(s[1] - distance / 2);
  return s;
}

TEST(SignatureIndexTest, AnswersAreTrueHitsAndEveryCellProbedIsTheScan) {
  SignatureMaker maker(3);
  std::vector<Signature> signatures;
  std::vector<uint32_t> owners;
  for (uint32_t owner = 0; owner < 3000; ++owner) {
    const Signature rung0 = maker.Next();
    for (int r = 0; r < 1 + static_cast<int>(owner % 5); ++r) {
      signatures.push_back(r == 0 ? rung0 : maker.Near(rung0, 150));
      owners.push_back(owner);
    }
  }
  SignatureIndex index({.min_clustered = 0, .cell_size = 100, .probes = 4});
  index.Build(signatures, owners);
  ASSERT_GT(index.cells(), 50u);
  ASSERT_EQ(index.size(), signatures.size());
  size_t answered = 0;
  for (size_t i = 0; i < signatures.size(); i += 7) {
    const Signature query = maker.Near(signatures[i], 120);
    const auto scan = index.ScanWithin(query, kMax);
    const auto probed = index.Within(query, kMax);
    answered += !scan.empty();
    // Few probes: a subset of the scan's owners, each at its nearest distance (found through
    // one rung, measured at all).
    for (const auto& hit : probed) {
      EXPECT_NE(std::find(scan.begin(), scan.end(), hit), scan.end()) << "query " << i;
    }
    index.set_probes(index.cells());
    EXPECT_EQ(index.Within(query, kMax), scan) << "query " << i;
    index.set_probes(4);
  }
  EXPECT_GT(answered, 400u);
}

TEST(SignatureIndexTest, BoundaryRemovalAndAddition) {
  SignatureMaker maker(5);
  std::vector<Signature> signatures;
  std::vector<uint32_t> owners;
  for (uint32_t owner = 0; owner < 2000; ++owner) {
    signatures.push_back(maker.Next());
    owners.push_back(owner);
  }
  SignatureIndex index({.min_clustered = 0, .cell_size = 50, .probes = 8});
  index.Build(signatures, owners);
  const Signature& target = signatures[1234];
  const auto holds = [&](const std::vector<SignatureIndex::Hit>& hits, uint32_t owner,
                         int64_t distance) {
    return std::find(hits.begin(), hits.end(), SignatureIndex::Hit{owner, distance}) != hits.end();
  };
  EXPECT_TRUE(holds(index.Within(AtDistance(target, kMax), kMax), 1234, kMax));
  EXPECT_FALSE(holds(index.Within(AtDistance(target, kMax + 2), kMax), 1234, kMax + 2));
  EXPECT_TRUE(holds(index.Within(target, 0), 1234, 0));

  index.RemoveOwner(1234);
  EXPECT_TRUE(index.Within(target, 0).empty());
  EXPECT_TRUE(index.ScanWithin(target, 0).empty());
  index.Add(target, 5000);
  EXPECT_EQ(index.Within(target, 0), (std::vector<SignatureIndex::Hit>{{5000, 0}}));
  EXPECT_EQ(index.size(), signatures.size() + 1);
}

// An owner's signatures in other cells count, whether they came with the build or were added
// since: a query probing one cell reports the owner at its nearest signature anywhere. Points
// along one line, `steps` apart; the centroids are at 0 and 10, the query at 4 probes the cell
// of 0 alone.
TEST(SignatureIndexTest, OwnerIsMeasuredAtItsSignaturesInCellsNotProbed) {
  SignatureMaker maker(7);
  const Signature base = maker.Next();
  const auto at = [&](int64_t steps) { return AtDistance(base, steps * 200); };
  SignatureIndex index({.min_clustered = 0, .cell_size = 2, .probes = 1});
  index.Build({at(0), at(7), at(10), at(12)}, {0, 0, 1, 1});
  ASSERT_EQ(index.cells(), 2u);
  using Hits = std::vector<SignatureIndex::Hit>;
  // Owner 0 is found at 0, in the probed cell, and measured at 7, in the other.
  EXPECT_EQ(index.Within(at(4), kMax), (Hits{{0, 3 * 200}}));
  index.Add(at(6), 0);  // nearer to the centroid at 10
  EXPECT_EQ(index.Within(at(4), kMax), (Hits{{0, 2 * 200}}));
  EXPECT_EQ(index.ScanWithin(at(4), kMax), (Hits{{0, 2 * 200}, {1, 6 * 200}}));
}

// A catalogue of a few thousand tracks with ladders, its index made clustered as a large
// catalogue's is: lookups through the index answer what the scan answers, through replacing
// discs, adding discs after the index is built, and reopening the catalogue.
class SignatureIndexStoreTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (HasFatalFailure()) return;
    store_ = Open(CatalogStore::OpenMode::kCreate);
    ASSERT_TRUE(store_);
    std::string error;
    stored_ = MakeDiscs(0, 300);
    ASSERT_TRUE(store_->AddDiscs(stored_, &error)) << error;
  }
  void TearDown() override { store_.reset(); }
  std::unique_ptr<CatalogStore> Open(CatalogStore::OpenMode mode) {
    auto store = OpenStore(mode);
    if (store) store->SetSignatureIndexOptions({.min_clustered = 0, .cell_size = 100});
    return store;
  }
  // Ten tracks a disc, one to nine rungs a track.
  std::vector<DiscRecord> MakeDiscs(int first, int count) {
    std::vector<DiscRecord> discs;
    for (int d = first; d < first + count; ++d) {
      DiscRecord disc{.identifier = "D" + std::to_string(d), .album = "A", .artist = "B"};
      for (int t = 1; t <= 10; ++t) {
        TrackRecord track{
            .number = t, .title = "T", .identifier = disc.identifier + "-" + std::to_string(t)};
        track.signature = maker_.Next();
        for (int r = 1; r < 1 + (d + t) % 9; ++r) {
          track.ladder.push_back(maker_.Near(*track.signature, 700));
        }
        disc.tracks.push_back(std::move(track));
      }
      discs.push_back(std::move(disc));
    }
    return discs;
  }
  // Copies of stored rungs, rungs at exactly the acceptance distance, and strangers.
  std::vector<Signature> Queries(const std::vector<DiscRecord>& discs) {
    std::vector<Signature> queries;
    for (size_t d = 0; d < discs.size(); d += 3) {
      const TrackRecord& t = discs[d].tracks[d % 10];
      const Signature& rung = t.ladder.empty() ? *t.signature : t.ladder.back();
      queries.push_back(maker_.Near(rung, 200));
      queries.push_back(AtDistance(rung, kMax));
      queries.push_back(maker_.Next());
    }
    return queries;
  }
  void ExpectIndexIsScan(CatalogStore& store, const std::vector<Signature>& queries) {
    size_t answered = 0;
    for (size_t i = 0; i < queries.size(); ++i) {
      const auto scan = store.NearestSignaturesByScan(queries[i], kMax, 16);
      const auto index = store.NearestSignatures(queries[i], kMax, 16);
      answered += !scan.empty();
      ASSERT_EQ(index.size(), scan.size()) << "query " << i;
      for (size_t h = 0; h < scan.size(); ++h) {
        EXPECT_EQ(index[h].disc_id, scan[h].disc_id) << "query " << i << " hit " << h;
        EXPECT_EQ(index[h].track, scan[h].track) << "query " << i << " hit " << h;
        EXPECT_EQ(index[h].distance, scan[h].distance) << "query " << i << " hit " << h;
      }
    }
    EXPECT_GT(answered, queries.size() / 2);
  }

  SignatureMaker maker_{11};
  std::unique_ptr<CatalogStore> store_;
  std::vector<DiscRecord> stored_;
};

INSTANTIATE_ON_EVERY_BACKEND(SignatureIndexStoreTest);

TEST_P(SignatureIndexStoreTest, IndexAnswersAsTheScanThroughReplaceAddAndReopen) {
  const std::vector<DiscRecord>& stored = stored_;
  ExpectIndexIsScan(*store_, Queries(stored));

  // Replaced discs: their old rungs answer no more, their new ones do, at once.
  std::vector<DiscRecord> replacing = MakeDiscs(100, 20);
  std::string error;
  ASSERT_TRUE(store_->AddDiscs(replacing, &error, true)) << error;
  const Signature old_rung = *stored[100].tracks[0].signature;
  for (const TrackHit& hit : store_->NearestSignatures(old_rung, 0, 16)) {
    EXPECT_NE(store_->DiscById(hit.disc_id)->identifier, "D100");
  }
  const auto found = store_->NearestSignatures(*replacing[0].tracks[0].signature, 0, 16);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(store_->DiscById(found[0].disc_id)->identifier, "D100");
  EXPECT_EQ(found[0].track, 1);

  std::vector<DiscRecord> added = MakeDiscs(300, 50);
  ASSERT_TRUE(store_->AddDiscs(added, &error)) << error;
  std::vector<Signature> queries = Queries(replacing);
  for (const Signature& q : Queries(added)) queries.push_back(q);
  for (const Signature& q : Queries(stored)) queries.push_back(q);
  ExpectIndexIsScan(*store_, queries);

  // The same answers from an index built afresh from the file.
  std::vector<std::vector<TrackHit>> before;
  for (const Signature& q : queries) before.push_back(store_->NearestSignatures(q, kMax, 16));
  store_ = Open(CatalogStore::OpenMode::kExisting);
  ASSERT_TRUE(store_);
  for (size_t i = 0; i < queries.size(); ++i) {
    const auto after = store_->NearestSignatures(queries[i], kMax, 16);
    ASSERT_EQ(after.size(), before[i].size()) << "query " << i;
    for (size_t h = 0; h < after.size(); ++h) {
      EXPECT_EQ(after[h].disc_id, before[i][h].disc_id) << "query " << i;
      EXPECT_EQ(after[h].distance, before[i][h].distance) << "query " << i;
    }
  }
}

}  // namespace
}  // namespace pelk::catalog
