// The track scorer against a plain computation of its score from the texts it compares, on
// generated discs and files: whatever the scorer keeps between tracks (comparisons whose texts
// did not change, normal forms remembered from earlier scorers, identifiers read once), every score
// of every track must be the one computed from scratch.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control/control_objects.h"
#include "model/track_scorer.h"
#include "runtime/utf.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"
#include "tests/support/plain_similarity.h"
#include "tests/support/random_titles.h"
#include "text/normalize.h"

namespace pelk::testing {
namespace {

using text::TrackScorer;

struct Text {
  std::u16string raw, normalized;
};

Text Plain(std::u16string_view raw) {
  Text text{std::u16string(raw.substr(0, 1023)), {}};
  text.normalized = text::StandardNormalized(text.raw);
  return text;
}

std::u16string StripPlain(const std::u16string& x, const std::u16string& y) {
  if (x.empty() || y.empty()) return x;
  const size_t at = x.find(y);
  if (at != std::u16string::npos) return x.substr(0, at) + x.substr(at + y.size());
  return y.find(x) != std::u16string::npos ? std::u16string() : x;
}

Text Strip(const Text& x, const Text& y) {
  return {StripPlain(x.raw, y.raw), StripPlain(x.normalized, y.normalized)};
}

int32_t Field(const Text& file, const Text& disc) {
  return PlainField(file.raw, file.normalized, disc.raw, disc.normalized);
}

struct File {
  std::u16string path;
  FakeTagData tag;
  bool has_tag = true;
};

std::u16string TagText(const File& file, const char16_t* name) {
  if (!file.has_tag) return {};
  const auto found = file.tag.texts.find(name);
  return found == file.tag.texts.end() ? std::u16string() : found->second;
}

// The score of `track` computed from scratch, as the scorer's contract describes it.
int32_t PlainScore(const FakeDiscData& disc, int32_t track, const File& file, IFileTag* tag) {
  const FakeTrack& t = disc.tracks[track - 1];
  if (!TagText(file, u"Identifier").empty() && TagText(file, u"Identifier") == t.identifier) {
    return 100;
  }
  const Text tag_artist = Plain(TagText(file, u"Artist")),
             tag_album = Plain(TagText(file, u"AlbumTitle")),
             tag_title = Plain(TagText(file, u"Title"));
  const Text disc_artist = Plain(disc.artist), disc_album = Plain(disc.album);
  const Text track_artist = Plain(t.artist.empty() ? disc.artist : t.artist);
  const Text track_title = Plain(t.title);
  const text::ScorerPathParts parts = text::SplitScorerPath(file.path, text::LoginName());
  const Text a = Plain(parts.folder_a), b = Plain(parts.folder_b), f = Plain(parts.file_name);
  const Text a1 = Strip(a, disc_artist), b1 = Strip(b, disc_artist), f1 = Strip(f, disc_artist);
  const Text a2 = Strip(a1, disc_album), b2 = Strip(b1, disc_album), f2 = Strip(f1, disc_album);
  const Text f3 = Strip(f2, track_artist);
  const int32_t artist =
      std::max({Field(tag_artist, disc_artist), Field(b, disc_artist), Field(a, disc_artist),
                Field(f, disc_artist), Field(tag_artist, track_artist), Field(b2, track_artist),
                Field(a2, track_artist), Field(f2, track_artist)});
  const int32_t album = std::max({Field(tag_album, disc_album), Field(b1, disc_album),
                                  Field(a1, disc_album), Field(f1, disc_album)});
  const int32_t title = std::max(Field(tag_title, track_title), Field(f3, track_title));
  int32_t score = (album + title + artist) / 3;
  if (track == text::GetTrackHint(file.path, tag)) score = std::min(score + 10, 100);
  return score;
}

class TrackScorerReferenceTest : public ::testing::Test {
 protected:
  // A disc of 1 to 12 tracks: one artist for all, or some tracks by others; repeated titles.
  FakeDiscData MakeDisc(int number) {
    FakeDiscData disc{.album = titles_.Text(), .artist = titles_.Text()};
    disc.identifier = u"DISC-" + Utf8ToUtf16(std::to_string(number));
    const size_t count = 1 + titles_.Below(12);
    const bool various = titles_.Chance(30);
    for (size_t i = 0; i < count; ++i) {
      FakeTrack track{.title =
                          titles_.Chance(10) && i > 0 ? disc.tracks.back().title : titles_.Text()};
      if (various && titles_.Chance(60)) track.artist = titles_.Variant(disc.artist);
      track.identifier = disc.identifier + u"-T" + Utf8ToUtf16(std::to_string(i + 1));
      disc.tracks.push_back(std::move(track));
    }
    return disc;
  }

