// Which ladder of signatures a catalogue track should keep, and what it costs. The silence gate
// starts the analysed window where the signal first passes a fixed level, so a copy that is
// quieter, mixed to mono or trimmed starts its window elsewhere in the music. The catalogue
// keeps, beside the engine's signature of the original (rung 0), signatures computed from the
// same audio at lower levels and later start points (cli/audio/signature_ladder.h); a lookup
// answers by each track's best rung. This study measures that on audio made here:
//   music    synthesized music-like stereo signals (20-30 s)
//   speech   spoken sentences of random words (espeak-ng, mono)
//   fades    music that fades in over 2-6 s
// Every original is fingerprinted with a set of candidate rungs; nine copies of each are
// fingerprinted as a lookup would (the engine's one signature):
//   22050, 48000     resampled by sox
//   -6dB, noise40    quieter; white noise of -40 dBFS RMS
//   silence2s        2 s of digital silence in front
//   trim1s           the first second cut off
//   quiet-lossy      8 dB quieter, 1.5 s of silence in front, Vorbis at 48 kHz (sox), decoded
//   mono22k          mixed to mono and resampled to 22050 Hz by sox
//   trim2s-noise30   the first 2 s cut off, white noise of -30 dBFS RMS added
// For several ladders (none is the catalogue before ladders) it prints, per kind of copy, how
// many found their own track, nothing, or a wrong track; for the default ladder the distances
// of the own and the nearest wrong track, recordings that are not in the catalogue, and a sweep
// of the thresholds. --cost measures catalogue size and lookup time at 10,000 tracks instead.
//
// Needs sox (with its Vorbis handler) and espeak-ng (`scripts/deps.sh bench`). Run:
// build/bench/bench_ladder_study [--music N --speech N --fades N] [--ladder "G,G..;S,S.."]...
// [--max D --same D --margin D] | --cost
#include <unistd.h>

#include <array>
#include <chrono>
#include <ctime>
#include <functional>
#include <set>

#include "bench/bench_catalog.h"
#include "bench/study_audio.h"
#include "catalog/matching.h"
#include "cli/audio/file_fingerprint.h"
#include "cli/audio/signature_ladder.h"

