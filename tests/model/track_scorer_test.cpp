#include "model/track_scorer.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "control/control_objects.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace pelk::testing {
namespace {

using text::GetTrackHint;
using text::SplitScorerPath;
using text::TrackScorer;

// The scorer reads USERNAME once per process; set it before any test runs.
constexpr char kUser[] = "scorer-test-user";
const bool kUserSet = [] { return setenv("USERNAME", kUser, 1) == 0; }();

class TrackScorerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(kUserSet); }

  ComPtr<IDiscInfo> Disc(int32_t track) { return MakeFakeDisc({blue_, track, true}); }

  // Prepares a scorer on track `track` of the disc and returns its score.
  int32_t ScoreOf(int32_t track, std::u16string_view path, IFileTag* tag) {
    TrackScorer scorer;
    EXPECT_HR(S_OK, scorer.Prepare(Disc(track).Get(), path, tag));
    int32_t score = -1;
    EXPECT_HR(S_OK, scorer.Score(&score));
    return score;
  }

  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  ScopedControlLibrary library_{*fake_};
  FakeDisc blue_ = fake_->AddDisc({.album = u"Blue",
                                   .artist = u"Joni Mitchell",
                                   .identifier = u"DISC-BLUE",
                                   .tracks = {{u"All I Want", u"", u"T1"},
                                              {u"My Old Man", u"", u"T2"},
                                              {u"Little Green", u"", u"T3"},
                                              {u"Carey", u"", u"T4"},
                                              {u"River", u"", u"T5"},
                                              {u"California", u"Guest Singer", u"T6"},
                                              {u"This Flight Tonight", u"", u"T7"},
                                              {u"A Case of You", u"", u"T8"}}});
};

TEST_F(TrackScorerTest, TagEqualToDiscAndTrackWithTheHintScores100) {
  ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"Artist", u"Joni Mitchell"},
                                                {u"AlbumTitle", u"Blue"},
                                                {u"Title", u"Little Green"},
                                                {u"TrackNumber", u"3"}}});
  EXPECT_EQ(ScoreOf(3, u"", tag.Get()), 100);
  // Another track: album and artist still match, the title does not, and no hint bonus.
  EXPECT_LT(ScoreOf(4, u"", tag.Get()), 80);
}

TEST_F(TrackScorerTest, HintAddsTenCappedAt100) {
  // A title that only nearly matches, so the bonus is visible below the cap.
  auto tag_with_number = [](const char16_t* number) {
    return MakeFakeTag({.texts = {{u"Artist", u"Joni Mitchell"},
                                  {u"AlbumTitle", u"Blue"},
                                  {u"Title", u"Lettle Grain"},
                                  {u"TrackNumber", number}}});
  };
  const int32_t without = ScoreOf(3, u"", tag_with_number(u"2").Get());
  const int32_t with = ScoreOf(3, u"", tag_with_number(u"3").Get());
  ASSERT_LT(without, 90);
  EXPECT_EQ(with, without + 10);
}

TEST_F(TrackScorerTest, EmptyTagAndArtistAlbumTitlePathScores100ForItsTrack) {
  for (const char16_t* path : {u"/music/Joni Mitchell/Blue/08 A Case of You.mp3",
                               u"C:\\Music\\Joni Mitchell\\Blue\\08 A Case of You.mp3"}) {
    ComPtr<IFileTag> empty = MakeFakeTag();
    TrackScorer scorer;
    ASSERT_HR(S_OK, scorer.Prepare(Disc(8).Get(), path, empty.Get()));
    EXPECT_EQ(scorer.FolderA().raw, u"Joni Mitchell");
    EXPECT_EQ(scorer.FolderB().raw, u"Blue");
    EXPECT_EQ(scorer.FileName().raw, u"08 A Case of You");
    EXPECT_EQ(scorer.Hint(), 8);
    int32_t score = 0;
    ASSERT_HR(S_OK, scorer.Score(&score));
    EXPECT_EQ(score, 100) << std::string(path, path + 10);
    // The same file against another track of the album scores clearly lower.
    ASSERT_HR(S_OK, scorer.SetTrack(2));
    ASSERT_HR(S_OK, scorer.Score(&score));
    EXPECT_LT(score, 80);
    // No tag at all reads the same as an empty one.
    EXPECT_EQ(ScoreOf(8, path, nullptr), 100);
  }
}

