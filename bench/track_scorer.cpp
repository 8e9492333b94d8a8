// The cost of one best-track search (GetBestTrackNumForDisc) of a record against a 20-track
// disc, as album association runs it for every file it examines: the lookup control is the
// in-memory fake, so the figure is the record's and the scorer's own work.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "control/control_objects.h"
#include "model/file_info.h"
#include "runtime/utf.h"
#include "tests/support/fake_control.h"

namespace {

using namespace pelk;
using namespace pelk::testing;

struct Fixture {
  Fixture() {
    static int handle;
    SetControlGetters(&handle, &FakeControlGetObject, nullptr);
    SetControlFallbackDisabled(1);
    FakeDiscData data{.album = u"Songs of a Long Winter", .artist = u"The Lantern Keepers"};
    const char* titles[] = {
        "Harbour Lights",     "Northbound",        "A Case of Snow",  "Glass and Iron",
        "Paper Moon Parade",  "Old Coats",         "The Night Ferry", "Small Hours",
        "Lighthouse Song",    "Rivers in Reverse", "Tin Roof Waltz",  "Kettle Black",
        "Fireside (Reprise)", "December Road",     "Holloway",        "Salt on the Window",
        "Winter Quarters",    "Long Division",     "Homecoming",      "Last Train Out"};
    for (const char* title : titles) data.tracks.push_back({Utf8ToUtf16(title)});
    disc = MakeFakeDisc({std::make_shared<const FakeDiscData>(data), 1, true});
    // The same disc under many editions, every text its own, more than the scorer remembers.
    for (int edition = 0; edition < kEditions; ++edition) {
      FakeDiscData copy = data;
      const std::u16string mark = u" " + Utf8ToUtf16(std::to_string(100 + edition));
      copy.album += mark;
      copy.artist += mark;
      for (FakeTrack& track : copy.tracks) track.title += mark;
      editions.push_back(MakeFakeDisc({std::make_shared<const FakeDiscData>(copy), 1, true}));
    }
  }
  static constexpr int kEditions = 1000;
  ComPtr<IDiscInfo> disc;
  std::vector<ComPtr<IDiscInfo>> editions;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

ComPtr<CPelkFileInfo> Record(const char16_t* path, ComPtr<IFileTag> tag) {
  auto record = MakeObject<CPelkFileInfo>();
  Bstr name(path);
  record->put_Filename(name.Get());
  record->put_OrigTag(tag.Get());
  return record;
}

void Search(benchmark::State& state, CPelkFileInfo* record) {
  IDiscInfo* disc = Shared().disc.Get();
  int32_t track = 0, score = 0;
  for (auto _ : state) {
    record->GetBestTrackNumForDisc(disc, &track, &score);
    benchmark::DoNotOptimize(track);
  }
  state.counters["track"] = track;
  state.counters["score"] = score;
}

ComPtr<IFileTag> TypicalTag(const char16_t* track_number) {
  return MakeFakeTag({.texts = {{u"Artist", u"Lantern Keepers"},
                                {u"AlbumTitle", u"Songs of a Long Winter (Remastered)"},
                                {u"Title", u"Last Train Out - Live"},
                                {u"TrackNumber", track_number}}});
}

// A tagged file with its track number: the hinted track scores 100 and ends the search.
void BM_BestTrackHintHit(benchmark::State& state) {
  Shared();
  auto record = Record(u"/srv/music/Lantern Keepers/Songs of a Long Winter/20 Last Train Out.mp3",
                       TypicalTag(u"20/20"));
  Search(state, record.Get());
}
BENCHMARK(BM_BestTrackHintHit);

// The same file without a track number anywhere: all 20 tracks are scored.
void BM_BestTrackFullSearch(benchmark::State& state) {
  Shared();
  auto record = Record(u"/srv/music/Lantern Keepers/Songs of a Long Winter/Last Train Out.mp3",
                       TypicalTag(u""));
  Search(state, record.Get());
}
BENCHMARK(BM_BestTrackFullSearch);

// The full search against a disc whose texts the scorer has not met before (a new disc each
// time), as when one file is compared with its candidate discs.
void BM_BestTrackFullSearchNewDisc(benchmark::State& state) {
  Fixture& fixture = Shared();
  auto record = Record(u"/srv/music/Lantern Keepers/Songs of a Long Winter/Last Train Out.mp3",
                       TypicalTag(u""));
  int32_t track = 0, score = 0;
  size_t next = 0;
  for (auto _ : state) {
    record->GetBestTrackNumForDisc(fixture.editions[next].Get(), &track, &score);
    next = (next + 1) % fixture.editions.size();
    benchmark::DoNotOptimize(track);
  }
  state.counters["track"] = track;
  state.counters["score"] = score;
}
BENCHMARK(BM_BestTrackFullSearchNewDisc);

// An untagged file known only by its path.
void BM_BestTrackPathOnly(benchmark::State& state) {
  Shared();
  auto record = Record(
      u"/srv/music/The Lantern Keepers/Songs of a Long Winter/"
      u"The Lantern Keepers - Last Train Out.flac",
      MakeFakeTag());
  Search(state, record.Get());
}
BENCHMARK(BM_BestTrackPathOnly);

}  // namespace