namespace {

using namespace pelk::bench::study;
using pelk::catalog::CatalogStore;
using pelk::catalog::DiscRecord;
using pelk::catalog::MatchAnswer;
using pelk::catalog::TrackRecord;
using pelk::catalog::WaveformThresholds;
using pelk::cli::LadderRung;
using Clock = std::chrono::steady_clock;

constexpr const char* kCopyNames[] = {"22050",       "48000",     "-6dB",
                                      "noise40",     "silence2s", "trim1s",
                                      "quiet-lossy", "mono22k",   "trim2s-noise30"};
constexpr size_t kCopyKinds = std::size(kCopyNames);
constexpr size_t kFirstNewKind = 6;

// Candidate rungs: levels every 3 dB, starts every half second.
std::vector<LadderRung> Candidates() {
  std::vector<LadderRung> rungs;
  for (double g : {-3, -6, -9, -12, -15, -18, -21, -24, -30}) rungs.push_back({g, 0});
  for (double s : {0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0}) rungs.push_back({0, s});
  for (const LadderRung& r : pelk::cli::DefaultLadderRungs()) {
    if (std::none_of(rungs.begin(), rungs.end(), [&](const LadderRung& c) {
          return c.gain_db == r.gain_db && c.start_seconds == r.start_seconds;
        })) {
      rungs.push_back(r);
    }
  }
  return rungs;
}

std::string RungName(const LadderRung& r) {
  char text[48];
  if (r.start_seconds > 0 && r.gain_db != 0) {
    std::snprintf(text, sizeof text, "%+gdB+%gs", r.gain_db, r.start_seconds);
  } else if (r.start_seconds > 0) {
    std::snprintf(text, sizeof text, "+%gs", r.start_seconds);
  } else {
    std::snprintf(text, sizeof text, "%+gdB", r.gain_db);
  }
  return text;
}

struct Ladder {
  std::string name;
  std::vector<size_t> rungs;  // indexes into Candidates()
};

struct Item {
  std::string name;
  int type = 0;  // 0 music, 1 speech, 2 fade
  Signature original{};
  std::vector<std::optional<Signature>> candidates;  // per Candidates()
  // On a compilation disc too: that source's rung 0 and candidates.
  std::optional<Signature> second;
  std::vector<std::optional<Signature>> second_candidates;
  std::array<std::optional<Signature>, kCopyKinds> copies;
  std::vector<std::pair<int64_t, int32_t>> entries;  // (disc id, track) in the catalogue
};

bool OnTwoDiscs(size_t item) { return item % 10 == 3; }

void AddNoise(Pcm* pcm, double dbfs, uint32_t seed) {
  const double rms = 32768.0 * std::pow(10.0, dbfs / 20.0);
  const auto noise = pelk::testing::Noise(seed * 2654435761u + 7, rms * std::sqrt(3.0),
                                          static_cast<int64_t>(pcm->samples.size()));
  for (size_t i = 0; i < pcm->samples.size(); ++i) {
    pcm->samples[i] = Clamp(pcm->samples[i] + noise[i]);
  }
}

void Scale(Pcm* pcm, double db) {
  for (int16_t& v : pcm->samples) v = Clamp(v * std::pow(10.0, db / 20.0));
}

void Trim(Pcm* pcm, double seconds) {
  const size_t n = static_cast<size_t>(seconds * pcm->rate) * pcm->channels;
  pcm->samples.erase(pcm->samples.begin(), pcm->samples.begin() + std::min(n, pcm->samples.size()));
}

void LeadIn(Pcm* pcm, double seconds) {
  pcm->samples.insert(pcm->samples.begin(),
                      static_cast<size_t>(seconds * pcm->rate) * pcm->channels, 0);
}

// The audio through a sox command line: "sox IN <args> OUT".
Pcm ThroughSox(const Pcm& pcm, const std::string& args, const fs::path& dir,
               const std::string& extension = "wav") {
  const fs::path in = dir / "copy_in.wav", out = dir / ("copy_out." + extension),
                 back = dir / "copy_back.wav";
  WriteWav(in, pcm);
  Run("sox -R -V1 '" + in.string() + "' " + args + " '" + out.string() + "'");
  if (extension == "wav") return ReadWav(out);
  Run("sox -R -V1 '" + out.string() + "' -b 16 '" + back.string() + "'");
  return ReadWav(back);
}

Pcm MakeCopy(size_t kind, const Pcm& pcm, uint32_t seed, const fs::path& dir) {
  Pcm copy = pcm;
  switch (kind) {
    case 0:
      return Resampled(pcm, 22050, dir);
    case 1:
      return Resampled(pcm, 48000, dir);
    case 2:
      Scale(&copy, -6);
      return copy;
    case 3:
      AddNoise(&copy, -40, seed);
      return copy;
    case 4:
      LeadIn(&copy, 2.0);
      return copy;
    case 5:
      Trim(&copy, 1.0);
      return copy;
    case 6:
      Scale(&copy, -8);
      LeadIn(&copy, 1.5);
      return ThroughSox(copy, "-r 48000 -C 3", dir, "ogg");
    case 7:
      return ThroughSox(pcm, "-c 1 -r 22050", dir);
    default:
      Trim(&copy, 2.0);
      AddNoise(&copy, -30, seed + 1);
      return copy;
  }
}

// Music that fades in over 2-6 s (the gain rises with the square of the time).
Pcm MakeFade(uint32_t seed) {
  Pcm pcm = MakeMusic(seed);
  const double fade = 2.0 + seed % 5;
  const size_t frames = static_cast<size_t>(fade * pcm.rate);
  for (size_t f = 0; f < frames && f * pcm.channels < pcm.samples.size(); ++f) {
    const double g = std::pow(static_cast<double>(f) / frames, 2.0);
    for (int c = 0; c < pcm.channels; ++c) {
      int16_t& v = pcm.samples[f * pcm.channels + c];
      v = Clamp(v * g);
    }
  }
  return pcm;
}

// The same recording as a compilation would carry it: 3 dB quieter, 0.5 s of silence in front,
// resampled to 32 kHz.
Pcm MakeCompilationSource(const Pcm& pcm, const fs::path& dir) {
  Pcm copy = pcm;
  Scale(&copy, -3);
  LeadIn(&copy, 0.5);
  return Resampled(copy, 32000, dir);
}

pelk::cli::AudioLadder LadderOf(pelk::IPelkSonquixFingerprinter2* fingerprinter, const Pcm& pcm) {
  pelk::cli::DecodedAudio audio;
  audio.sample_rate = pcm.rate;
  audio.channels = pcm.channels;
  audio.samples = pcm.samples;
  audio.whole = true;
  return pelk::cli::LadderOfAudio(fingerprinter, audio, Candidates());
}

// The signatures a track keeps under a ladder: rung 0 and the distinct chosen rungs.
std::vector<Signature> Kept(const Signature& rung0,
                            const std::vector<std::optional<Signature>>& candidates,
                            const Ladder& ladder) {
  std::vector<std::optional<Signature>> chosen;
  for (size_t r : ladder.rungs) chosen.push_back(candidates[r]);
  std::vector<Signature> kept = {rung0};
  for (const Signature& s : pelk::cli::DistinctRungs(rung0, chosen)) kept.push_back(s);
  return kept;
}

int64_t Sad(const Signature& a, const Signature& b) {
  int64_t sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int32_t{a[i]} - int32_t{b[i]});
  return sum;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * values.size()));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