TEST_F(TrackScorerTest, ArtistDashTitleFileName) {
  TrackScorer scorer;
  ASSERT_HR(S_OK, scorer.Prepare(Disc(5).Get(), u"Joni Mitchell - River.mp3", nullptr));
  EXPECT_TRUE(scorer.FolderB().Empty());
  // Stripping the disc artist leaves the separator and the title; the album does not occur.
  EXPECT_EQ(scorer.StrippedFileName().raw, u" - River");
  int32_t score = 0;
  ASSERT_HR(S_OK, scorer.Score(&score));
  EXPECT_GE(scorer.CachedSimilarity(TrackScorer::kFArtist), 90);  // by containment
  const std::u16string stripped_normalized = scorer.StrippedFileName().normalized;
  EXPECT_EQ(scorer.CachedSimilarity(TrackScorer::kFTitle),
            text::FieldSimilarity(u" - River", stripped_normalized, u"River",
                                  text::StandardNormalized(u"River")));
  EXPECT_GE(scorer.CachedSimilarity(TrackScorer::kFTitle), 90);
}

TEST_F(TrackScorerTest, TrackChangeClearsOnlyTheTrackDependentSimilarities) {
  ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"Artist", u"Joni"}, {u"Title", u"Carey"}}});
  TrackScorer scorer;
  ASSERT_HR(S_OK, scorer.Prepare(Disc(4).Get(), u"/m/Joni/Blue/Carey.mp3", tag.Get()));
  int32_t score = 0;
  ASSERT_HR(S_OK, scorer.Score(&score));
  for (int i = 0; i < TrackScorer::kSimilarityCount; ++i) {
    EXPECT_GE(scorer.CachedSimilarity(static_cast<TrackScorer::Comparison>(i)), 0) << i;
  }
  ASSERT_HR(S_OK, scorer.SetTrack(6));
  EXPECT_EQ(scorer.CurrentTrack(), 6);
  for (int i = 0; i < TrackScorer::kSimilarityCount; ++i) {
    const int32_t value = scorer.CachedSimilarity(static_cast<TrackScorer::Comparison>(i));
    if (i >= TrackScorer::kTrackDependent) {
      EXPECT_EQ(value, -1) << i;
    } else {
      EXPECT_GE(value, 0) << i;
    }
  }
  // Returning to the first track gives the first score again.
  ASSERT_HR(S_OK, scorer.SetTrack(4));
  int32_t again = 0;
  ASSERT_HR(S_OK, scorer.Score(&again));
  EXPECT_EQ(again, score);
}

TEST_F(TrackScorerTest, SetTrackBoundsAndPrepareFailures) {
  TrackScorer scorer;
  int32_t score = 0;
  EXPECT_HR(E_FAIL, scorer.SetTrack(1));  // not prepared
  EXPECT_HR(E_FAIL, scorer.Score(&score));
  EXPECT_HR(E_INVALIDARG, scorer.Prepare(nullptr, u"", nullptr));
  EXPECT_HR(E_FAIL, scorer.Prepare(Disc(0).Get(), u"", nullptr));  // no current track

  ASSERT_HR(S_OK, scorer.Prepare(Disc(2).Get(), u"", nullptr));
  EXPECT_HR(E_POINTER, scorer.Score(nullptr));
  EXPECT_HR(E_INVALIDARG, scorer.SetTrack(0));
  EXPECT_HR(E_INVALIDARG, scorer.SetTrack(9));  // count + 1
  EXPECT_HR(S_OK, scorer.SetTrack(8));
  EXPECT_HR(S_OK, scorer.SetTrack(8));  // already current

  // The caller's disc keeps its own current track.
  ComPtr<IDiscInfo> disc = Disc(2);
  ASSERT_HR(S_OK, scorer.Prepare(disc.Get(), u"", nullptr));
  ASSERT_HR(S_OK, scorer.SetTrack(7));
  int32_t current = 0;
  ASSERT_HR(S_OK, disc->get_CurrentTrack(&current));
  EXPECT_EQ(current, 2);

  FakeDisc broken =
      fake_->AddDisc({.album = u"X", .tracks = {{u"a"}}, .copy_result = E_ACCESSDENIED});
  EXPECT_HR(E_ACCESSDENIED, scorer.Prepare(MakeFakeDisc({broken, 1, true}).Get(), u"", nullptr));
  EXPECT_HR(E_FAIL, scorer.Score(&score));  // a failed Prepare leaves nothing to score
}

