// The waveform kinds at the default thresholds: a second candidate close to the best is the same
// recording, a little farther makes the answer ambiguous, far enough leaves one clear winner.
#include "catalog/matching.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/catalog/store_backends.h"

namespace pelk::catalog {
namespace {

Signature Base() {
  Signature s{};
  for (size_t i = 0; i < kSignatureValues; ++i)
    s[i] = static_cast<int16_t>(2184 + (i % 15 == 14 ? 8 : 0));
  return s;
}

// Base() moved by `distance` (sum of absolute differences) without changing the halves' sums.
Signature Moved(int32_t distance) {
  Signature s = Base();
  s[0] = static_cast<int16_t>(s[0] + distance / 2);
  s[1] = static_cast<int16_t>(s[1] - distance / 2);
  return s;
}

// A catalogue of one disc holding the ladders (rung 0 first) as tracks 1, 2, ...
std::unique_ptr<CatalogStore> Catalogue(const ScopedCatalogPlace& place,
                                        const std::vector<std::vector<Signature>>& ladders) {
  std::string error = place.error();
  auto store = error.empty()
                   ? CatalogStore::Open(place.location(), CatalogStore::OpenMode::kCreate, &error)
                   : nullptr;
  EXPECT_TRUE(store) << error;
  if (!store) return nullptr;
  DiscRecord disc;
  disc.identifier = "D";
  for (const std::vector<Signature>& ladder : ladders) {
    TrackRecord track;
    track.number = static_cast<int32_t>(disc.tracks.size()) + 1;
    track.identifier = "T" + std::to_string(track.number);
    track.signature = ladder.at(0);
    track.ladder.assign(ladder.begin() + 1, ladder.end());
    disc.tracks.push_back(track);
  }
  disc.track_count = static_cast<int32_t>(disc.tracks.size());
  EXPECT_TRUE(store->AddDiscs({disc}, &error)) << error;
  return store;
}

class MatchWaveformTest : public ::testing::TestWithParam<Backend> {
 protected:
  // The answer for Base() in a catalogue of one disc holding the signatures as tracks 1, 2, ...
  MatchAnswer Lookup(const std::vector<Signature>& signatures) {
    const ScopedCatalogPlace place(GetParam());
    std::vector<std::vector<Signature>> ladders;
    for (const Signature& s : signatures) ladders.push_back({s});
    auto store = Catalogue(place, ladders);
    return store ? MatchWaveform(*store, Base()) : MatchAnswer{};
  }
};
INSTANTIATE_ON_EVERY_BACKEND(MatchWaveformTest);

TEST_P(MatchWaveformTest, KindFollowsTheLeadOfTheBest) {
  const WaveformThresholds t;
  ASSERT_LT(t.same_recording, t.clear_margin);  // else no answer could be ambiguous
  ASSERT_LT(t.clear_margin, t.max_distance);

  MatchAnswer a = Lookup({Moved(200), Moved(200 + t.same_recording)});
  EXPECT_EQ(a.kind, 5);
  EXPECT_EQ(a.matches.size(), 2u);

  a = Lookup({Moved(200), Moved(200 + t.same_recording + 200), Moved(t.max_distance + 400)});
  EXPECT_EQ(a.kind, 2);
  EXPECT_EQ(a.matches.size(), 2u);  // the one beyond max_distance is no candidate

  a = Lookup({Moved(200 + t.clear_margin), Moved(200)});
  EXPECT_EQ(a.kind, 3);
  ASSERT_EQ(a.matches.size(), 1u);
  EXPECT_EQ(a.matches[0].track, 2);

  a = Lookup({Moved(t.max_distance + 400)});
  EXPECT_EQ(a.kind, 1);
  EXPECT_TRUE(a.matches.empty());
}

}  // namespace
}  // namespace pelk::catalog

namespace pelk::catalog {
namespace {

TEST_P(MatchWaveformTest, EachTrackAnswersByItsNearestRung) {
  const WaveformThresholds t;
  const ScopedCatalogPlace place(GetParam());
  // Track 1's rung 0 is far from the query, two of its other rungs near; track 2 has one
  // signature, nearer than track 1's rung 0.
  auto store = Catalogue(place, {{Moved(t.max_distance - 400), Moved(300), Moved(100)},
                                 {Moved(100 + t.clear_margin + 200)}});
  ASSERT_TRUE(store);
  const CatalogStats stats = store->Stats();
  EXPECT_EQ(stats.signatures, 4);
  EXPECT_EQ(stats.fingerprinted_tracks, 2);

  // One hit per track, at its nearest rung.
  const std::vector<TrackHit> hits = store->NearestSignatures(Base(), t.max_distance, 10);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].track, 1);
  EXPECT_EQ(hits[0].distance, 100);
  EXPECT_EQ(hits[1].track, 2);
  EXPECT_EQ(hits[1].distance, 100 + t.clear_margin + 200);

  // The lead of the best rung over the other track makes one clear answer.
  const MatchAnswer a = MatchWaveform(*store, Base());
  EXPECT_EQ(a.kind, 3);
  ASSERT_EQ(a.matches.size(), 1u);
  EXPECT_EQ(a.matches[0].track, 1);

  // The ladder comes back from the store in rung order.
  const DiscPtr disc = store->DiscByIdentifier("D");
  ASSERT_TRUE(disc);
  ASSERT_EQ(disc->tracks[0].ladder.size(), 2u);
  EXPECT_EQ(disc->tracks[0].signature, Moved(t.max_distance - 400));
  EXPECT_EQ(disc->tracks[0].ladder[1], Moved(100));
  EXPECT_TRUE(disc->tracks[1].ladder.empty());
}

}  // namespace
}  // namespace pelk::catalog