struct Group {
  std::string name;
  std::function<bool(const Item&, size_t kind)> holds;
};

std::vector<Group> Groups() {
  std::vector<Group> groups;
  for (size_t k = 0; k < kCopyKinds; ++k) {
    groups.push_back({kCopyNames[k], [k](const Item&, size_t kind) { return kind == k; }});
  }
  const char* types[] = {"music", "speech", "fades"};
  for (int t = 0; t < 3; ++t) {
    groups.push_back({types[t], [t](const Item& item, size_t) { return item.type == t; }});
  }
  groups.push_back({"two discs", [](const Item& item, size_t) { return item.second.has_value(); }});
  groups.push_back({"all", [](const Item&, size_t) { return true; }});
  return groups;
}

struct Outcome {
  int copies = 0, own_clear = 0, own_same = 0, own_several = 0, own_among = 0, none = 0,
      wrong_only = 0, wrong_clear = 0, unfingerprinted = 0;
  int Own() const { return own_clear + own_same + own_several + own_among; }
};

void Classify(const Item& item, const MatchAnswer& answer, Outcome* out) {
  ++out->copies;
  int own = 0, wrong = 0;
  for (const auto& m : answer.matches) {
    const bool mine = std::find(item.entries.begin(), item.entries.end(),
                                std::pair{m.disc_id, m.track}) != item.entries.end();
    mine ? ++own : ++wrong;
  }
  if (answer.kind == 1) {
    ++out->none;
  } else if (own == 0) {
    ++out->wrong_only;
    if (answer.kind == 3) ++out->wrong_clear;
  } else if (wrong == 0 && answer.kind == 3) {
    ++out->own_clear;
  } else if (wrong == 0 && answer.kind == 5 && own == static_cast<int>(item.entries.size())) {
    ++out->own_same;
  } else if (wrong == 0) {
    ++out->own_several;
  } else {
    ++out->own_among;
  }
}

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
  std::printf("%-15s %5s %6s %6s %6s %6s %7s %5s %6s %8s\n", "copies", "n", "found", "own k3",
              "own k5", "own k2", "own+oth", "none", "wrong", "wrong k3");
  const std::vector<Group> groups = Groups();
  for (size_t g = 0; g < groups.size(); ++g) {
    const Outcome& o = table[g];
    std::printf("%-15s %5d %5.1f%% %6d %6d %6d %7d %5d %6d %8d", groups[g].name.c_str(), o.copies,
                100.0 * o.Own() / std::max(1, o.copies), o.own_clear, o.own_same, o.own_several,
                o.own_among, o.none, o.wrong_only, o.wrong_clear);
    if (o.unfingerprinted) std::printf("  (%d too short to fingerprint)", o.unfingerprinted);
    std::printf("\n");
  }
}

struct Args {
  int music = 80, speech = 60, fades = 60;
  bool cost = false;
  std::vector<std::string> ladders;
  std::optional<WaveformThresholds> thresholds;
};

[[noreturn]] void Usage(const std::string& why) { Fail(why + " (see bench/ladder_study.cpp)"); }