TEST_F(TrackScorerTest, ATrackBeyondTheDiscsCountIsScoredAsItsOwn) {
  // A disc that says it has 6 tracks but holds 8: its own track 8 is scored like any other,
  // selecting another track beyond the count is still refused.
  FakeDiscData short_count = *blue_;
  short_count.track_count = 6;
  FakeDisc disc = fake_->AddDisc(std::move(short_count));
  ComPtr<IFileTag> tag = MakeFakeTag(
      {.texts = {
           {u"Artist", u"Joni Mitchell"}, {u"AlbumTitle", u"Blue"}, {u"Title", u"A Case of You"}}});
  TrackScorer scorer;
  ASSERT_HR(S_OK, scorer.Prepare(MakeFakeDisc({disc, 8, true}).Get(), u"", tag.Get()));
  ASSERT_HR(S_OK, scorer.SetTrack(8));
  int32_t score = -1;
  ASSERT_HR(S_OK, scorer.Score(&score));
  EXPECT_EQ(score, 100);
  EXPECT_HR(E_INVALIDARG, scorer.SetTrack(7));
}

TEST_F(TrackScorerTest, TagIdentifierShortcut) {
  // Texts that share nothing with the disc: only the identifier can give 100.
  ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"Title", u"Zzyzx"}, {u"Identifier", u"T7"}}});
  EXPECT_EQ(ScoreOf(7, u"/x/y/file.mp3", tag.Get()), 100);
  EXPECT_LT(ScoreOf(6, u"/x/y/file.mp3", tag.Get()), 50);
}

TEST_F(TrackScorerTest, ITunesIdentifierShortcut) {
  ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"Title", u"Zzyzx"}, {u"TrackNumber", u"4"}},
                                      .fields = {{u"iTunes_PELK_IDs", u"8+TOC-HASH+DISC-BLUE"}}});
  EXPECT_EQ(ScoreOf(4, u"/x/file.mp3", tag.Get()), 100);
  EXPECT_LT(ScoreOf(3, u"/x/file.mp3", tag.Get()), 50);
  // Without a file name the identifiers are not read.
  EXPECT_LT(ScoreOf(4, u"", tag.Get()), 50);
  // Identifiers of another disc do not count.
  ComPtr<IFileTag> other = MakeFakeTag({.texts = {{u"Title", u"Zzyzx"}, {u"TrackNumber", u"4"}},
                                        .fields = {{u"iTunes_PELK_IDs", u"8+DISC-BLUE+OTHER"}}});
  EXPECT_LT(ScoreOf(4, u"/x/file.mp3", other.Get()), 50);
}

TEST(ScorerPathTest, FoldersAreTheLastTwoAcceptedComponents) {
  struct Case {
    const char16_t* path;
    const char16_t* a;
    const char16_t* b;
    const char16_t* name;
  };
  const Case cases[] = {
      {u"D:\\Music\\Artist\\Album\\01 Song.mp3", u"Artist", u"Album", u"01 Song"},
      {u"/srv/music/Artist/Album/01 Song.flac", u"Artist", u"Album", u"01 Song"},
      {u"\\\\server\\share\\Album\\a.b.mp3", u"share", u"Album", u"a.b"},
      {u"Album/Song", u"", u"Album", u"Song"},
      {u"Song.mp3", u"", u"", u"Song"},
      {u"C:Song.mp3", u"", u"", u"Song"},
      // Inside the system folders nothing is taken.
      {u"C:\\Documents and Settings\\bob\\My Documents\\My Music\\07 Title.mp3", u"", u"",
       u"07 Title"},
      {u"C:\\Data\\my music\\07 Title.mp3", u"", u"Data", u"07 Title"},
      // A rejected folder lets the one before it become folder B.
      {u"/a/Artist/My Musical/x.mp3", u"", u"Artist", u"x"},
      // A colon inside a folder name is part of the name.
      {u"/music/Live: 1999/Side A/x.mp3", u"Live: 1999", u"Side A", u"x"},
      // Doubled separators inside the path do not make empty folders.
      {u"/a//Artist//Album/x.mp3", u"Artist", u"Album", u"x"},
  };
  for (const Case& c : cases) {
    const text::ScorerPathParts parts = SplitScorerPath(c.path, u"bob");
    EXPECT_EQ(parts.folder_a, c.a) << std::string(c.path, c.path + 12);
    EXPECT_EQ(parts.folder_b, c.b);
    EXPECT_EQ(parts.file_name, c.name);
  }
}

