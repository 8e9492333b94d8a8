// How well waveform lookups find a recording again after the changes a real copy goes through,
// measured on audio made here: synthesized music-like signals and spoken sentences of random
// words. Every original is fingerprinted into a catalogue (about one item in ten on two discs,
// the same recording twice); six copies of each item are fingerprinted and looked up:
//   22050, 48000   resampled by sox (its default high-quality rate effect and dither, repeatable)
//   -6dB           every sample times 10^(-6/20), in process
//   noise          uniform white noise of -40 dBFS RMS added, in process
//   silence2s      2 s of digital silence in front, in process
//   trim1s         the first second cut off, in process
// It prints the answers per kind of copy, the distances of the own track and of the nearest wrong
// one, how other distance measures would separate them, and a sweep of thresholds; the defaults
// of WaveformThresholds are chosen from these figures.
//
// Needs sox and espeak-ng on PATH (`scripts/deps.sh bench`). scripts/bench.sh runs it with the
// benchmarks; alone: build-bench/bench/bench_waveform_study [--music N] [--speech N]
// [--max D --same D --margin D] (defaults 120 music, 100 speech items; a few minutes).
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/study_audio.h"
#include "catalog/catalog_store.h"
#include "catalog/matching.h"
#include "fingerprint/stream_extractor.h"
#include "fingerprint/wav_source.h"
#include "tests/support/pcm_synth.h"

namespace {

namespace fs = std::filesystem;
using pelk::catalog::CatalogStore;
using pelk::catalog::DiscRecord;
using pelk::catalog::MatchAnswer;
using pelk::catalog::Signature;
using pelk::catalog::TrackRecord;
using pelk::catalog::WaveformThresholds;
using Clock = std::chrono::steady_clock;

using namespace pelk::bench::study;
constexpr const char* kCopyNames[] = {"22050", "48000", "-6dB", "noise", "silence2s", "trim1s"};
constexpr size_t kCopyKinds = std::size(kCopyNames);
constexpr double kNoiseRmsDbfs = -40.0;

struct Item {
  std::string name;  // "music 17", "speech 3"
  bool speech = false;
  double seconds = 0;
  double snr_db = 0;  // of the noise copy
  Signature original{};
  // On a second disc too: the signature that disc's entry was made from (another source of the
  // same recording, see MakeCompilationSource).
  std::optional<Signature> second;
  std::array<std::optional<Signature>, kCopyKinds> copies;
  std::vector<std::pair<int64_t, int32_t>> entries;  // (disc id, track) in the catalogue
};

Pcm MakeCopy(size_t kind, const Pcm& pcm, uint32_t seed, const fs::path& dir, double* snr_db) {
  Pcm copy = pcm;
  switch (kind) {
    case 0:
      return Resampled(pcm, 22050, dir);
    case 1:
      return Resampled(pcm, 48000, dir);
    case 2:
      for (int16_t& v : copy.samples) v = Clamp(v * std::pow(10.0, -6.0 / 20.0));
      return copy;
    case 3: {
      // Uniform noise in [-a, a] has an RMS of a / sqrt(3).
      const double rms = 32768.0 * std::pow(10.0, kNoiseRmsDbfs / 20.0);
      const auto noise = pelk::testing::Noise(seed * 2654435761u + 7, rms * std::sqrt(3.0),
                                              static_cast<int64_t>(copy.samples.size()));
      for (size_t i = 0; i < copy.samples.size(); ++i)
        copy.samples[i] = Clamp(copy.samples[i] + noise[i]);
      *snr_db = 20.0 * std::log10(Rms(pcm.samples) / rms);
      return copy;
    }
    case 4:
      copy.samples.insert(copy.samples.begin(), size_t(2) * copy.rate * copy.channels, 0);
      return copy;
    default:
      copy.samples.erase(copy.samples.begin(),
                         copy.samples.begin() + size_t(1) * copy.rate * copy.channels);
      return copy;
  }
}

// The same recording as a compilation disc would carry it: mastered 3 dB quieter, half a second
// of silence in front, resampled by sox to 32 kHz.
Pcm MakeCompilationSource(const Pcm& pcm, const fs::path& dir) {
  Pcm copy = pcm;
  for (int16_t& v : copy.samples) v = Clamp(v * std::pow(10.0, -3.0 / 20.0));
  copy.samples.insert(copy.samples.begin(), size_t(copy.rate / 2) * copy.channels, 0);
  return Resampled(copy, 32000, dir);
}

// About one item in ten is also on a compilation disc.
bool OnTwoDiscs(size_t item) { return item % 10 == 3; }

int64_t Sad(const Signature& a, const Signature& b, size_t from, size_t to) {
  int64_t sum = 0;
  for (size_t i = from; i < to; ++i) sum += std::abs(int32_t{a[i]} - int32_t{b[i]});
  return sum;
}

// Distance measures compared; the catalogue uses the first.
struct Measure {
  const char* name;
  std::function<double(const Signature&, const Signature&)> distance;
};

std::vector<Measure> Measures() {
  return {
      {"abs sum, 30 values", [](auto& a, auto& b) { return double(Sad(a, b, 0, 30)); }},
      {"abs sum, levels only", [](auto& a, auto& b) { return double(Sad(a, b, 0, 15)); }},
      {"abs sum, fluctuation only", [](auto& a, auto& b) { return double(Sad(a, b, 15, 30)); }},
      {"max of the two halves",
       [](auto& a, auto& b) { return double(std::max(Sad(a, b, 0, 15), Sad(a, b, 15, 30))); }},
      {"euclidean, 30 values",
       [](auto& a, auto& b) {
         double sum = 0;
         for (size_t i = 0; i < 30; ++i) sum += std::pow(static_cast<double>(a[i] - b[i]), 2);
         return std::sqrt(sum);
       }},
      {"1 - correlation, 30 values",
       [](auto& a, auto& b) {
         double ma = 0, mb = 0;
         for (size_t i = 0; i < 30; ++i) ma += a[i] / 30.0, mb += b[i] / 30.0;
         double ab = 0, aa = 0, bb = 0;
         for (size_t i = 0; i < 30; ++i) {
           ab += (a[i] - ma) * (b[i] - mb), aa += (a[i] - ma) * (a[i] - ma),
               bb += (b[i] - mb) * (b[i] - mb);
         }
         return 1.0 - ab / std::sqrt(std::max(1e-9, aa * bb));
       }},
  };
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * values.size()));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// One copy's distance to its own original and to the nearest original of another item.
struct CopyDistance {
  size_t item, kind;
  double own, wrong;
};

