// Text lookups at catalogue scale: generated catalogues (made in a temporary folder, removed at
// exit) whose titles, artists and albums are drawn from a word list with the skewed frequencies
// of real titles. At each size: import rate, file size, open time (with the word index, and the
// first open of a catalogue written without it, which builds it), and for queries made from
// catalogue tracks (exact tags, a typo, part of the title, artist and title, title alone, a file
// name alone) the CPU time of the word-index lookup and of the trigram-only lookup of catalogues
// without a word index, how often their top answers agree, and how often each finds the track.
//
// bench_text_lookup_study [tracks...] [--queries N]   (default: 10000 100000, 200 queries a kind)
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_catalog.h"
#include "catalog/catalog_store.h"
#include "catalog/matching.h"
#include "runtime/utf.h"

namespace {

using pelk::bench::WordDraw;
using pelk::catalog::CatalogStore;
using pelk::catalog::DiscRecord;
using pelk::catalog::MatchAnswer;
using pelk::catalog::TextQuery;
using pelk::catalog::TextSearch;
using Clock = std::chrono::steady_clock;

constexpr int kTracksPerDisc = 10;

std::vector<DiscRecord> MakeDiscs(WordDraw& draw, std::mt19937& rng, int first, int count,
                                  const std::vector<std::string>& artists) {
  std::vector<DiscRecord> out;
  for (int d = first; d < first + count; ++d) {
    DiscRecord disc;
    disc.identifier = "D" + std::to_string(d);
    disc.artist = artists[rng() % artists.size()];
    disc.album = draw.Phrase(rng, 1 + static_cast<int>(rng() % 3));
    for (int t = 1; t <= kTracksPerDisc; ++t) {
      pelk::catalog::TrackRecord track;
      track.number = t;
      track.title = draw.Phrase(rng, 1 + static_cast<int>(rng() % 4));
      track.identifier = "T" + std::to_string(d) + "-" + std::to_string(t);
      disc.tracks.push_back(std::move(track));
    }
    out.push_back(std::move(disc));
  }
  return out;
}

struct Truth {
  std::string title, artist, album;
  int64_t disc = 0;
  int32_t track = 0;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Lookup times are the thread's CPU time: on a shared machine the wall clock also counts the
// time other programs hold the cores.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

std::u16string U16(const std::string& s) { return pelk::Utf8ToUtf16(s); }

// One query of each kind made from a catalogue track.
std::vector<std::pair<std::string, TextQuery>> QueriesOf(const Truth& t, std::mt19937& rng) {
  std::vector<std::pair<std::string, TextQuery>> queries;
  queries.push_back({"exact tags", {U16(t.title), U16(t.artist), U16(t.album), {}}});
  std::string typo = t.title;
  const size_t at = 1 + rng() % (typo.size() - 1);
  typo[at] = typo[at] == 'x' ? 'q' : 'x';
  queries.push_back({"typo", {U16(typo), U16(t.artist), {}, {}}});
  std::string partial = t.title;
  if (const size_t space = partial.rfind(' '); space != std::string::npos) {
    partial.resize(space);
  } else {
    partial.resize(std::max<size_t>(3, partial.size() * 2 / 3));
  }
  queries.push_back({"part of title", {U16(partial), U16(t.artist), {}, {}}});
  queries.push_back({"artist+title", {U16(t.title), U16(t.artist), {}, {}}});
  queries.push_back({"title only", {U16(t.title), {}, {}, {}}});
  char number[8];
  std::snprintf(number, sizeof number, "%02d", t.track);
  queries.push_back(
      {"file name only",
       {{},
        {},
        {},
        U16("/music/" + t.artist + "/" + t.album + "/" + number + " " + t.title + ".flac")}});
  return queries;
}

struct KindFigures {
  std::vector<double> words_ms, trigram_ms;
  int total = 0, same_top = 0, tied = 0, only_words_right = 0, only_trigrams_right = 0,
      same_kind = 0, words_right = 0, trigram_right = 0;
  std::vector<std::string> differences;
  std::vector<std::pair<double, std::string>> slowest;  // of the word lookups
};

std::string TopOf(const MatchAnswer& a) {
  if (a.matches.empty()) return "none";
  return std::to_string(a.matches[0].disc_id) + "/" + std::to_string(a.matches[0].track) +
         " kind " + std::to_string(a.kind) + " score " + std::to_string(a.matches[0].score);
}

void Study(int tracks, int queries_per_kind) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("pelk-text-study-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  WordDraw draw;
  std::mt19937 rng(42);
  const int discs = tracks / kTracksPerDisc;
  std::vector<std::string> artists;
  for (int a = 0; a < std::max(1, discs / 4); ++a) {
    artists.push_back(draw.Phrase(rng, 1 + static_cast<int>(rng() % 3)));
  }
  std::string error;
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, &error);
  if (!store) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  std::vector<Truth> sample;
  std::uniform_int_distribution<int> pick(0, discs - 1);
  std::vector<int> sampled_discs;
  for (int i = 0; i < queries_per_kind; ++i) sampled_discs.push_back(pick(rng));
  std::sort(sampled_discs.begin(), sampled_discs.end());
  Clock::duration import_time{};
  for (int start = 0; start < discs; start += 5000) {
    const auto batch = MakeDiscs(draw, rng, start, std::min(5000, discs - start), artists);
    const auto t0 = Clock::now();
    if (!store->AddDiscs(batch, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    import_time += Clock::now() - t0;
    for (int d : sampled_discs) {
      if (d < start || d >= start + static_cast<int>(batch.size())) continue;
      const DiscRecord& disc = batch[d - start];
      const auto& track = disc.tracks[rng() % disc.tracks.size()];
      sample.push_back({track.title, disc.artist, disc.album, 0, track.number});
      sample.back().disc = store->DiscByIdentifier(disc.identifier)->id;
    }
  }
  store.reset();
  const auto size_mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;

  auto t0 = Clock::now();
  store = CatalogStore::Open(path, CatalogStore::OpenMode::kExisting, &error);
  const double open_ms = Ms(Clock::now() - t0);
  store.reset();
  // A catalogue written by a program without the word index.
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "DROP TABLE track_words; DROP TRIGGER track_words_stale_insert; "
               "DROP TRIGGER track_words_stale_delete; DROP TRIGGER track_words_stale_track; "
               "DROP TRIGGER track_words_stale_disc; DELETE FROM meta WHERE key = 'word_index'; "
               "VACUUM",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  const auto old_size_mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  t0 = Clock::now();
  store = CatalogStore::Open(path, CatalogStore::OpenMode::kExisting, &error);
  const double first_open_ms = Ms(Clock::now() - t0);
  if (!store || !store->HasWordIndex()) {
    std::fprintf(stderr, "the word index was not built on open\n");
    std::exit(1);
  }

  std::printf(
      "\n== %d tracks: import %.0f tracks/s, file %.1f MB (%.1f MB without the word "
      "index), open %.1f ms, first open of a file without it %.0f ms (builds it)\n",
      tracks, tracks / std::chrono::duration<double>(import_time).count(), size_mb, old_size_mb,
      open_ms, first_open_ms);

  std::map<std::string, KindFigures> figures;
  std::vector<std::string> order;
  std::mt19937 typo_rng(5);
  for (const Truth& truth : sample) {
    for (const auto& [kind, query] : QueriesOf(truth, typo_rng)) {
      if (!figures.count(kind)) order.push_back(kind);
      KindFigures& f = figures[kind];
      double s = CpuMs();
      const MatchAnswer words = pelk::catalog::MatchText(*store, query, TextSearch::kWords);
      f.words_ms.push_back(CpuMs() - s);
      f.slowest.push_back({f.words_ms.back(), pelk::Utf16ToUtf8(query.title + query.file_name) +
                                                  " / " + pelk::Utf16ToUtf8(query.artist)});
      std::sort(f.slowest.rbegin(), f.slowest.rend());
      if (f.slowest.size() > 2) f.slowest.resize(2);
      s = CpuMs();
      const MatchAnswer trigrams = MatchText(*store, query, TextSearch::kTrigramsOnly);
      f.trigram_ms.push_back(CpuMs() - s);
      auto right = [&](const MatchAnswer& a) {
        return !a.matches.empty() && a.matches[0].disc_id == truth.disc &&
               a.matches[0].track == truth.track;
      };
      ++f.total;
      const bool same_top =
          words.matches.empty() == trigrams.matches.empty() &&
          (words.matches.empty() || (words.matches[0].disc_id == trigrams.matches[0].disc_id &&
                                     words.matches[0].track == trigrams.matches[0].track));
      f.same_top += same_top;
      // Different tracks of the same best score: the order among equals is the index's.
      f.tied += !same_top && !words.matches.empty() && !trigrams.matches.empty() &&
                words.kind == trigrams.kind && words.matches[0].score == trigrams.matches[0].score;
      f.same_kind += words.kind == trigrams.kind;
      f.words_right += right(words);
      f.only_words_right += right(words) && !right(trigrams);
      f.only_trigrams_right += right(trigrams) && !right(words);
      f.trigram_right += right(trigrams);
      if (!same_top && f.differences.size() < 4) {
        f.differences.push_back("\"" + pelk::Utf16ToUtf8(query.title + query.file_name) +
                                "\" / \"" + pelk::Utf16ToUtf8(query.artist) + "\": words " +
                                TopOf(words) + (right(words) ? " (right)" : "") + ", trigrams " +
                                TopOf(trigrams) + (right(trigrams) ? " (right)" : ""));
      }
    }
  }
  std::printf("%-15s %6s %9s %7s %9s %9s %9s %8s %8s %11s %11s %11s %11s\n", "query", "n",
              "same top", "tied", "only w ok", "only t ok", "same kind", "words ok", "tri ok",
              "words p50", "words p99", "tri p50", "tri p99");
  for (const std::string& kind : order) {
    const KindFigures& f = figures[kind];
    std::printf(
        "%-15s %6d %8.1f%% %6.1f%% %8.1f%% %8.1f%% %8.1f%% %7.1f%% %7.1f%% %8.3f ms %8.3f ms %8.3f "
        "ms %8.3f ms\n",
        kind.c_str(), f.total, 100.0 * f.same_top / f.total, 100.0 * f.tied / f.total,
        100.0 * f.only_words_right / f.total, 100.0 * f.only_trigrams_right / f.total,
        100.0 * f.same_kind / f.total, 100.0 * f.words_right / f.total,
        100.0 * f.trigram_right / f.total, Percentile(f.words_ms, 0.5),
        Percentile(f.words_ms, 0.99), Percentile(f.trigram_ms, 0.5),
        Percentile(f.trigram_ms, 0.99));
  }
  for (const std::string& kind : order) {
    for (const std::string& d : figures[kind].differences) {
      std::printf("  differs (%s): %s\n", kind.c_str(), d.c_str());
    }
  }
  for (const std::string& kind : order) {
    for (const auto& [ms, text] : figures[kind].slowest) {
      std::printf("  slowest word lookup (%s): %.2f ms, \"%s\"\n", kind.c_str(), ms, text.c_str());
    }
  }
  store.reset();
  if (std::getenv("PELK_KEEP_STUDY_CATALOGUE")) {
    std::printf("  kept %s\n", path.c_str());
  } else {
    std::filesystem::remove(path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  int queries = 200;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--queries" && i + 1 < argc) {
      queries = std::atoi(argv[++i]);
    } else {
      sizes.push_back(std::atoi(arg.c_str()));
    }
  }
  if (sizes.empty()) sizes = {10000, 100000};
  for (int tracks : sizes) Study(tracks, queries);
  return 0;
}