TEST(ScorerPathTest, LoginNameFoldersAreRejectedCaseSensitively) {
  EXPECT_EQ(SplitScorerPath(u"/home/bob/Album/x.mp3", u"bob").folder_a, u"");
  EXPECT_EQ(SplitScorerPath(u"/home/bobby/Album/x.mp3", u"bob").folder_a, u"");  // begins with
  EXPECT_EQ(SplitScorerPath(u"/home/Bob/Album/x.mp3", u"bob").folder_a, u"Bob");
  EXPECT_EQ(SplitScorerPath(u"/home/bob/Album/x.mp3", u"").folder_a, u"bob");
  EXPECT_EQ(text::LoginName(), u"scorer-test-user");
}

TEST_F(TrackScorerTest, PrepareRejectsTheCurrentUsersFolder) {
  TrackScorer scorer;
  ASSERT_HR(S_OK,
            scorer.Prepare(Disc(1).Get(), u"/home/scorer-test-user/My Music/01 x.mp3", nullptr));
  EXPECT_TRUE(scorer.FolderA().Empty());
  EXPECT_TRUE(scorer.FolderB().Empty());
  EXPECT_EQ(scorer.FileName().raw, u"01 x");
}

TEST(TrackHintTest, FileNameAndTagHints) {
  struct Case {
    const char16_t* path;
    int32_t hint;
  };
  const Case cases[] = {
      {u"05 Song.mp3", 5},
      {u"Song.mp3", 0},
      {u"1 Song 2.mp3", 2},
      {u"2009 Song.mp3", 0},
      {u"CD1 - 05 Song.mp3", 5},
      {u"1 Song.mp3", 1},     // a lone 1 stays
      {u"07 Song 3.mp3", 7},  // a value other than 1 stays
      {u"00 Song 4.mp3", 4},  // 0 does not count
      {u"007.mp3", 7},        // only one leading zero is skipped
      {u"100 Song.mp3", 0},
      {u"99999999999999 3.mp3", 3},  // a huge run neither counts nor overflows
      {u"05 Song", 0},               // no full stop
      {u"/music/10cc/Song.mp3", 0},  // folders do not count
      {u"C:\\music\\Album 2\\04 Song.mp3", 4},
      {u"/music/Album 2/04 Song.mp3", 4},
      {u"C:\\music/Album 2\\04 Song.mp3", 4},
      {u"/music/Track 12.v2.mp3", 12},
      {u"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetTrackHint(c.path, nullptr), c.hint) << std::string(c.path, c.path + 8);
  }
  ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"TrackNumber", u"12/14"}}});
  EXPECT_EQ(GetTrackHint(u"05 Song.mp3", tag.Get()), 12);
  EXPECT_EQ(GetTrackHint(u"", tag.Get()), 12);
  ComPtr<IFileTag> zero = MakeFakeTag({.texts = {{u"TrackNumber", u"0"}}});
  EXPECT_EQ(GetTrackHint(u"05 Song.mp3", zero.Get()), 5);
  ComPtr<IFileTag> words = MakeFakeTag({.texts = {{u"TrackNumber", u"A1"}}});
  EXPECT_EQ(GetTrackHint(u"05 Song.mp3", words.Get()), 5);
  EXPECT_EQ(GetTrackHint(u"05 Song.mp3", MakeFakeTag().Get()), 5);
}

}  // namespace
}  // namespace pelk::testing