Args ParseArgs(int argc, char** argv) {
  Args args;
  WaveformThresholds t;
  bool custom = false;
  for (int i = 1; i < argc; ++i) {
    const std::string key = argv[i];
    if (key == "--cost") {
      args.cost = true;
      continue;
    }
    if (i + 1 >= argc) Usage("no value for " + key);
    const std::string value = argv[++i];
    const int64_t number = std::atoll(value.c_str());
    if (key == "--music") {
      args.music = static_cast<int>(number);
    } else if (key == "--speech") {
      args.speech = static_cast<int>(number);
    } else if (key == "--fades") {
      args.fades = static_cast<int>(number);
    } else if (key == "--ladder") {
      args.ladders.push_back(value);
    } else if (key == "--max") {
      t.max_distance = number, custom = true;
    } else if (key == "--same") {
      t.same_recording = number, custom = true;
    } else if (key == "--margin") {
      t.clear_margin = number, custom = true;
    } else {
      Usage("unknown option " + key);
    }
  }
  if (custom) args.thresholds = t;
  return args;
}

size_t CandidateIndex(const LadderRung& rung) {
  const std::vector<LadderRung> all = Candidates();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].gain_db == rung.gain_db && all[i].start_seconds == rung.start_seconds) return i;
  }
  Usage("rung " + RungName(rung) + " is not a candidate");
}

// "G,G,..;S,S,...": gains in dB (start 0) and starts in seconds (gain 0).
Ladder ParseLadder(const std::string& text) {
  Ladder ladder{text, {}};
  const size_t semicolon = text.find(';');
  const auto numbers = [](const std::string& list) {
    std::vector<double> out;
    size_t at = 0;
    while (at < list.size()) {
      size_t comma = list.find(',', at);
      if (comma == std::string::npos) comma = list.size();
      if (comma > at) out.push_back(std::atof(list.substr(at, comma - at).c_str()));
      at = comma + 1;
    }
    return out;
  };
  for (double g : numbers(text.substr(0, semicolon)))
    ladder.rungs.push_back(CandidateIndex({g, 0}));
  if (semicolon != std::string::npos) {
    for (double s : numbers(text.substr(semicolon + 1))) {
      ladder.rungs.push_back(CandidateIndex({0, s}));
    }
  }
  return ladder;
}

std::vector<Ladder> Ladders(const Args& args) {
  std::vector<Ladder> ladders = {{"none (rung 0 only)", {}}};
  Ladder chosen{"default", {}};
  for (const LadderRung& r : pelk::cli::DefaultLadderRungs()) {
    chosen.rungs.push_back(CandidateIndex(r));
  }
  ladders.push_back(chosen);
  for (const std::string& text : args.ladders) ladders.push_back(ParseLadder(text));
  return ladders;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<Item> MakeItems(const Args& args, const fs::path& dir, Clock::time_point start) {
  const pelk::ComPtr<pelk::IPelkSonquixFingerprinter2> fingerprinter =
      pelk::cli::NewFingerprinter();
  std::vector<Item> items;
  const int total = args.music + args.speech + args.fades;
  for (int i = 0; i < total; ++i) {
    Item item;
    item.type = i < args.music ? 0 : i < args.music + args.speech ? 1 : 2;
    const uint32_t seed = 1000 + static_cast<uint32_t>(i);
    item.name = std::to_string(i);
    const Pcm original = item.type == 1   ? MakeSpeech(seed, dir)
                         : item.type == 2 ? MakeFade(seed)
                                          : MakeMusic(seed);
    pelk::cli::AudioLadder ladder = LadderOf(fingerprinter.Get(), original);
    if (!ladder.rung0) Fail("item " + item.name + " could not be fingerprinted");
    item.original = *ladder.rung0;
    item.candidates = std::move(ladder.rungs);
    if (OnTwoDiscs(items.size())) {
      pelk::cli::AudioLadder second =
          LadderOf(fingerprinter.Get(), MakeCompilationSource(original, dir));
      if (!second.rung0) Fail("item " + item.name + ": compilation source gives no fingerprint");
      item.second = second.rung0;
      item.second_candidates = std::move(second.rungs);
    }
    for (size_t k = 0; k < kCopyKinds; ++k) {
      item.copies[k] = Fingerprint(MakeCopy(k, original, seed, dir));
    }
    items.push_back(std::move(item));
    if ((i + 1) % 20 == 0) std::fprintf(stderr, "  %d items, %.0f s\n", i + 1, SecondsSince(start));
  }
  return items;
}

// Ten tracks a disc; the items on two discs also on compilation discs. `odd_out` leaves the odd
// items out (recordings not in the catalogue). Fills each item's entries.
std::unique_ptr<CatalogStore> MakeCatalogue(std::vector<Item>& items, const Ladder& ladder,
                                            const fs::path& path, bool odd_out = false) {
  std::filesystem::remove(path);
  std::vector<DiscRecord> discs;
  const auto add_track = [&](const std::string& disc_name, size_t item,
                             const std::vector<Signature>& kept) {
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
    track.signature = kept[0];
    track.ladder.assign(kept.begin() + 1, kept.end());
    discs.back().tracks.push_back(track);
    discs.back().track_count = track.number;
  };
  for (size_t i = 0; i < items.size(); ++i) {
    if (odd_out && i % 2) continue;
    add_track("disc " + std::to_string(i / 10), i,
              Kept(items[i].original, items[i].candidates, ladder));
  }
  size_t twice = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].second || (odd_out && i % 2)) continue;
    add_track("compilation " + std::to_string(twice++ / 10), i,
              Kept(*items[i].second, items[i].second_candidates, ladder));
  }
  std::string error;
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, &error);
  if (!store || !store->AddDiscs(discs, &error)) Fail("catalogue: " + error);
  if (!odd_out) {
    for (Item& item : items) item.entries.clear();
    for (const auto& disc : store->AllDiscs()) {
      for (const TrackRecord& track : disc->tracks) {
        items[std::stoul(track.title)].entries.emplace_back(disc->id, track.number);
      }
    }
  }
  return store;
}