std::vector<CopyDistance> Distances(const std::vector<Item>& items, const Measure& measure) {
  std::vector<CopyDistance> out;
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t k = 0; k < kCopyKinds; ++k) {
      if (!items[i].copies[k]) continue;
      const Signature& copy = *items[i].copies[k];
      double nearest = INFINITY;
      for (size_t j = 0; j < items.size(); ++j) {
        if (j == i) continue;
        nearest = std::min(nearest, measure.distance(copy, items[j].original));
        if (items[j].second) nearest = std::min(nearest, measure.distance(copy, *items[j].second));
      }
      out.push_back({i, k, measure.distance(copy, items[i].original), nearest});
    }
  }
  return out;
}

// Groups of copies the tables report: each kind of copy, then music, speech and all.
struct Group {
  std::string name;
  std::function<bool(const Item&, size_t kind)> holds;
};

std::vector<Group> Groups() {
  std::vector<Group> groups;
  for (size_t k = 0; k < kCopyKinds; ++k) {
    groups.push_back({kCopyNames[k], [k](const Item&, size_t kind) { return kind == k; }});
  }
  groups.push_back({"music", [](const Item& item, size_t) { return !item.speech; }});
  groups.push_back({"speech", [](const Item& item, size_t) { return item.speech; }});
  groups.push_back({"two discs", [](const Item& item, size_t) { return item.second.has_value(); }});
  groups.push_back({"all", [](const Item&, size_t) { return true; }});
  return groups;
}