  // A file that more or less belongs to `disc`: its tag and path carry variants of its texts.
  File MakeFile(const FakeDiscData& disc) {
    File file;
    const FakeTrack& track = disc.tracks[titles_.Below(disc.tracks.size())];
    const size_t number = &track - disc.tracks.data() + 1;
    file.has_tag = !titles_.Chance(15);
    if (titles_.Chance(80)) file.tag.texts[u"Artist"] = titles_.Variant(disc.artist);
    if (titles_.Chance(80)) file.tag.texts[u"AlbumTitle"] = titles_.Variant(disc.album);
    if (titles_.Chance(80)) file.tag.texts[u"Title"] = titles_.Variant(track.title);
    if (titles_.Chance(40)) file.tag.texts[u"TrackNumber"] = Utf8ToUtf16(std::to_string(number));
    if (titles_.Chance(10)) file.tag.texts[u"Identifier"] = track.identifier;
    const std::u16string name =
        (titles_.Chance(50) ? Utf8ToUtf16(std::to_string(number)) + u" " : u"") +
        (titles_.Chance(30) ? titles_.Variant(disc.artist) + u" - " : u"") +
        titles_.Variant(track.title);
    switch (titles_.Below(4)) {
      case 0:
        file.path = u"";
        break;
      case 1:
        file.path = u"C:\\Music\\" + titles_.Variant(disc.artist) + u"\\" +
                    titles_.Variant(disc.album) + u"\\" + name + u".mp3";
        break;
      default:
        file.path = u"/srv/music/" + titles_.Variant(disc.artist) + u"/" +
                    titles_.Variant(disc.album) + u"/" + name + u".flac";
        break;
    }
    return file;
  }

  std::shared_ptr<FakeLookupControl> fake_ = FakeLookupControl::Create();
  ScopedControlLibrary library_{*fake_};
  RandomTitles titles_{20261208, 0};  // long texts: the measures' own test
};

TEST_F(TrackScorerReferenceTest, EveryTrackScoresAsComputedFromScratch) {
  int scored = 0;
  for (int d = 0; d < 150; ++d) {
    const FakeDisc disc = fake_->AddDisc(MakeDisc(d));
    const int32_t count = static_cast<int32_t>(disc->tracks.size());
    for (int f = 0; f < 2; ++f) {
      const File file = MakeFile(*disc);
      const ComPtr<IFileTag> tag = file.has_tag ? MakeFakeTag(file.tag) : nullptr;
      const int32_t first = 1 + static_cast<int32_t>(titles_.Below(count));
      TrackScorer scorer;
      ASSERT_HR(S_OK,
                scorer.Prepare(MakeFakeDisc({disc, first, true}).Get(), file.path, tag.Get()));
      // Every track, in an order that revisits some, as the best-track search and a caller
      // explaining a score do.
      std::vector<int32_t> order = {first};
      for (int32_t t = 1; t <= count; ++t) order.push_back(t);
      for (int k = 0; k < 4; ++k) order.push_back(1 + static_cast<int32_t>(titles_.Below(count)));
      for (const int32_t t : order) {
        SCOPED_TRACE("disc " + std::to_string(d) + " file \"" + Utf16ToUtf8(file.path) +
                     "\" track " + std::to_string(t));
        ASSERT_HR(S_OK, scorer.SetTrack(t));
        int32_t score = -1;
        ASSERT_HR(S_OK, scorer.Score(&score));
        ASSERT_EQ(score, PlainScore(*disc, t, file, tag.Get()));
        ++scored;
      }
    }
  }
  EXPECT_GT(scored, 2000);
}

TEST_F(TrackScorerReferenceTest, StoreIdentifiersHitOnlyTheirTrackWhileWalkingTracks) {
  FakeDiscData data = MakeDisc(1);
  while (data.tracks.size() < 4) data.tracks.push_back({u"Extra", u"", u"X"});
  const FakeDisc disc = fake_->AddDisc(data);
  const ComPtr<IFileTag> tag = MakeFakeTag({.texts = {{u"Title", u"Zzyzx"}, {u"TrackNumber", u"3"}},
                                            .fields = {{u"iTunes_PELK_IDs", u"9+TOC+DISC-1"}}});
  TrackScorer scorer;
  ASSERT_HR(S_OK, scorer.Prepare(MakeFakeDisc({disc, 1, true}).Get(), u"/x/file.mp3", tag.Get()));
  for (const int32_t t : {1, 3, 2, 3, 4, 3}) {
    ASSERT_HR(S_OK, scorer.SetTrack(t));
    int32_t score = -1;
    ASSERT_HR(S_OK, scorer.Score(&score));
    if (t == 3) {
      EXPECT_EQ(score, 100);
    } else {
      EXPECT_EQ(score,
                PlainScore(*disc, t,
                           {.path = u"/x/file.mp3",
                            .tag = {.texts = {{u"Title", u"Zzyzx"}, {u"TrackNumber", u"3"}}}},
                           tag.Get()))
          << t;
    }
  }
}

}  // namespace
}  // namespace pelk::testing
