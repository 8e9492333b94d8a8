#include <algorithm>
#include <random>

#include "tests/model/list_fixture.h"

namespace pelk::testing {
namespace {

TEST(StableMergeSortTest, MatchesTheStandardStableSort) {
  std::mt19937 random(11);
  for (size_t n : {0, 1, 2, 31, 32, 33, 63, 64, 65, 100, 200, 1000}) {
    // Few distinct keys, so that stability is tested on long runs of equal keys.
    std::vector<std::pair<int, size_t>> items(n);
    for (size_t i = 0; i < n; ++i) items[i] = {static_cast<int>(random() % 7), i};
    auto expected = items;
    auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::stable_sort(expected.begin(), expected.end(), by_key);
    StableMergeSort(items, by_key);
    EXPECT_EQ(items, expected) << "n = " << n;
  }
}

// Plain values standing in for what the match-quality rules read of a record.
struct Facts {
  int32_t type = MATCH_TYPE_TXT;
  int32_t score = 50;
  bool high = false;
  bool disc = true;
  bool va = false;
  int32_t certified = 0;
  int32_t rank = 0;
  int32_t element = 0;
  bool record = true;
  bool HasRecord() const { return record; }
  int32_t MatchType() const { return type; }
  int32_t Score() const { return score; }
  bool HighConfidence() const { return high; }
  bool HasDisc() const { return disc; }
  bool VariousArtists() const { return va; }
  int32_t CertifiedLevel() const { return certified; }
  int32_t ReleaseRank() const { return rank; }
  int32_t ElementRank() const { return element; }
};

TEST(MatchQualityRulesTest, FirstSeparatingRuleDecides) {
  struct Case {
    const char* rule;
    Facts better, worse;
  };
  const Case cases[] = {
      {"record", {}, {.record = false}},
      {"identifier",
       {.type = MATCH_TYPE_ITUNESID, .score = 0},
       {.type = MATCH_TYPE_WF, .score = 99}},
      {"no match last",
       {.type = MATCH_TYPE_TXT, .score = 0},
       {.type = MATCH_TYPE_NONE, .score = 99}},
      {"album-level text",
       {.type = MATCH_TYPE_TXT, .score = 0},
       {.type = MATCH_TYPE_TXT_ALBUM_LEVEL, .score = 99, .high = true}},
      {"waveform",
       {.type = MATCH_TYPE_TXT_ON_WF, .score = 0},
       {.type = MATCH_TYPE_TXT, .score = 99, .high = true}},
      {"high confidence", {.score = 10, .high = true}, {.score = 99}},
      {"high confidence score",
       {.score = 92, .high = true, .va = true},
       {.score = 91, .high = true}},
      {"not various artists, 60", {.score = 61}, {.score = 75, .va = true}},
      {"at least 60, score", {.score = 70}, {.score = 69}},
      {"at least 55", {.score = 55, .va = true}, {.score = 54}},
      {"at least 55, score", {.score = 58, .va = true}, {.score = 57, .va = true}},
      {"disc", {.score = -1, .certified = 0}, {.score = -1, .disc = false, .certified = 9}},
      {"various artists", {.score = 40, .certified = 0}, {.score = 50, .va = true, .certified = 9}},
      {"certified level",
       {.score = 40, .certified = 3, .rank = 0},
       {.score = 50, .certified = 2, .rank = 1}},
      {"release rank set", {.score = 40, .rank = 5}, {.score = 50, .rank = 0, .element = 2}},
      {"release rank smaller", {.score = 40, .rank = 1}, {.score = 50, .rank = 2, .element = 2}},
      {"element", {.score = 40, .element = 1}, {.score = 50, .element = 0}},
      {"element value", {.score = 40, .element = 2}, {.score = 50, .element = 1}},
      {"score", {.score = 50}, {.score = 49}},
  };
  for (const Case& c : cases) {
    Facts better = c.better, worse = c.worse;
    EXPECT_TRUE(MatchQualityBefore(better, worse)) << c.rule;
    EXPECT_FALSE(MatchQualityBefore(worse, better)) << c.rule;
  }
  // Two identifier matches: A comes first whichever it is; two without discs never.
  Facts tag{.type = MATCH_TYPE_TAGID}, itunes{.type = MATCH_TYPE_ITUNESID};
  EXPECT_TRUE(MatchQualityBefore(tag, itunes) && MatchQualityBefore(itunes, tag));
  Facts bare{.score = -1, .disc = false}, bare2 = bare;
  EXPECT_FALSE(MatchQualityBefore(bare, bare2));
}

TEST(VariousArtistsTest, CompilationOrExactArtist) {
  auto disc = [](const char16_t* artist, bool compilation) {
    FakeDiscData data{.artist = artist, .compilation = compilation};
    return MakeFakeDisc({std::make_shared<const FakeDiscData>(data), 0, true});
  };
  EXPECT_TRUE(IsVariousArtistsDisc(disc(u"Joni Mitchell", true).Get()));
  EXPECT_TRUE(IsVariousArtistsDisc(disc(u"Various Artists", false).Get()));
  EXPECT_FALSE(IsVariousArtistsDisc(disc(u"various artists", false).Get()) ||
               IsVariousArtistsDisc(nullptr));
}

using ListOrderingTest = ListTest;

TEST_F(ListOrderingTest, SortsAreStable) {
  const int32_t tracks[] = {3, 0, 1, 3, 0};
  std::vector<ComPtr<CPelkFileInfo>> t;
  for (int32_t track : tracks) {
    t.push_back(Named(u"/m/x.mp3"));
    t.back()->put_TrackNum(track);
  }
  auto list = ListOf({t[0], t[1], t[2], t[3], t[4]});
  list->SortItemsByTrackNum();
  EXPECT_EQ(Order(list.Get()),
            (std::vector{t[1].Get(), t[4].Get(), t[2].Get(), t[0].Get(), t[3].Get()}));

  auto wf = OnDisc(blue_, 1, MATCH_TYPE_WF), none = Named(u"/n"),
       txt = OnDisc(blue_, 2, MATCH_TYPE_TXT), wf2 = OnDisc(blue_, 3, MATCH_TYPE_WF);
  list = ListOf({none, txt, wf, wf2});
  list->SortItemsByMatchType();
  EXPECT_EQ(Order(list.Get()), (std::vector{wf.Get(), wf2.Get(), txt.Get(), none.Get()}));

  auto b = Named(u"/m/B/1.mp3"), a = Named(u"/m/a/1.mp3"), b2 = Named(u"/m/b/2.mp3");
  list = ListOf({b, a, b2});
  list->SortItemsByFolder();
  EXPECT_EQ(Order(list.Get()), (std::vector{a.Get(), b.Get(), b2.Get()}));

  // Albums before no album; within album and artist by the first four letters, ignoring case.
  auto loose = Tagged(u"/x/a.mp3", u"A", u""), song = Tagged(u"/x/Song.mp3", u"Joni", u"Blue"),
       first = Tagged(u"/x/abcd 9.mp3", u"Joni", u"Blue"),
       same = Tagged(u"/x/ABCD 1.mp3", u"Joni", u"Blue"), air = Tagged(u"/x/z.mp3", u"Z", u"Air");
  list = ListOf({loose, song, first, same, air});
  list->SortItemsByMetadata();
  EXPECT_EQ(Order(list.Get()),
            (std::vector{air.Get(), first.Get(), same.Get(), song.Get(), loose.Get()}));
}

TEST_F(ListOrderingTest, MatchQualityOnRecords) {
  FakeDisc compilation = fake_->AddDisc({.album = u"Blue",
                                         .artist = u"Joni Mitchell",
                                         .compilation = true,
                                         .tracks = std::vector<FakeTrack>(blue_->tracks)});
  auto wf70 = Scoring(70, MATCH_TYPE_WF), txt95 = Scoring(95, MATCH_TYPE_TXT);
  auto txt92 = Scoring(92, MATCH_TYPE_TXT), txt89 = Scoring(89, MATCH_TYPE_TXT);
  auto plain61 = Scoring(61, MATCH_TYPE_TXT), va75 = Scoring(75, MATCH_TYPE_TXT, &compilation);
  auto low50 = Scoring(50, MATCH_TYPE_TXT), low45 = Scoring(45, MATCH_TYPE_TXT);
  auto unmatched = Named(u"/m/u.mp3"), tag_id = Scoring(45, MATCH_TYPE_TAGID);
  auto list = ListOf({unmatched, low45, low50, va75, plain61, txt89, txt92, txt95, wf70, tag_id});
  ASSERT_HR(S_OK, list->SortItemsByMatchQuality());
  // Waveform kinds before text; high confidence (92, 95) first among the text matches.
  EXPECT_EQ(Order(list.Get()),
            (std::vector{tag_id.Get(), wf70.Get(), txt95.Get(), txt92.Get(), txt89.Get(),
                         plain61.Get(), va75.Get(), low50.Get(), low45.Get(), unmatched.Get()}));
}

TEST_F(ListOrderingTest, SortedInsertionAndFlags) {
  auto b = Named(u"/m/b/1.mp3"), c = Named(u"/m/c/1.mp3");
  auto list = ListOf({c, b});
  list->SortItemsByFolder();
  ASSERT_TRUE(list->SortedByFolder());
  // Equal to entry 1's folder, and smaller than every folder: both land right after entry 1.
  auto same = Named(u"/M/B/2.mp3"), smaller = Named(u"/m/a/1.mp3"), larger = Named(u"/m/d/1.mp3");
  list->AddFileInfo(same.Get());
  list->AddFileInfo(smaller.Get());
  list->AddFileInfo(larger.Get());
  EXPECT_EQ(Order(list.Get()),
            (std::vector{b.Get(), smaller.Get(), same.Get(), c.Get(), larger.Get()}));
  list->SortItemsByFolder();  // sorted once: the flag makes this a no-op
  EXPECT_EQ(Order(list.Get())[1], smaller.Get());

  // Metadata order takes precedence while both flags are set; the record goes in once.
  list->SortItemsByMetadata();
  auto tagged = Tagged(u"/m/z/9.mp3", u"Joni", u"Blue");
  ASSERT_HR(S_OK, list->AddFileInfo(tagged.Get()));
  auto order = Order(list.Get());
  EXPECT_EQ(order.size(), 6u);
  EXPECT_EQ(std::count(order.begin(), order.end(), tagged.Get()), 1);
  EXPECT_EQ(order[1], tagged.Get());  // the untagged entry 1 does not come before it
  list->Clear();
  EXPECT_FALSE(list->SortedByFolder() || list->SortedByMetadata());
}

}  // namespace
}  // namespace pelk::testing