void PrintDistances(const std::vector<Item>& items, const Measure& measure) {
  std::printf("\nDistances (%s): own track, nearest wrong track, and the gap between them\n",
              measure.name);
  std::printf("%-10s %-6s %7s %7s %7s %7s %7s %7s %7s\n", "copies", "", "min", "p1", "p5", "p50",
              "p95", "p99", "max");
  const auto row = [](const std::string& group, const char* what, const std::vector<double>& v) {
    std::printf("%-10s %-6s", group.c_str(), what);
    for (double p : {0.0, 1.0, 5.0, 50.0, 95.0, 99.0, 100.0}) {
      std::printf(" %7.0f", Percentile(v, p));
    }
    std::printf("\n");
  };
  const std::vector<CopyDistance> distances = Distances(items, measure);
  for (const Group& group : Groups()) {
    std::vector<double> own, wrong, gap;
    for (const CopyDistance& d : distances) {
      if (!group.holds(items[d.item], d.kind)) continue;
      own.push_back(d.own);
      wrong.push_back(d.wrong);
      gap.push_back(d.wrong - d.own);
    }
    row(group.name, "own", own);
    row("", "wrong", wrong);
    row("", "gap", gap);
  }
  // How close distinct items lie to each other in the catalogue itself, and the two entries of
  // a recording on two discs.
  std::vector<double> nearest[2], twins;
  for (size_t i = 0; i < items.size(); ++i) {
    double d = INFINITY;
    for (size_t j = 0; j < items.size(); ++j) {
      if (j != i) d = std::min(d, measure.distance(items[i].original, items[j].original));
    }
    nearest[items[i].speech].push_back(d);
    if (items[i].second) twins.push_back(measure.distance(items[i].original, *items[i].second));
  }
  row("music", "orig", nearest[0]);
  row("speech", "orig", nearest[1]);
  row("two discs", "twins", twins);
  std::printf(
      "(orig: an original to the nearest other original; twins: the two entries of a recording "
      "on two discs)\n");

  // Every pair of distinct originals: the lower tail says how crowded a larger catalogue of
  // such material would get.
  const char* pair_names[] = {"music-music", "music-speech", "speech-speech"};
  std::vector<double> pairs[3];
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t j = i + 1; j < items.size(); ++j) {
      pairs[items[i].speech + items[j].speech].push_back(
          measure.distance(items[i].original, items[j].original));
    }
  }
  std::printf("%-14s %7s %7s %7s %7s %7s %7s\n", "pairs", "n", "min", "p0.1", "p1", "p5", "p50");
  for (int c = 0; c < 3; ++c) {
    std::printf("%-14s %7zu", pair_names[c], pairs[c].size());
    for (double p : {0.0, 0.1, 1.0, 5.0, 50.0}) std::printf(" %7.0f", Percentile(pairs[c], p));
    std::printf("\n");
  }
}

// How often the own track is the nearest, and how many copies lie closer to their own track than
// 1% of all copies lie to their nearest wrong one: what one global threshold could accept
// without admitting wrong tracks. trim1s apart, since it is a different stretch of the audio.
void CompareMeasures(const std::vector<Item>& items) {
  std::printf("\nDistance measures compared (copies other than trim1s | trim1s copies)\n");
  std::printf("%-28s %13s %15s | %13s %15s\n", "measure", "own nearest", "below wrong p1",
              "own nearest", "below wrong p1");
  for (const Measure& m : Measures()) {
    const std::vector<CopyDistance> distances = Distances(items, m);
    std::vector<double> wrong;
    for (const CopyDistance& d : distances) wrong.push_back(d.wrong);
    const double p1 = Percentile(wrong, 1);
    int nearest[2] = {}, below[2] = {}, count[2] = {};
    for (const CopyDistance& d : distances) {
      const int trim = d.kind == kCopyKinds - 1;
      ++count[trim];
      nearest[trim] += d.own < d.wrong;
      below[trim] += d.own < p1;
    }
    std::printf("%-28s %6d/%-6d %8d/%-6d | %6d/%-6d %8d/%-6d\n", m.name, nearest[0], count[0],
                below[0], count[0], nearest[1], count[1], below[1], count[1]);
  }
}

// Outcome counts of one group of copies.
struct Outcome {
  int copies = 0, own_clear = 0, own_same = 0, own_several = 0, own_among = 0, none = 0,
      wrong_only = 0, wrong_clear = 0, any_wrong = 0, wrong_tracks = 0, unfingerprinted = 0;
  int Right() const { return own_clear + own_same; }
};

void Classify(const Item& item, const MatchAnswer& answer, Outcome* out) {
  ++out->copies;
  int own = 0, wrong = 0;
  for (const auto& m : answer.matches) {
    const bool mine = std::find(item.entries.begin(), item.entries.end(),
                                std::pair{m.disc_id, m.track}) != item.entries.end();
    mine ? ++own : ++wrong;
  }
  out->wrong_tracks += wrong;
  if (wrong) ++out->any_wrong;
  if (answer.kind == 1) {
    ++out->none;
  } else if (own == 0) {
    ++out->wrong_only;
    if (answer.kind == 3) ++out->wrong_clear;
  } else if (wrong == 0 && answer.kind == 3) {
    ++out->own_clear;
  } else if (wrong == 0 && answer.kind == 5 && own == static_cast<int>(item.entries.size())) {
    ++out->own_same;  // the recording on each of its discs, nothing else: the right answer
  } else if (wrong == 0) {
    ++out->own_several;  // its entries on two discs, not taken for the same recording
  } else {
    ++out->own_among;
  }
}

