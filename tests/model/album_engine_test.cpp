#include <algorithm>
#include <map>
#include <random>

#include "runtime/utf.h"
#include "tests/model/lists_fixture.h"

namespace pelk::testing {
namespace {

using AlbumEngineTest = ListsTest;
using Event = RecordingStatusSink::Event;

TEST_F(AlbumEngineTest, VerdictFollowsTheShareOfVerifiableTracks) {
  auto seed = Candidate(u"/m/1.mp3", blue_, 1, MATCH_TYPE_TXT);
  auto unverifiable = Candidate(u"/m/2.mp3", blue_, 2, MATCH_TYPE_TXT);  // no waveform entry
  auto contradicted = Candidate(u"/m/3.mp3", blue_, 3, MATCH_TYPE_TXT);
  auto l1 = FileList({seed}), l2 = FileList({unverifiable});
  auto l3 = FileList({contradicted, Candidate(u"/m/3.mp3", court_, 1, MATCH_TYPE_WF)});
  ComPtr<IPelkFileInfoList> album;

  // Builds seed's album over these files' lists, every record unplaced but the seed.
  auto build = [&](std::initializer_list<ComPtr<CPelkFileInfoList>> files, int32_t* code) {
    auto albums = AlbumsOf(Collection(files).Get());
    albums->SetResultsListDiscMatches(false);
    seed->SetTaken(true);
    return albums->BuildAlbumMatch(seed.Get(), album.Out(), code);
  };

  // 3 distinct tracks, 2 of them unverifiable: (3 - 2) x 100 / 3 = 33, fuzzy.
  int32_t code = 2;
  ASSERT_HR(S_OK, build({l1, l2, l3}, &code));
  EXPECT_EQ(code, 2);
  EXPECT_EQ(Records(album.Get()),
            (std::vector<CPelkFileInfo*>{seed.Get(), unverifiable.Get(), contradicted.Get()}));
  EXPECT_TRUE(unverifiable->Taken() && contradicted->Taken());

  // 2 distinct tracks, 1 unverifiable: 50 is not below 50, rejected; everything is released.
  code = 2;
  ASSERT_HR(S_OK, build({l1, l3}, &code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(CountOf(album.Get()), 0);
  EXPECT_FALSE(seed->Taken() || contradicted->Taken());

  // A confirmed seed verifies nothing: a member without a tag (which cannot be verified) joins.
  auto untagged = FileList({OnDisc(blue_, 4, MATCH_TYPE_TXT, SONQUIX_MATCH_FUZZY, u"/m/4.mp3")});
  code = 1;
  ASSERT_HR(S_OK, build({l1, l3, untagged}, &code));
  EXPECT_EQ(code, 1);
  EXPECT_EQ(CountOf(album.Get()), 3);
  code = 0;  // asked to verify it, the same album fails
  EXPECT_HR(E_FAIL, build({l1, l3, untagged}, &code));

  // A waveform member confirms the album.
  code = 0;
  ASSERT_HR(S_OK,
            build({l1, l3, FileList({Candidate(u"/m/5.mp3", blue_, 5, MATCH_TYPE_WF)})}, &code));
  EXPECT_EQ(code, 1);
  EXPECT_EQ(CountOf(album.Get()), 3);
}

TEST_F(AlbumEngineTest, PlacementPerTrackAndPerFile) {
  // The seed sits on track 9 of an album of 8 tracks: it grows the album but is not in it.
  auto seed = Candidate(u"/m/seed.mp3", blue_, 9, MATCH_TYPE_TXT);
  auto seed_other = Candidate(u"/m/seed.mp3", blue_, 7, MATCH_TYPE_TXT);  // its own file
  auto a2 = Candidate(u"/m/a.mp3", blue_, 2, MATCH_TYPE_TXT);
  auto b5 = Candidate(u"/m/b.mp3", blue_, 5, MATCH_TYPE_TXT);
  auto c5 = Candidate(u"/m/c.mp3", blue_, 5, MATCH_TYPE_TXT);
  auto d6 = Candidate(u"/m/d.mp3", blue_, 6, MATCH_TYPE_TXT, false);
  auto e6 = Candidate(u"/m/e.mp3", blue_, 6, MATCH_TYPE_TXT);
  auto f_high = Candidate(u"/m/f.mp3", blue_, 150, MATCH_TYPE_TXT);
  auto f_low = Candidate(u"/m/f.mp3", blue_, -1, MATCH_TYPE_TXT);
  auto f8 = Candidate(u"/m/f.mp3", blue_, 8, MATCH_TYPE_TXT);
  auto g3 = Candidate(u"/m/g.mp3", blue_, 3, MATCH_TYPE_TXT);
  ASSERT_EQ(ScoreOf(b5.Get()), ScoreOf(c5.Get()));
  ASSERT_GT(ScoreOf(e6.Get()), ScoreOf(d6.Get()));
  auto results = Collection({FileList({seed, seed_other}),
                             FileList({Candidate(u"/m/a.mp3", court_, 1, 8), a2}), FileList({b5}),
                             FileList({c5}), FileList({d6}), FileList({e6}),
                             FileList({f_high, f_low, f8}), FileList({g3})});
  g3->SetTaken(true);  // placed elsewhere already

  int32_t code = 1;
  ComPtr<IPelkFileInfoList> album;
  ASSERT_HR(S_OK, AlbumsOf(results.Get())->BuildAlbumMatch(seed.Get(), album.Out(), &code));
  // Equal scores keep the first placed (b5); a better score displaces the holder (d6).
  EXPECT_EQ(Records(album.Get()),
            (std::vector<CPelkFileInfo*>{a2.Get(), b5.Get(), e6.Get(), f8.Get()}));
  EXPECT_EQ(code, 1);
  for (const auto& placed : {a2, b5, e6, f8}) EXPECT_TRUE(placed->Taken());
  for (const auto& free : {seed_other, c5, d6, f_high, f_low}) EXPECT_FALSE(free->Taken());
}

TEST_F(AlbumEngineTest, BuildAlbumListsGroupsEveryFile) {
  auto a2 = Candidate(u"/m/a.mp3", blue_, 2, MATCH_TYPE_TXT, false);
  auto b2 = Candidate(u"/m/b.mp3", blue_, 2, MATCH_TYPE_TXT);
  auto failed = ErrorList(u"/m/c.mp3");
  auto unmatched = Named(u"/m/d.mp3");
  auto album_level = Candidate(u"/m/e.mp3", court_, 1, MATCH_TYPE_TXT_ALBUM_LEVEL);
  auto results = Collection(
      {FileList({a2}), FileList({b2}), failed, FileList({unmatched}), FileList({album_level})});
  auto albums = AlbumsOf(results.Get());
  albums->AddFileInfoList(FileList({Named(u"/m/old.mp3")}).Get());  // a rebuild starts empty
  RecordingStatusSink sink;
  ASSERT_HR(S_OK, albums->BuildAlbumLists(&sink));

  // b2 displaces the seed a2, which is then examined again and seeds an album of its own.
  const auto lists = albums->Lists();
  ASSERT_EQ(lists.size(), 5u);
  EXPECT_EQ(Records(lists[0].Get()), std::vector<CPelkFileInfo*>{b2.Get()});
  EXPECT_EQ(Records(lists[1].Get()), std::vector<CPelkFileInfo*>{a2.Get()});
  EXPECT_EQ(Records(lists[2].Get()), std::vector<CPelkFileInfo*>{album_level.Get()});
  EXPECT_EQ(Records(lists[3].Get()), std::vector<CPelkFileInfo*>{unmatched.Get()});
  EXPECT_EQ(lists[4].Get(), failed.Get());  // the failed file's own list, once
  const std::vector<int32_t> codes = {CodeOf(lists[0].Get()), CodeOf(lists[1].Get()),
                                      CodeOf(lists[2].Get()), CodeOf(lists[3].Get())};
  EXPECT_EQ(codes, (std::vector<int32_t>{LIST_MATCH_ALBUM_MULTIPLE, LIST_MATCH_ALBUM_MULTIPLE,
                                         LIST_MATCH_NONE, LIST_MATCH_NONE}));
  ASSERT_EQ(sink.events.size(), 5u);
  EXPECT_EQ(sink.events[0], Event(STATUS_ALBUMID_Processing, u"/m/a.mp3", 1, 5));
  EXPECT_EQ(sink.events[4], Event(STATUS_ALBUMID_Processing, u"/m/e.mp3", 5, 5));

  // An Abort answer ends the rebuild at once.
  RecordingStatusSink aborting;
  aborting.abort_at = 2;
  EXPECT_HR(E_ABORT, albums->BuildAlbumLists(&aborting));
  EXPECT_EQ(aborting.events.size(), 2u);
}

TEST_F(AlbumEngineTest, AcceptingAnAlbumRefillsTheOthers) {
  auto x_court = Candidate(u"/m/x.mp3", court_, 1, MATCH_TYPE_TXT);
  auto x3 = Candidate(u"/m/x.mp3", blue_, 3, MATCH_TYPE_TXT);
  auto b5 = Candidate(u"/m/b.mp3", blue_, 5, MATCH_TYPE_TXT);
  auto b3 = Candidate(u"/m/b.mp3", blue_, 3, MATCH_TYPE_TXT);
  auto c3_low = Candidate(u"/m/c.mp3", blue_, 3, MATCH_TYPE_TXT, false);
  auto c3 = Candidate(u"/m/c.mp3", blue_, 3, MATCH_TYPE_TXT);
  auto lx = FileList({x_court, x3}), lb = FileList({b5, b3}), lc = FileList({c3_low, c3});
  auto results = Collection({lx, lb, lc});
  for (const auto& placed : {x_court, x3, b5}) placed->SetTaken(true);
  auto accepted = FileList({x_court}, LIST_MATCH_ALBUM_MULTIPLE);
  auto other = FileList({x3, b5}, LIST_MATCH_ALBUM_MULTIPLE);
  auto albums = AlbumsOf(results.Get());
  albums->AddFileInfoList(accepted.Get());
  albums->AddFileInfoList(other.Get());
  auto sink = std::make_shared<RecordingStatusSink>();
  ASSERT_HR(S_OK, albums->SetOwnerManager(sink));

  ASSERT_HR(S_OK, albums->RemoveMatchAndFiles(1));
  EXPECT_EQ(ListOrder(results.Get()), (std::vector<IPelkFileInfoList*>{lb.Get(), lc.Get()}));
  EXPECT_EQ(ListOrder(albums.Get()), std::vector<IPelkFileInfoList*>{other.Get()});
  // x's track goes to the best free candidate of a file not yet in the album (b is: its b3
  // would put it there twice), and the album is in track order again.
  EXPECT_EQ(Records(other.Get()), (std::vector<CPelkFileInfo*>{c3.Get(), b5.Get()}));
  EXPECT_TRUE(c3->Taken());
  EXPECT_FALSE(c3_low->Taken() || b3->Taken());
  EXPECT_EQ(sink->events, std::vector<Event>{Event(STATUS_ALBUMID_Processed, u"/m/x.mp3", 1, 3)});

  // The sink is held weakly: once its owner is gone, acceptance goes on without events.
  sink.reset();
  ASSERT_HR(S_OK, albums->RemoveMatchAndFiles(1));
  EXPECT_EQ(CountOf(albums.Get()), 0);
  EXPECT_EQ(CountOf(results.Get()), 0);
  EXPECT_EQ(albums->ProcessedCount(), 1);
}

TEST_F(AlbumEngineTest, AcceptanceEdgeCases) {
  auto x = Candidate(u"/m/x.mp3", blue_, 1, MATCH_TYPE_TXT);
  auto results = Collection({FileList({x})});
  auto empty = MakeObject<CPelkFileInfoList>();
  auto match = FileList({x}, LIST_MATCH_ALBUM_MULTIPLE);
  auto albums = AlbumsOf(results.Get());
  albums->AddFileInfoList(empty.Get());
  albums->AddFileInfoList(match.Get());
  // An empty list stays where it is.
  EXPECT_HR(S_OK, albums->RemoveMatchAndFiles(1));
  EXPECT_EQ(CountOf(albums.Get()), 2);
  // An Abort answer leaves the accepted list in place.
  auto sink = std::make_shared<RecordingStatusSink>();
  sink->abort_at = 1;
  albums->SetOwnerManager(sink);
  EXPECT_HR(E_ABORT, albums->RemoveMatchAndFiles(2));
  EXPECT_EQ(ListOrder(albums.Get()), (std::vector<IPelkFileInfoList*>{empty.Get(), match.Get()}));
  // Without query results the list is simply removed, and the empty one with the ranking.
  auto plain = Collection({empty, match});
  ASSERT_HR(S_OK, plain->RemoveMatchAndFiles(2));
  EXPECT_EQ(CountOf(plain.Get()), 0);
}

// A catalogue that numbers tracks beyond the count it reports (15 of them, numbered up to 24),
// as discs built from partial albums were. The engine must still hand back every file.
class AlbumConservationTest : public ListsTest {
 public:
  AlbumConservationTest() {
    FakeDiscData partial{.album = u"Partial", .artist = u"Gap Band", .identifier = u"DISC-GAP"};
    for (int32_t t = 1; t <= 24; ++t) {
      partial.tracks.push_back({u"Gap Song " + std::u16string(1, static_cast<char16_t>(u'A' + t))});
    }
    partial.track_count = 15;
    partial_ = fake_->AddDisc(std::move(partial));
  }

  // Accepts the first list until none is left, as single-answer selection does, and counts how
  // often each file is answered.
  static std::map<std::u16string, int> AcceptAll(CPelkFileInfoLists* albums) {
    std::map<std::u16string, int> answered;
    for (int guard = 0; CountOf(albums) > 0 && guard < 1000; ++guard) {
      ComPtr<IPelkFileInfoList> first;
      EXPECT_HR(S_OK, albums->GetFileInfoList(1, first.Out()));
      for (CPelkFileInfo* record : Records(first.Get())) {
        Bstr name;
        record->get_Filename(name.Out());
        ++answered[std::u16string(name.View())];
      }
      EXPECT_HR(S_OK, albums->RemoveMatchAndFiles(1));
    }
    return answered;
  }
  static std::u16string File(int32_t n) {
    return u"/m/" + Utf8ToUtf16(std::to_string(n)) + u".mp3";
  }

  FakeDisc partial_;
};

TEST_F(AlbumConservationTest, TracksBeyondTheCountComeBackOnTheirOwn) {
  // Tracks 2 and 6-15 are in the disc's table, 21-24 lie beyond its count of 15.
  std::vector<ComPtr<CPelkFileInfoList>> files;
  std::vector<int32_t> tracks = {2, 21, 22, 23, 24};
  for (int32_t t = 6; t <= 15; ++t) tracks.push_back(t);
  for (int32_t t : tracks)
    files.push_back(FileList({Candidate(File(t), partial_, t, MATCH_TYPE_WF)}));
  auto results = MakeObject<CPelkFileInfoLists>();
  for (const auto& f : files) results->AddFileInfoList(f.Get());
  auto albums = AlbumsOf(results.Get());
  RecordingStatusSink sink;
  ASSERT_HR(S_OK, albums->BuildAlbumLists(&sink));

  // The album holds the eleven tracks of its table; each later track stands alone.
  const auto lists = albums->Lists();
  ASSERT_EQ(lists.size(), 5u);
  EXPECT_EQ(CodeOf(lists[0].Get()), LIST_MATCH_ALBUM_MULTIPLE);
  EXPECT_EQ(CountOf(ImplOf<CPelkFileInfoList>(lists[0].Get()).Get()), 11);
  std::vector<int32_t> alone;
  for (size_t i = 1; i < lists.size(); ++i) {
    ASSERT_EQ(Records(lists[i].Get()).size(), 1u);
    int32_t track = 0;
    Records(lists[i].Get())[0]->get_TrackNum(&track);
    alone.push_back(track);
    EXPECT_EQ(CodeOf(lists[i].Get()), LIST_MATCH_NONE);
  }
  std::sort(alone.begin(), alone.end());
  EXPECT_EQ(alone, (std::vector<int32_t>{21, 22, 23, 24}));

  // A single such file is not lost either.
  auto lone = MakeObject<CPelkFileInfoLists>();
  lone->AddFileInfoList(FileList({Candidate(File(21), partial_, 21, MATCH_TYPE_WF)}).Get());
  auto lone_albums = AlbumsOf(lone.Get());
  ASSERT_HR(S_OK, lone_albums->BuildAlbumLists(&sink));
  ASSERT_EQ(CountOf(lone_albums.Get()), 1);
}

TEST_F(AlbumConservationTest, EveryFileIsAnsweredExactlyOnce) {
  const std::vector<FakeDisc> discs = {blue_, court_, partial_};
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    std::mt19937 random(seed);
    auto pick = [&](int32_t n) {
      return static_cast<int32_t>(random() % static_cast<uint32_t>(n));
    };
    std::vector<ComPtr<CPelkFileInfoList>> files;
    const int32_t file_count = 3 + pick(25);
    for (int32_t f = 0; f < file_count; ++f) {
      const std::u16string name = File(f);
      const int32_t kind = pick(10);
      if (kind == 0) {
        files.push_back(ErrorList(name));
      } else if (kind == 1) {
        files.push_back(FileList({Named(name)}, LIST_MATCH_NONE));  // no candidate at all
      } else if (kind == 2) {
        auto no_disc = Named(name);  // a candidate whose disc cannot be read
        no_disc->put_MatchType(MATCH_TYPE_TXT);
        files.push_back(FileList({no_disc}));
      } else {
        std::vector<ComPtr<CPelkFileInfo>> candidates;
        for (int32_t c = 0, n = 1 + pick(3); c < n; ++c) {
          const FakeDisc& disc = discs[static_cast<size_t>(pick(3))];
          // Track 0, tracks beyond the count and the table's end all occur.
          const int32_t track =
              pick(8) == 0 ? pick(120) : 1 + pick(static_cast<int32_t>(disc->tracks.size()));
          const int32_t type = pick(4) == 0 ? MATCH_TYPE_WF : MATCH_TYPE_TXT;
          candidates.push_back(Candidate(name, disc, track, type, pick(2) == 0));
        }
        auto list = MakeObject<CPelkFileInfoList>();
        for (const auto& c : candidates) list->AddFileInfo(c.Get());
        list->SetListMatchCode(LIST_MATCH_TRACK_MULTIPLE);
        files.push_back(list);
      }
    }
    std::shuffle(files.begin(), files.end(), random);
    auto results = MakeObject<CPelkFileInfoLists>();
    for (const auto& f : files) results->AddFileInfoList(f.Get());
    auto albums = AlbumsOf(results.Get());
    RecordingStatusSink sink;
    ASSERT_HR(S_OK, albums->BuildAlbumLists(&sink)) << "seed " << seed;

    const std::map<std::u16string, int> answered = AcceptAll(albums.Get());
    EXPECT_EQ(answered.size(), static_cast<size_t>(file_count)) << "seed " << seed;
    for (const auto& [name, times] : answered) {
      EXPECT_EQ(times, 1) << Utf16ToUtf8(name) << ", seed " << seed;
    }
  }
}

}  // namespace
}  // namespace pelk::testing
