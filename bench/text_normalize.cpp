// Normalization throughput (characters per second) and the cost of one FieldSimilarity on
// typical title pairs, as the track scorer calls it (normalized forms computed beforehand).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "runtime/utf.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace {

const std::vector<std::u16string>& Titles() {
  static const std::vector<std::u16string> titles = [] {
    std::vector<std::u16string> out;
    for (const char* t : {"The Lanterns (Remastered 2011)", "R.E.M. - Losing My Religion",
                          "Café Del Mar, Vol. IV", "Rock & Roll Part II", "L'Été Indien",
                          "03 - the lanterns [live].mp3", "Symphony No. 9 in D minor, Op. 125",
                          "Ποτέ Ξανά", "Ёлка", "ＴＯＫＹＯ　ＮＩＧＨＴ", "東京の夜", "ｶﾞﾝﾀﾞﾑ"}) {
      out.push_back(pelk::Utf8ToUtf16(t));
    }
    return out;
  }();
  return titles;
}

void BM_NormalizeTitles(benchmark::State& state) {
  const auto& titles = Titles();
  size_t chars = 0;
  for (const auto& t : titles) chars += t.size();
  std::u16string out;
  for (auto _ : state) {
    for (const auto& t : titles) {
      benchmark::DoNotOptimize(pelk::text::Normalize(t, pelk::text::kStandardNormalizeFlags, &out));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * chars));
  state.counters["chars/s"] = benchmark::Counter(static_cast<double>(state.iterations() * chars),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_NormalizeTitles);

// Catalogue texts as most are: ASCII titles, artists and file names.
void BM_NormalizeAsciiTitles(benchmark::State& state) {
  std::vector<std::u16string> titles;
  for (const char* t : {"Harbour Lights", "The Lantern Keepers 117", "Songs of a Long Winter 117",
                        "Fireside (Reprise)", "Salt on the Window", "R.E.M. - Losing My Religion",
                        "Rock & Roll Part II", "03 - the lanterns [live]",
                        "Symphony No. 9 in D minor, Op. 125", "Don't Stop Me Now"}) {
    titles.push_back(pelk::Utf8ToUtf16(t));
  }
  size_t chars = 0;
  for (const auto& t : titles) chars += t.size();
  std::u16string out;
  for (auto _ : state) {
    for (const auto& t : titles) {
      benchmark::DoNotOptimize(pelk::text::Normalize(t, pelk::text::kStandardNormalizeFlags, &out));
    }
  }
  state.counters["ns/text"] =
      benchmark::Counter(static_cast<double>(state.iterations() * titles.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["chars/s"] = benchmark::Counter(static_cast<double>(state.iterations() * chars),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_NormalizeAsciiTitles);

void BM_NormalizeLongText(benchmark::State& state) {
  std::u16string text;
  while (text.size() < 1000)
    text += pelk::Utf8ToUtf16("Über die Brücke, 1,000 Träume & XIV Lieder; ");
  std::u16string out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        pelk::text::Normalize(text, pelk::text::kStandardNormalizeFlags, &out));
  }
  state.counters["chars/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * text.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_NormalizeLongText);

struct Pair {
  std::u16string raw_a, norm_a, raw_b, norm_b;
};

void BM_FieldSimilarity(benchmark::State& state) {
  std::vector<Pair> pairs;
  for (auto [a, b] :
       {std::pair{"03 - the lanterns [live]", "Lanterns (Live)"},
        std::pair{"Cafe del Mar Vol 4", "Café Del Mar, Vol. IV"},
        std::pair{"Losing my religion", "Losing My Religion (Remastered 2003)"},
        std::pair{"Symphony No 5", "Symphony No. 9"}, std::pair{"The Beatles", "Beatles, The"}}) {
    Pair p{pelk::Utf8ToUtf16(a), {}, pelk::Utf8ToUtf16(b), {}};
    p.norm_a = pelk::text::StandardNormalized(p.raw_a);
    p.norm_b = pelk::text::StandardNormalized(p.raw_b);
    pairs.push_back(std::move(p));
  }
  for (auto _ : state) {
    for (const Pair& p : pairs) {
      benchmark::DoNotOptimize(pelk::text::FieldSimilarity(p.raw_a, p.norm_a, p.raw_b, p.norm_b));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pairs.size()));
  state.counters["ns/pair"] =
      benchmark::Counter(static_cast<double>(state.iterations() * pairs.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FieldSimilarity);

// What the track scorer's search does for each track of a 20-track disc: the tag's title and
// the file name graded against the track's title (normalized forms computed beforehand). One
// pair of texts is raw and normalized file side, raw and normalized disc side.
struct TitlePair {
  std::u16string file_raw, file_normalized, disc_raw, disc_normalized;
};

const std::vector<TitlePair>& TitlePairs() {
  static const std::vector<TitlePair> pairs = [] {
    std::vector<TitlePair> out;
    for (const char* title :
         {"Harbour Lights",     "Northbound",        "A Case of Snow",  "Glass and Iron",
          "Paper Moon Parade",  "Old Coats",         "The Night Ferry", "Small Hours",
          "Lighthouse Song",    "Rivers in Reverse", "Tin Roof Waltz",  "Kettle Black",
          "Fireside (Reprise)", "December Road",     "Holloway",        "Salt on the Window",
          "Winter Quarters",    "Long Division",     "Homecoming",      "Last Train Out"}) {
      for (const char* file : {"Last Train Out - Live", "Last Train Out"}) {
        TitlePair pair{pelk::Utf8ToUtf16(file), {}, pelk::Utf8ToUtf16(title) + u" 117", {}};
        pair.file_normalized = pelk::text::StandardNormalized(pair.file_raw);
        pair.disc_normalized = pelk::text::StandardNormalized(pair.disc_raw);
        out.push_back(std::move(pair));
      }
    }
    return out;
  }();
  return pairs;
}

void TitlePairCounter(benchmark::State& state, size_t per_pair) {
  state.counters["ns/call"] =
      benchmark::Counter(static_cast<double>(state.iterations() * TitlePairs().size() * per_pair),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_TitlesAgainstDisc(benchmark::State& state) {
  for (auto _ : state) {
    for (const TitlePair& p : TitlePairs()) {
      benchmark::DoNotOptimize(pelk::text::FieldSimilarity(p.file_raw, p.file_normalized,
                                                           p.disc_raw, p.disc_normalized));
    }
  }
  TitlePairCounter(state, 1);
}
BENCHMARK(BM_TitlesAgainstDisc);

// The two measures FieldSimilarity is made of, each on the raw and the normalized texts.
void BM_TitlesEditDifference(benchmark::State& state) {
  for (auto _ : state) {
    for (const TitlePair& p : TitlePairs()) {
      benchmark::DoNotOptimize(pelk::text::EditDifference(p.file_raw, p.disc_raw));
      benchmark::DoNotOptimize(pelk::text::EditDifference(p.file_normalized, p.disc_normalized));
    }
  }
  TitlePairCounter(state, 2);
}
BENCHMARK(BM_TitlesEditDifference);

void BM_TitlesTiling(benchmark::State& state) {
  for (auto _ : state) {
    for (const TitlePair& p : TitlePairs()) {
      benchmark::DoNotOptimize(pelk::text::TilingSimilarity(p.file_raw, p.disc_raw, 3));
      benchmark::DoNotOptimize(
          pelk::text::TilingSimilarity(p.file_normalized, p.disc_normalized, 3));
    }
  }
  TitlePairCounter(state, 2);
}
BENCHMARK(BM_TitlesTiling);

void BM_TilingLongest(benchmark::State& state) {
  std::u16string a(1023, u'a'), b(1023, u'a');
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char16_t>(u'a' + (i * 7) % 13);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char16_t>(u'a' + (i * 5) % 13);
  for (auto _ : state) benchmark::DoNotOptimize(pelk::text::TilingSimilarity(a, b, 3));
}
BENCHMARK(BM_TilingLongest);

}  // namespace