// Outcomes per group, in the order of Groups().
std::vector<Outcome> Evaluate(CatalogStore& store, const std::vector<Item>& items,
                              const WaveformThresholds& thresholds) {
  const std::vector<Group> groups = Groups();
  std::vector<Outcome> table(groups.size());
  for (const Item& item : items) {
    for (size_t k = 0; k < kCopyKinds; ++k) {
      std::optional<MatchAnswer> answer;
      if (item.copies[k]) answer = MatchWaveform(store, *item.copies[k], thresholds);
      for (size_t g = 0; g < groups.size(); ++g) {
        if (!groups[g].holds(item, k)) continue;
        if (answer) {
          Classify(item, *answer, &table[g]);
        } else {
          ++table[g].unfingerprinted;
        }
      }
    }
  }
  return table;
}

void PrintOutcomes(const std::vector<Outcome>& table) {
  std::printf("%-10s %5s %7s %7s %7s %7s %5s %6s %8s %7s %7s\n", "copies", "n", "own k3", "own k5",
              "own k2", "own+oth", "none", "wrong", "wrong k3", "any wrg", "wrg trk");
  const std::vector<Group> groups = Groups();
  for (size_t g = 0; g < groups.size(); ++g) {
    const Outcome& o = table[g];
    std::printf("%-10s %5d %7d %7d %7d %7d %5d %6d %8d %7d %7d", groups[g].name.c_str(), o.copies,
                o.own_clear, o.own_same, o.own_several, o.own_among, o.none, o.wrong_only,
                o.wrong_clear, o.any_wrong, o.wrong_tracks);
    if (o.unfingerprinted) std::printf("  (%d too short to fingerprint)", o.unfingerprinted);
    std::printf("\n");
  }
}

struct Args {
  int music = 120, speech = 100;
  std::optional<WaveformThresholds> thresholds;
};

Args ParseArgs(int argc, char** argv) {
  Args args;
  WaveformThresholds t;
  bool custom = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string key = argv[i];
    if (i + 1 >= argc) Fail("no value for " + key);
    const int64_t value = std::atoll(argv[i + 1]);
    if (key == "--music") {
      args.music = static_cast<int>(value);
    } else if (key == "--speech") {
      args.speech = static_cast<int>(value);
    } else if (key == "--max") {
      t.max_distance = value, custom = true;
    } else if (key == "--same") {
      t.same_recording = value, custom = true;
    } else if (key == "--margin") {
      t.clear_margin = value, custom = true;
    } else {
      Fail("unknown option " + key);
    }
  }
  if (custom) args.thresholds = t;
  return args;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<Item> MakeItems(const Args& args, const fs::path& dir, Clock::time_point start) {
  std::vector<Item> items;
  for (int i = 0; i < args.music + args.speech; ++i) {
    Item item;
    item.speech = i >= args.music;
    const uint32_t seed = 1000 + static_cast<uint32_t>(i);
    item.name =
        (item.speech ? "speech " : "music ") + std::to_string(item.speech ? i - args.music : i);
    const Pcm original = item.speech ? MakeSpeech(seed, dir) : MakeMusic(seed);
    item.seconds = original.Seconds();
    const auto signature = Fingerprint(original);
    if (!signature) Fail(item.name + " could not be fingerprinted");
    item.original = *signature;
    if (OnTwoDiscs(items.size())) {
      item.second = Fingerprint(MakeCompilationSource(original, dir));
      if (!item.second) Fail(item.name + ": compilation source could not be fingerprinted");
    }
    for (size_t k = 0; k < kCopyKinds; ++k) {
      item.copies[k] = Fingerprint(MakeCopy(k, original, seed, dir, &item.snr_db));
    }
    items.push_back(std::move(item));
    if ((i + 1) % 20 == 0) {
      std::fprintf(stderr, "  %d items, %.0f s\n", i + 1, SecondsSince(start));
    }
  }
  return items;
}