// Own distance (best rung of the own entries) and nearest wrong distance (best rung of any other
// item) of every copy, percentiles per kind.
void PrintDistances(const std::vector<Item>& items, const Ladder& ladder) {
  std::vector<std::vector<Signature>> kept(items.size());
  std::vector<std::vector<Signature>> second(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    kept[i] = Kept(items[i].original, items[i].candidates, ladder);
    if (items[i].second) second[i] = Kept(*items[i].second, items[i].second_candidates, ladder);
  }
  const auto nearest = [](const Signature& s, const std::vector<Signature>& rungs) {
    int64_t best = INT64_MAX;
    for (const Signature& r : rungs) best = std::min(best, Sad(s, r));
    return best;
  };
  std::printf("\nDistances with the %s ladder: own track, nearest wrong track\n",
              ladder.name.c_str());
  std::printf("%-15s %-6s %7s %7s %7s %7s %7s %7s %7s\n", "copies", "", "min", "p1", "p5", "p50",
              "p95", "p99", "max");
  std::vector<double> all_wrong;
  for (size_t k = 0; k < kCopyKinds; ++k) {
    std::vector<double> own, wrong;
    for (size_t i = 0; i < items.size(); ++i) {
      if (!items[i].copies[k]) continue;
      const Signature& copy = *items[i].copies[k];
      own.push_back(static_cast<double>(std::min(
          nearest(copy, kept[i]), second[i].empty() ? INT64_MAX : nearest(copy, second[i]))));
      int64_t w = INT64_MAX;
      for (size_t j = 0; j < items.size(); ++j) {
        if (j == i) continue;
        w = std::min(w, nearest(copy, kept[j]));
        if (!second[j].empty()) w = std::min(w, nearest(copy, second[j]));
      }
      wrong.push_back(static_cast<double>(w));
      all_wrong.push_back(static_cast<double>(w));
    }
    for (int row = 0; row < 2; ++row) {
      std::printf("%-15s %-6s", row == 0 ? kCopyNames[k] : "", row == 0 ? "own" : "wrong");
      for (double p : {0.0, 1.0, 5.0, 50.0, 95.0, 99.0, 100.0}) {
        std::printf(" %7.0f", Percentile(row == 0 ? own : wrong, p));
      }
      std::printf("\n");
    }
  }
  // Distinct originals among themselves (all rungs): how crowded the catalogue is.
  std::vector<double> pairs;
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t j = i + 1; j < items.size(); ++j) {
      int64_t d = INT64_MAX;
      for (const Signature& s : kept[i]) d = std::min(d, nearest(s, kept[j]));
      pairs.push_back(static_cast<double>(d));
    }
  }
  std::printf("nearest rungs of two different items: min %.0f, p0.1 %.0f, p1 %.0f, p50 %.0f\n",
              Percentile(pairs, 0), Percentile(pairs, 0.1), Percentile(pairs, 1),
              Percentile(pairs, 50));
}

