// The word index: it answers as the trigram search does where both should answer (on every
// backend), it stays in step when discs are replaced, and lookups fall back to trigrams when no
// word of the query is in it. A catalogue file written without it gets it when opened (and has
// it rebuilt after a program without it wrote tracks).
#include "catalog/word_index.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "catalog/catalog_store.h"
#include "catalog/index_words.h"
#include "catalog/matching.h"
#include "runtime/utf.h"
#include "tests/catalog/store_backends.h"
#include "tests/support/pcm_synth.h"
#include "text/normalize.h"

namespace pelk::catalog {
namespace {

// Runs SQL on the file through a connection of its own, as another program would.
void Sql(const std::filesystem::path& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
  EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "") << " in " << sql;
  sqlite3_free(message);
  sqlite3_close(db);
}

// Lays the file back to what a program without the word index writes.
void DropWordIndex(const std::filesystem::path& path) {
  Sql(path,
      "DROP TABLE track_words; DROP TRIGGER track_words_stale_insert; "
      "DROP TRIGGER track_words_stale_delete; DROP TRIGGER track_words_stale_track; "
      "DROP TRIGGER track_words_stale_disc; DELETE FROM meta WHERE key = 'word_index'");
}

std::vector<DiscRecord> SmallCatalogue() {
  DiscRecord blue{.identifier = "D-BLUE", .album = "Blue", .artist = "Joni Mitchell"};
  blue.tracks = {{.number = 1, .title = "All I Want", .identifier = "T-B1"},
                 {.number = 3, .title = "Little Green", .identifier = "T-B3"}};
  DiscRecord other{.identifier = "D-OTHER", .album = "Losing Streak", .artist = "R.E.M."};
  other.tracks = {{.number = 1, .title = "Losing My Religion", .identifier = "T-O1"},
                  {.number = 2, .title = "Nightswimming", .identifier = "T-O2"}};
  return {blue, other};
}

std::unique_ptr<CatalogStore> OpenStore(const std::filesystem::path& path) {
  std::string error;
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, &error);
  EXPECT_TRUE(store) << error;
  return store;
}

// Tracks whose column holds every word of the text, as it is normalized.
size_t WordHits(CatalogStore& store, WordColumn column, std::u16string_view text) {
  const std::vector<std::string> words = IndexWords(Utf16ToUtf8(text::StandardNormalized(text)));
  EXPECT_FALSE(words.empty());
  return store.WordCandidates(AllWordsIn(column, words), 10).size();
}

TEST(WordIndexTest, WordsAreSplitAsTheIndexSplitsThem) {
  EXPECT_EQ(IndexWords("abc def-ghi 12 \xC3\xBC"
                       "ber"),
            (std::vector<std::string>{"abc", "def", "ghi", "12",
                                      "\xC3\xBC"
                                      "ber"}));
  EXPECT_TRUE(IndexWords(" - ").empty());
  EXPECT_EQ(FtsMatch(AllButOneWordIn(WordColumn::kTitle, {"a", "b", "c"})),
            "title : ((\"b\" AND \"c\") OR (\"a\" AND \"c\") OR (\"a\" AND \"b\"))");
  EXPECT_TRUE(AllButOneWordIn(WordColumn::kTitle, {"only"}).empty());
  // Clauses hold together; a prefix word keeps its star outside the quotes, and a quote inside a
  // word cannot end the string.
  EXPECT_EQ(FtsMatch(Both(AllWordsIn(WordColumn::kArtist, {"x", "y*"}),
                          AllWordsIn(WordColumn::kTitleKey, {"a\"b"}))),
            "artist : (\"x\" AND \"y\"*) AND title_key : (\"a\"\"b\")");
  EXPECT_TRUE(Both(AllWordsIn(WordColumn::kTitle, {"a"}), {}).empty());
  // The exact-title key is one token whatever separated the words.
  EXPECT_EQ(TitleKey("little-green  12"),
            "little\xC2\xB7green\xC2\xB7"
            "12");
  EXPECT_EQ(IndexWords(TitleKey("little-green  12")).size(), 1u);
  EXPECT_TRUE(TitleKey(" ").empty());
}