// Ten tracks a disc; the items on two discs also on compilation discs. Fills each item's entries.
std::unique_ptr<CatalogStore> MakeCatalogue(std::vector<Item>& items, const fs::path& path,
                                            size_t* twice) {
  std::vector<DiscRecord> discs;
  const auto add_track = [&](const std::string& disc_name, size_t item, const Signature& sig) {
    if (discs.empty() || discs.back().identifier != disc_name) {
      discs.emplace_back();
      discs.back().identifier = disc_name;
      discs.back().album = disc_name;
      discs.back().artist = "study";
    }
    TrackRecord track;
    track.number = static_cast<int32_t>(discs.back().tracks.size()) + 1;
    track.title = std::to_string(item);
    track.identifier = disc_name + "-" + std::to_string(track.number);
    track.signature = sig;
    discs.back().tracks.push_back(track);
    discs.back().track_count = track.number;
  };
  for (size_t i = 0; i < items.size(); ++i) {
    add_track("disc " + std::to_string(i / 10), i, items[i].original);
  }
  *twice = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].second) continue;
    add_track("compilation " + std::to_string(*twice / 10), i, *items[i].second);
    ++*twice;
  }
  std::string error;
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, &error);
  if (!store || !store->AddDiscs(discs, &error)) Fail("catalogue: " + error);
  for (const auto& disc : store->AllDiscs()) {
    for (const TrackRecord& track : disc->tracks) {
      items[std::stoul(track.title)].entries.emplace_back(disc->id, track.number);
    }
  }
  return store;
}

// Recordings that are not in the catalogue, the usual case for a lookup: the odd items are
// looked up in a catalogue of the even ones, so every answer other than "none" is wrong.
std::unique_ptr<CatalogStore> MakeEvenCatalogue(const std::vector<Item>& items,
                                                const fs::path& path) {
  std::vector<DiscRecord> discs;
  for (size_t i = 0; i < items.size(); i += 2) {
    if (discs.empty() || discs.back().tracks.size() == 10) {
      discs.emplace_back();
      discs.back().identifier = "even " + std::to_string(discs.size());
    }
    TrackRecord track;
    track.number = static_cast<int32_t>(discs.back().tracks.size()) + 1;
    track.identifier = discs.back().identifier + "-" + std::to_string(track.number);
    track.signature = items[i].original;
    discs.back().tracks.push_back(track);
    discs.back().track_count = track.number;
  }
  std::string error;
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, &error);
  if (!store || !store->AddDiscs(discs, &error)) Fail("catalogue: " + error);
  return store;
}

// Answers by kind (index 1, 2, 3, 5) to the odd items' originals and copies.
std::array<int, 6> UnknownKinds(CatalogStore& even, const std::vector<Item>& items,
                                const WaveformThresholds& thresholds) {
  std::array<int, 6> kinds{};
  for (size_t i = 1; i < items.size(); i += 2) {
    ++kinds[std::clamp(MatchWaveform(even, items[i].original, thresholds).kind, 0, 5)];
    for (const auto& copy : items[i].copies) {
      if (copy) ++kinds[std::clamp(MatchWaveform(even, *copy, thresholds).kind, 0, 5)];
    }
  }
  return kinds;
}