// For the new kinds of copy: how often each candidate rung is the nearest one to the copy
// (rung 0 included), which tells which rungs earn their place.
void PrintNearestRungs(const std::vector<Item>& items) {
  const std::vector<LadderRung> candidates = Candidates();
  std::printf("\nNearest candidate rung to each copy (count per kind; rung 0 first)\n%-15s %6s",
              "copies", "0");
  for (const LadderRung& r : candidates) std::printf(" %6s", RungName(r).c_str());
  std::printf("\n");
  for (size_t k = 0; k < kCopyKinds; ++k) {
    std::vector<int> count(candidates.size() + 1);
    for (const Item& item : items) {
      if (!item.copies[k]) continue;
      size_t best = 0;
      int64_t best_d = Sad(*item.copies[k], item.original);
      for (size_t r = 0; r < candidates.size(); ++r) {
        if (item.candidates[r] && Sad(*item.copies[k], *item.candidates[r]) < best_d) {
          best_d = Sad(*item.copies[k], *item.candidates[r]);
          best = r + 1;
        }
      }
      ++count[best];
    }
    std::printf("%-15s", kCopyNames[k]);
    for (int c : count) std::printf(" %6d", c);
    std::printf("\n");
  }
}

// Answers by kind (index 1, 2, 3, 5) to the odd items' originals and copies among the even ones.
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

void Sweep(CatalogStore& store, CatalogStore& even, const std::vector<Item>& items,
           const WaveformThresholds& c) {
  std::printf(
      "\nThreshold sweep (default ladder). found: own track in the answer; wrong: answers of "
      "only wrong tracks;\nunknown: answers to recordings not in the catalogue (all wrong)\n");
  std::printf("%6s %5s %6s | %6s %5s %6s %8s | %6s %6s %6s | %7s %5s\n", "max", "same", "margin",
              "found", "none", "wrong", "wrong k3", "k3", "k5", "k2", "unknown", "k3");
  const auto run = [&](WaveformThresholds t) {
    const Outcome a = Evaluate(store, items, t).back();
    const std::array<int, 6> unknown = UnknownKinds(even, items, t);
    std::printf("%6lld %5lld %6lld | %6d %5d %6d %8d | %6d %6d %6d | %7d %5d\n",
                static_cast<long long>(t.max_distance), static_cast<long long>(t.same_recording),
                static_cast<long long>(t.clear_margin), a.Own(), a.none, a.wrong_only,
                a.wrong_clear, a.own_clear, a.own_same, a.own_several,
                unknown[2] + unknown[3] + unknown[5], unknown[3]);
  };
  for (int64_t max :
       {c.max_distance * 3 / 4, c.max_distance, c.max_distance * 5 / 4, c.max_distance * 3 / 2}) {
    run({max, c.same_recording, c.clear_margin});
  }
  for (int64_t same : {c.same_recording / 2, c.same_recording * 3 / 2}) {
    run({c.max_distance, same, c.clear_margin});
  }
  for (int64_t margin : {c.clear_margin / 2, c.clear_margin * 3 / 2}) {
    run({c.max_distance, c.same_recording, margin});
  }
}

// Catalogue size and waveform lookup time at 10,000 tracks of at most `rungs` signatures each,
// drawn like real ones (bench_catalog.h); the lookups are copies of catalogue tracks.
void Cost(const fs::path& dir, size_t rungs) {
  const fs::path path = dir / ("cost" + std::to_string(rungs) + ".db");
  static const pelk::bench::SignatureDraw draw;
  std::vector<pelk::bench::SignatureDraw::Track> drawn;
  std::mt19937 rng(42);
  std::vector<DiscRecord> discs;
  for (int d = 0; d < 1000; ++d) {
    DiscRecord disc;
    disc.identifier = "D" + std::to_string(d);
    disc.album = "album " + std::to_string(d);
    disc.artist = "artist " + std::to_string(d % 300);
    for (int t = 1; t <= 10; ++t) {
      TrackRecord track;
      track.number = t;
      track.title = "title " + std::to_string(d) + " " + std::to_string(t);
      track.identifier = disc.identifier + "-" + std::to_string(t);
      track.length_ms = 200000;
      drawn.push_back(pelk::bench::DrawSignatures(draw, rng, &track));
      if (track.ladder.size() + 1 > rungs) track.ladder.resize(rungs - 1);
      disc.tracks.push_back(std::move(track));
    }
    discs.push_back(std::move(disc));
  }
  std::string error;
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, &error);
  if (!store || !store->AddDiscs(discs, &error)) Fail("cost catalogue: " + error);
  // CPU time of the thread as well as the wall clock: on a shared machine a lookup that spans
  // several time slices waits for other processes, which the wall clock counts.
  const auto cpu_ms = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  };
  std::vector<double> wall, cpu;
  for (int i = 0; i < 201; ++i) {
    const auto& of = drawn[rng() % drawn.size()];
    const Signature query = draw.Copy(of.item, of.offset, rng);
    const Clock::time_point start = Clock::now();
    const double cpu_start = cpu_ms();
    MatchWaveform(*store, query);
    cpu.push_back(cpu_ms() - cpu_start);
    wall.push_back(1000 * SecondsSince(start));
  }
  wall.erase(wall.begin());  // the first loads the signatures
  cpu.erase(cpu.begin());
  std::printf(
      "up to %2zu signatures a track: catalogue %.2f MB per 10,000 tracks, waveform lookup "
      "median %.2f ms CPU (wall %.2f ms, p90 %.2f ms)\n",
      rungs, static_cast<double>(fs::file_size(path)) / 1e6, Percentile(cpu, 50),
      Percentile(wall, 50), Percentile(wall, 90));
}

}  // namespace