TEST(WordIndexTest, ACatalogueWithoutTheWordIndexGetsItWhenOpened) {
  testing::ScopedTempFile file("catalog.db");
  {
    auto store = OpenStore(file.path());
    ASSERT_TRUE(store->AddDiscs(SmallCatalogue(), nullptr));
  }
  DropWordIndex(file.path());
  auto store = OpenStore(file.path());
  ASSERT_TRUE(store->HasWordIndex());
  EXPECT_EQ(WordHits(*store, WordColumn::kTitle, u"little green"), 1u);
  EXPECT_EQ(WordHits(*store, WordColumn::kArtist, u"rem"), 2u);
  // The rebuilt index is kept in step by the next writes.
  DiscRecord more{.identifier = "D-MORE", .album = "Court", .artist = "Joni Mitchell"};
  more.tracks = {{.number = 1, .title = "Help Me", .identifier = "T-M1"}};
  ASSERT_TRUE(store->AddDiscs({more}, nullptr));
  EXPECT_TRUE(store->HasWordIndex());
  EXPECT_EQ(WordHits(*store, WordColumn::kArtist, u"joni mitchell"), 3u);
}

TEST(WordIndexTest, TracksWrittenWithoutTheIndexMakeItStaleUntilReopened) {
  testing::ScopedTempFile file("catalog.db");
  auto store = OpenStore(file.path());
  ASSERT_TRUE(store->AddDiscs(SmallCatalogue(), nullptr));
  // An older program adds a track to the trigram table only.
  Sql(file.path(),
      "INSERT INTO tracks(id, disc_id, number, title, identifier) "
      "SELECT 99, id, 5, 'Carey', 'T-B5' FROM discs WHERE identifier = 'D-BLUE'; "
      "INSERT INTO track_text(rowid, artist, album, title) "
      "VALUES (99, 'joni mitchell', 'blue', 'carey')");
  EXPECT_FALSE(store->HasWordIndex());
  // Lookups meanwhile use the trigrams, which hold the new track.
  MatchAnswer answer = MatchText(*store, {.title = u"Carey", .artist = u"Joni Mitchell"});
  ASSERT_EQ(answer.kind, 3);
  EXPECT_EQ(answer.matches[0].track, 5);
  store.reset();
  store = OpenStore(file.path());
  ASSERT_TRUE(store->HasWordIndex());
  EXPECT_EQ(WordHits(*store, WordColumn::kTitle, u"carey"), 1u);
}

class WordLookupTest : public BackendTest {};
INSTANTIATE_ON_EVERY_BACKEND(WordLookupTest);

TEST_P(WordLookupTest, ReplacingADiscReplacesItsWords) {
  auto store = OpenStore();
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->AddDiscs(SmallCatalogue(), nullptr));
  DiscRecord blue{.identifier = "D-BLUE", .album = "Blue", .artist = "Joni Mitchell"};
  blue.tracks = {{.number = 2, .title = "California", .identifier = "T-NEW2"}};
  ASSERT_TRUE(store->AddDiscs({blue}, nullptr, /*replace=*/true));
  ASSERT_TRUE(store->HasWordIndex());
  EXPECT_EQ(WordHits(*store, WordColumn::kTitle, u"little green"), 0u);
  EXPECT_EQ(WordHits(*store, WordColumn::kTitle, u"california"), 1u);
  EXPECT_EQ(WordHits(*store, WordColumn::kArtist, u"joni"), 1u);
  // The words a replaced track held are no words of the catalogue any more.
  EXPECT_FALSE(store->HasWord(WordColumn::kTitle, "little"));
  EXPECT_FALSE(store->HasWord(WordColumn::kTitle, "litt*"));
  EXPECT_TRUE(store->HasWord(WordColumn::kTitle, "califo*"));
  store.reset();
  if (GetParam() == Backend::kSqlite) {
    Sql(Location(), "INSERT INTO track_words(track_words) VALUES ('integrity-check')");
  }
}

TEST_P(WordLookupTest, NoKnownWordFallsBackToTrigrams) {
  auto store = OpenStore();
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->AddDiscs(SmallCatalogue(), nullptr));
  // Neither word of "Night Swimming" is in the index (nor begins a word there), but both are
  // parts of one word that the trigrams find.
  ASSERT_FALSE(store->HasWord(WordColumn::kTitle, "night"));
  ASSERT_FALSE(store->HasWord(WordColumn::kTitle, "swiming*"));
  MatchAnswer answer = MatchText(*store, {.title = u"Night Swimming"});
  ASSERT_FALSE(answer.matches.empty());
  EXPECT_EQ(answer.matches[0].track, 2);
  // A word cut short at the end of a title is taken as the beginning of a word.
  answer = MatchText(*store, {.title = u"Little Gre", .artist = u"Joni Mitchell"});
  ASSERT_EQ(answer.kind, 3);
  EXPECT_EQ(answer.matches[0].track, 3);
  EXPECT_EQ(MatchText(*store, {.title = u"Completely Unrelated"}).kind, 1);
}

