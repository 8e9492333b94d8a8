// Sorting one file's candidate list of 200 records by match quality, as single-file
// identification orders its candidates before handing them back. The first sort scores every
// record (the track scorer runs 200 times); a second sort of the same records uses their cached
// scores. The lookup control is the in-memory fake, so the figures are the list's, the
// records' and the scorer's own work.
#include "model/file_info_list.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>

#include "control/control_objects.h"
#include "control/current_control.h"
#include "runtime/utf.h"
#include "tests/support/fake_control.h"

namespace {

using namespace pelk;
using namespace pelk::testing;

std::shared_ptr<FakeLookupControl>& Fake() {
  static std::shared_ptr<FakeLookupControl> fake = FakeLookupControl::Create();
  return fake;
}
ComPtr<ILookupControl> SharedControl() { return Fake()->Control(); }

std::u16string Text(const std::string& text) { return Utf8ToUtf16(text); }

// 20 discs of 10 tracks, one candidate per track, in a shuffled order: a mix of waveform and
// text matches, compilations, certified levels and release ranks, all for one tagged file.
struct Candidates {
  Candidates() {
    static int handle;
    SetControlGetters(&handle, &FakeControlGetObject, nullptr);
    SetControlFallbackDisabled(1);
    Fake()->InstallAsLibrary();
    SetLookupControlSource(&SharedControl);
    const char* words[] = {"Harbour", "Lights", "Northbound", "Glass", "Iron",   "Paper",
                           "Moon",    "Parade", "Ferry",      "Hours", "Winter", "Road"};
    ComPtr<IFileTag> own = MakeFakeTag({.texts = {{u"Artist", u"The Lantern Keepers"},
                                                  {u"AlbumTitle", u"Songs of a Long Winter"},
                                                  {u"Title", u"Night Ferry"}}});
    const int32_t types[] = {MATCH_TYPE_WF, MATCH_TYPE_TXT, MATCH_TYPE_TXT_ON_WF, MATCH_TYPE_TXT};
    for (int d = 0; d < 20; ++d) {
      FakeDiscData data{.album = Text(d % 3 ? "Songs of a Long Winter" : "Winter Collection"),
                        .artist = Text(d % 4 ? "The Lantern Keepers" : "Various Artists"),
                        .certified_level = Text(std::to_string(d % 3)),
                        .release_rank = Text(d % 5 ? std::to_string(d % 5) : ""),
                        .compilation = d % 7 == 0};
      for (int t = 0; t < 10; ++t) {
        const std::string title =
            t == 3 ? "The Night Ferry" : std::string(words[(d + t) % 12]) + " " + words[t];
        data.tracks.push_back({Text(title)});
      }
      FakeDisc disc = Fake()->AddDisc(data);
      for (int32_t t = 1; t <= 10; ++t) {
        auto record = MakeObject<CPelkFileInfo>();
        Bstr name(u"/srv/music/The Lantern Keepers/Songs of a Long Winter/07 Night Ferry.mp3");
        record->put_Filename(name.Get());
        record->put_OrigTag(own.Get());
        record->put_Disc(MakeFakeDisc({disc, t, false}).Get());
        record->put_TrackNum(t);
        record->put_MatchType(types[(d + t) % 4]);
        records.push_back(record);
      }
    }
    std::shuffle(records.begin(), records.end(), std::mt19937(5));
    list = MakeObject<CPelkFileInfoList>();
  }
  // Puts the list back in its shuffled order; forget_scores makes every record score afresh.
  void Reset(bool forget_scores) {
    list->Clear();
    for (const auto& record : records) {
      if (forget_scores) {
        int32_t track = 0;
        record->get_TrackNum(&track);
        record->put_TrackNum(track);  // resets the cached score
      }
      list->AddFileInfo(record.Get());
    }
  }
  std::vector<ComPtr<CPelkFileInfo>> records;
  ComPtr<CPelkFileInfoList> list;
};

Candidates& Shared() {
  static Candidates candidates;
  return candidates;
}

void Sort(benchmark::State& state, bool forget_scores) {
  Candidates& c = Shared();
  c.Reset(false);
  c.list->SortItemsByMatchQuality();  // warm-up: every score computed once
  for (auto _ : state) {
    state.PauseTiming();
    c.Reset(forget_scores);
    state.ResumeTiming();
    c.list->SortItemsByMatchQuality();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c.records.size()));
}

void BM_MatchQualityFirstSort(benchmark::State& state) { Sort(state, true); }
BENCHMARK(BM_MatchQualityFirstSort)->Unit(benchmark::kMicrosecond);

void BM_MatchQualityCachedSort(benchmark::State& state) { Sort(state, false); }
BENCHMARK(BM_MatchQualityCachedSort)->Unit(benchmark::kMicrosecond);

}  // namespace