int main(int argc, char** argv) {
  const Args args = ParseArgs(argc, argv);
  const Clock::time_point start = Clock::now();
  char pattern[] = "/tmp/pelk-ladder-study-XXXXXX";
  if (!::mkdtemp(pattern)) Fail("no temporary folder");
  const fs::path dir = pattern;
  if (args.cost) {
    for (size_t rungs : {size_t{1}, pelk::cli::DefaultLadderRungs().size() + 1}) Cost(dir, rungs);
    fs::remove_all(dir);
    return 0;
  }
  if (std::system("command -v sox >/dev/null && command -v espeak-ng >/dev/null") != 0) {
    Fail("needs sox and espeak-ng (scripts/deps.sh bench)");
  }
  std::vector<Item> items = MakeItems(args, dir, start);
  std::printf(
      "Ladder study: %d music, %d speech, %d fading items; made in %.0f s.\nCandidate rungs:",
      args.music, args.speech, args.fades, SecondsSince(start));
  for (const LadderRung& r : Candidates()) std::printf(" %s", RungName(r).c_str());
  std::printf("\n");
  PrintNearestRungs(items);

  const WaveformThresholds chosen = args.thresholds.value_or(WaveformThresholds{});
  std::printf("\nLookups with max_distance %lld, same_recording %lld, clear_margin %lld\n",
              static_cast<long long>(chosen.max_distance),
              static_cast<long long>(chosen.same_recording),
              static_cast<long long>(chosen.clear_margin));
  std::printf(
      "found: the own track in the answer; own k3: alone; own k5: on each of its discs and "
      "nothing else;\nown k2: its entries only, as several; own+oth: among others; wrong: only "
      "wrong tracks\n");
  const std::vector<Ladder> ladders = Ladders(args);
  for (const Ladder& ladder : ladders) {
    auto store = MakeCatalogue(items, ladder, dir / "catalog.db");
    std::printf("\nLadder %s:", ladder.name.c_str());
    const std::vector<LadderRung> candidates = Candidates();
    for (size_t r : ladder.rungs) std::printf(" %s", RungName(candidates[r]).c_str());
    const auto stats = store->Stats();
    std::printf("  (%.2f signatures a track)\n",
                static_cast<double>(stats.signatures) / std::max<int64_t>(1, stats.tracks));
    PrintOutcomes(Evaluate(*store, items, chosen));
    auto even = MakeCatalogue(items, ladder, dir / "even.db", true);
    const std::array<int, 6> unknown = UnknownKinds(*even, items, chosen);
    std::printf("not in the catalogue: %d none, %d kind 3, %d kind 5, %d kind 2 (all wrong)\n",
                unknown[1], unknown[3], unknown[5], unknown[2]);
  }
  PrintDistances(items, ladders[0]);
  PrintDistances(items, ladders[1]);
  {
    auto store = MakeCatalogue(items, ladders[1], dir / "catalog.db");
    auto even = MakeCatalogue(items, ladders[1], dir / "even.db", true);
    Sweep(*store, *even, items, chosen);
  }
  std::printf("\nRun time %.0f s.\n", SecondsSince(start));
  fs::remove_all(dir);
  return 0;
}
