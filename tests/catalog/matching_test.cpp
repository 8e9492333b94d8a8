// The waveform kinds at the default thresholds: a second candidate close to the best is the same
// recording, a little farther makes the answer ambiguous, far enough leaves one clear winner.
#include "catalog/matching.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/pcm_synth.h"

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

// The answer for Base() in a catalogue of one disc holding the signatures as tracks 1, 2, ...
MatchAnswer Lookup(const std::vector<Signature>& signatures) {
  testing::ScopedTempFile file("catalog.db");
  std::string error;
  auto store = CatalogStore::Open(file.path(), CatalogStore::OpenMode::kCreate, &error);
  EXPECT_TRUE(store) << error;
  if (!store) return {};
  DiscRecord disc;
  disc.identifier = "D";
  for (const Signature& s : signatures) {
    TrackRecord track;
    track.number = static_cast<int32_t>(disc.tracks.size()) + 1;
    track.identifier = "T" + std::to_string(track.number);
    track.signature = s;
    disc.tracks.push_back(track);
  }
  disc.track_count = static_cast<int32_t>(disc.tracks.size());
  EXPECT_TRUE(store->AddDiscs({disc}, &error)) << error;
  return MatchWaveform(*store, Base());
}

TEST(MatchWaveformTest, KindFollowsTheLeadOfTheBest) {
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