// A few thousand tracks with titles, artists and albums from a word list.
class WordAgreementTest : public BackendTest {
 protected:
  struct Truth {
    std::string title, artist, album;
    int64_t disc = 0;
    int32_t track = 0;
  };

  void SetUp() override {
    BackendTest::SetUp();
    if (HasFatalFailure()) return;
    std::mt19937 rng(11);
    const char* parts[] = {"mar", "tel", "ori", "van", "sud", "kel", "bra", "lum", "dos", "fin",
                           "gar", "hol", "ist", "jun", "pel", "rou", "sta", "vil", "wen", "zor"};
    std::vector<std::string> vocabulary;
    for (const char* a : parts) {
      for (const char* b : parts) vocabulary.push_back(std::string(a) + b);
    }
    auto phrase = [&](int words) {
      std::string text;
      for (int i = 0; i < words; ++i) {
        text += (i ? " " : "") + vocabulary[rng() % vocabulary.size()];
      }
      return text;
    };
    std::vector<std::string> artists;
    for (int a = 0; a < 60; ++a) artists.push_back(phrase(2));
    std::vector<DiscRecord> discs;
    for (int d = 0; d < 300; ++d) {
      DiscRecord disc{.identifier = "D" + std::to_string(d),
                      .album = phrase(1 + static_cast<int>(rng() % 2)),
                      .artist = artists[rng() % artists.size()]};
      for (int t = 1; t <= 10; ++t) {
        disc.tracks.push_back({.number = t,
                               .title = phrase(2 + static_cast<int>(rng() % 3)),
                               .identifier = "T" + std::to_string(d) + "-" + std::to_string(t)});
        ++titles_[disc.tracks.back().title];
      }
      discs.push_back(std::move(disc));
    }
    store_ = OpenStore();
    ASSERT_TRUE(store_);
    ASSERT_TRUE(store_->AddDiscs(discs, nullptr));
    for (size_t d = 0; d < discs.size(); d += 3) {
      const TrackRecord& t = discs[d].tracks[d % 10];
      if (titles_[t.title] > 1) continue;  // equal titles may tie, in either order
      sample_.push_back({t.title, discs[d].artist, discs[d].album,
                         store_->DiscByIdentifier(discs[d].identifier)->id, t.number});
    }
  }

  std::unique_ptr<CatalogStore> store_;
  std::map<std::string, int> titles_;
  std::vector<Truth> sample_;
};

INSTANTIATE_ON_EVERY_BACKEND(WordAgreementTest);

TEST_P(WordAgreementTest, WordsAndTrigramsGiveTheSameAnswers) {
  ASSERT_TRUE(store_->HasWordIndex());
  ASSERT_GE(sample_.size(), 90u);
  for (const Truth& t : sample_) {
    const std::u16string title = Utf8ToUtf16(t.title), artist = Utf8ToUtf16(t.artist),
                         album = Utf8ToUtf16(t.album);
    char number[4];
    std::snprintf(number, sizeof number, "%02d", t.track);
    const std::u16string file =
        Utf8ToUtf16("/m/" + t.artist + "/" + t.album + "/" + number + " " + t.title + ".mp3");
    for (const TextQuery& q :
         {TextQuery{title, artist, album, {}}, TextQuery{title, artist, {}, {}},
          TextQuery{title, {}, {}, {}}, TextQuery{{}, {}, {}, file}}) {
      const MatchAnswer words = MatchText(*store_, q, TextSearch::kWords);
      const MatchAnswer trigrams = MatchText(*store_, q, TextSearch::kTrigramsOnly);
      SCOPED_TRACE(t.title + " / " + Utf16ToUtf8(q.artist) + " / " + Utf16ToUtf8(q.file_name));
      ASSERT_EQ(words.kind, trigrams.kind);
      ASSERT_FALSE(words.matches.empty());
      EXPECT_EQ(words.matches[0].disc_id, trigrams.matches[0].disc_id);
      EXPECT_EQ(words.matches[0].track, trigrams.matches[0].track);
      EXPECT_EQ(words.matches[0].score, trigrams.matches[0].score);
      EXPECT_EQ(words.matches[0].disc_id, t.disc);
      EXPECT_EQ(words.matches[0].track, t.track);
    }
  }
}

}  // namespace
}  // namespace pelk::catalog