// Thresholds one step away from the chosen ones, one setting at a time.
void Sweep(CatalogStore& store, CatalogStore& even, const std::vector<Item>& items,
           const WaveformThresholds& chosen) {
  std::printf(
      "\nThreshold sweep. right: own k3 + own k5; 2-disc k5: copies of recordings on two discs "
      "answered own k5;\nunknown: answers to recordings not in the catalogue (all wrong), any kind "
      "and kind 3\n");
  std::printf("%6s %5s %6s | %5s %6s %7s %5s %5s %8s | %5s %5s %8s | %9s | %11s\n", "max", "same",
              "margin", "right", "own k2", "own+oth", "none", "wrong", "wrong k3", "right", "none",
              "wrong k3", "2-disc k5", "unknown");
  std::printf("%19s | %-44s | %-22s |\n", "", "all copies", "without trim1s");
  const size_t two_discs = Groups().size() - 2;
  const auto run = [&](WaveformThresholds t) {
    const std::vector<Outcome> table = Evaluate(store, items, t);
    const Outcome& a = table.back();
    const Outcome& trim = table[kCopyKinds - 1];
    const std::array<int, 6> unknown = UnknownKinds(even, items, t);
    std::printf("%6lld %5lld %6lld | %5d %6d %7d %5d %5d %8d | %5d %5d %8d | %4d/%-4d | %5d %5d\n",
                static_cast<long long>(t.max_distance), static_cast<long long>(t.same_recording),
                static_cast<long long>(t.clear_margin), a.Right(), a.own_several, a.own_among,
                a.none, a.wrong_only, a.wrong_clear, a.Right() - trim.Right(), a.none - trim.none,
                a.wrong_clear - trim.wrong_clear, table[two_discs].own_same,
                table[two_discs].copies, unknown[2] + unknown[3] + unknown[5], unknown[3]);
  };
  const WaveformThresholds c = chosen;
  for (int64_t max : {c.max_distance / 2, c.max_distance * 3 / 4, c.max_distance,
                      c.max_distance * 5 / 4, c.max_distance * 3 / 2, c.max_distance * 2}) {
    run({max, c.same_recording, c.clear_margin});
  }
  for (int64_t same : {int64_t{0}, c.same_recording / 2, c.same_recording * 3 / 2,
                       c.same_recording * 2, c.same_recording * 4}) {
    run({c.max_distance, same, c.clear_margin});
  }
  for (int64_t margin :
       {c.clear_margin / 4, c.clear_margin / 2, c.clear_margin * 3 / 2, c.clear_margin * 2}) {
    run({c.max_distance, c.same_recording, margin});
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Args args = ParseArgs(argc, argv);
  if (std::system("command -v sox >/dev/null && command -v espeak-ng >/dev/null") != 0) {
    Fail("needs sox and espeak-ng (scripts/deps.sh bench)");
  }
  const Clock::time_point start = Clock::now();
  char pattern[] = "/tmp/pelk-waveform-study-XXXXXX";
  if (!::mkdtemp(pattern)) Fail("no temporary folder");
  const fs::path dir = pattern;

  std::vector<Item> items = MakeItems(args, dir, start);
  const double made_in = SecondsSince(start);
  size_t twice = 0;
  std::unique_ptr<CatalogStore> store = MakeCatalogue(items, dir / "catalog.db", &twice);

  double seconds[2] = {}, snr_min = INFINITY;
  std::vector<double> snr;
  for (const Item& item : items) {
    seconds[item.speech] += item.seconds;
    snr.push_back(item.snr_db);
  }
  std::printf(
      "Waveform matching study: %d music items (%.0f s of audio), %d speech items (%.0f s); "
      "%zu items on two discs, %zu catalogue tracks.\n",
      args.music, seconds[0], args.speech, seconds[1], twice, items.size() + twice);
  snr_min = Percentile(snr, 0);
  std::printf("Noise copies: signal RMS over noise RMS from %.1f dB, median %.1f dB.\n", snr_min,
              Percentile(snr, 50));

  const std::vector<Measure> measures = Measures();
  PrintDistances(items, measures[0]);
  CompareMeasures(items);

  const WaveformThresholds chosen = args.thresholds.value_or(WaveformThresholds{});
  std::printf("\nLookups with max_distance %lld, same_recording %lld, clear_margin %lld%s\n",
              static_cast<long long>(chosen.max_distance),
              static_cast<long long>(chosen.same_recording),
              static_cast<long long>(chosen.clear_margin), args.thresholds ? "" : " (defaults)");
  std::printf(
      "own k3: the own track alone; own k5: the own track on each of its discs and nothing "
      "else;\nown k2: the own track's entries only, as several plausible; own+oth: the own track "
      "among "
      "others (k2/k5);\nwrong: only wrong tracks; any wrg: "
      "answers holding a wrong track;\nwrg trk: wrong tracks returned in all.\n");
  const Clock::time_point lookups_start = Clock::now();
  PrintOutcomes(Evaluate(*store, items, chosen));
  const double lookup_ms = 1000 * SecondsSince(lookups_start);
  std::unique_ptr<CatalogStore> even = MakeEvenCatalogue(items, dir / "even.db");
  const std::array<int, 6> unknown = UnknownKinds(*even, items, chosen);
  std::printf(
      "\nRecordings not in the catalogue (the odd items, originals and copies, looked up among "
      "the even ones):\n%d none, %d kind 3 (wrong), %d kind 5 (wrong), %d kind 2 (wrong)\n",
      unknown[1], unknown[3], unknown[5], unknown[2]);
  Sweep(*store, *even, items, chosen);
  even.reset();

  std::printf(
      "\nRun time: %.0f s making and fingerprinting %zu originals and %zu copies; %zu lookups "
      "in %.1f ms; %.0f s in all.\n",
      made_in, items.size(), items.size() * kCopyKinds, items.size() * kCopyKinds, lookup_ms,
      SecondsSince(start));
  store.reset();
  fs::remove_all(dir);
  return 0;
}
