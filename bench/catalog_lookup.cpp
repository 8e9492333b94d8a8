// Catalogue lookups on generated catalogues of 10,000 and 1,000,000 tracks (made in a temporary
// folder, never committed; signature ladders drawn like real ones, bench_catalog.h), and import
// speed in tracks per second. bench/catalog_scale_study.cpp measures every lookup side by side.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "bench/bench_catalog.h"
#include "catalog/catalog_store.h"
#include "catalog/matching.h"

namespace {

using pelk::bench::SignatureDraw;
using pelk::catalog::CatalogStore;
using pelk::catalog::DiscRecord;
using pelk::catalog::Signature;

constexpr const char* kWords[] = {
    "love",    "night",   "river",    "blue",   "heart",   "summer", "golden", "shadow",
    "fire",    "rain",    "dream",    "city",   "stone",   "little", "green",  "electric",
    "highway", "morning", "silver",   "ocean",  "dancing", "broken", "wild",   "sweet",
    "time",    "home",    "light",    "moon",   "paper",   "window", "garden", "echo",
    "falling", "secret",  "northern", "velvet", "crystal", "winter"};
constexpr size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);
constexpr int kTracksPerDisc = 10;

std::string Phrase(std::mt19937& rng, int words) {
  std::string text;
  for (int i = 0; i < words; ++i) {
    if (i) text += ' ';
    text += kWords[rng() % kWordCount];
  }
  return text;
}

const SignatureDraw& Draw() {
  static const SignatureDraw draw;
  return draw;
}

// With `first`, the signatures drawn for the batch's first track.
std::vector<DiscRecord> MakeDiscs(std::mt19937& rng, int first_disc, int discs,
                                  SignatureDraw::Track* first = nullptr) {
  std::vector<DiscRecord> out;
  for (int d = first_disc; d < first_disc + discs; ++d) {
    DiscRecord disc;
    disc.identifier = "D" + std::to_string(d);
    disc.album = Phrase(rng, 2);
    disc.artist = Phrase(rng, 2);
    for (int t = 1; t <= kTracksPerDisc; ++t) {
      pelk::catalog::TrackRecord track;
      track.number = t;
      track.title = Phrase(rng, 3) + " " + std::to_string(d % 97);
      track.identifier = "T" + std::to_string(d) + "-" + std::to_string(t);
      const SignatureDraw::Track drawn = pelk::bench::DrawSignatures(Draw(), rng, &track);
      if (first && d == first_disc && t == 1) *first = drawn;
      disc.tracks.push_back(std::move(track));
    }
    out.push_back(std::move(disc));
  }
  return out;
}

std::filesystem::path TempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("pelk-bench-" + std::to_string(::getpid()) + "-" + name + ".db");
}

struct Generated {
  std::unique_ptr<CatalogStore> store;
  SignatureDraw::Track first;  // its first track's signatures
};

// One generated catalogue per size, built on first use and removed at exit.
Generated& CatalogOf(int tracks) {
  static std::map<int, Generated> catalogues;
  Generated& generated = catalogues[tracks];
  auto& store = generated.store;
  if (!store) {
    const auto path = TempPath(std::to_string(tracks));
    std::filesystem::remove(path);
    store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, nullptr);
    std::mt19937 rng(42);
    const int discs = tracks / kTracksPerDisc;
    for (int start = 0; start < discs; start += 5000) {
      store->AddDiscs(MakeDiscs(rng, start, std::min(5000, discs - start),
                                start == 0 ? &generated.first : nullptr),
                      nullptr);
    }
    static struct Cleanup {
      ~Cleanup() {
        for (int n : {10000, 1000000}) std::filesystem::remove(TempPath(std::to_string(n)));
      }
    } cleanup;
  }
  return generated;
}

void BM_Import(benchmark::State& state) {
  const auto path = TempPath("import");
  std::mt19937 rng(7);
  const auto discs = MakeDiscs(rng, 0, 1000);  // 10,000 tracks
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(path);
    auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, nullptr);
    state.ResumeTiming();
    store->AddDiscs(discs, nullptr);
  }
  state.SetItemsProcessed(state.iterations() * 1000 * kTracksPerDisc);
  std::filesystem::remove(path);
}
BENCHMARK(BM_Import)->Unit(benchmark::kMillisecond);

void BM_WaveformLookup(benchmark::State& state) {
  Generated& generated = CatalogOf(static_cast<int>(state.range(0)));
  CatalogStore& store = *generated.store;
  // A copy of the first track, as a lookup of it computes it.
  std::mt19937 rng(7);
  const Signature known = Draw().Copy(generated.first.item, generated.first.offset, rng);
  pelk::catalog::MatchWaveform(store, known);  // builds the signature index once
  for (auto _ : state) {
    benchmark::DoNotOptimize(pelk::catalog::MatchWaveform(store, known));
  }
}
BENCHMARK(BM_WaveformLookup)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_TextLookup(benchmark::State& state) {
  CatalogStore& store = *CatalogOf(static_cast<int>(state.range(0))).store;
  pelk::catalog::TextQuery query{u"golden river morning 12", u"velvet echo", u"crystal moon", {}};
  for (auto _ : state) {
    benchmark::DoNotOptimize(pelk::catalog::MatchText(store, query));
  }
}
BENCHMARK(BM_TextLookup)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
