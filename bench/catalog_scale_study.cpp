// The catalogue at scale, side by side in one run: catalogues generated at each size, titles,
// artists and albums drawn from a word list and signature ladders drawn like real ones
// (bench_catalog.h), in a SQLite file (in the temporary folder) and, with --postgres, also in a
// database of that server, the same catalogue and the same lookups on both. For each it
// measures the import rate, the size on disk, the open time, the first waveform lookup (which
// reads every rung and builds the signature index) with the resident memory after each, then the
// median and 99th percentile of waveform lookups (copies of catalogue tracks, and recordings the
// catalogue does not hold), of text lookups (exact tags, a typo in the title, part of the title),
// of reading a disc and a track by identifier, and of TrackID through both modules, loaded as a
// host loads them, by an identifier in the tag, by text and by a fingerprint the host hands in.
// With --processes P, it then measures the throughput of P identifying processes at once on one
// catalogue beside that of one (bench/study_processes.h). One table at the end, a column per
// size and backend, with how many answers each backend gave the same as the first.
//
//   bench_catalog_scale_study [--queries N] [--keep] [--open-only] [--postgres LOCATION]
//                             [--processes P [--process-queries M]] [TRACKS ...]
//     default 10000 100000 1000000 tracks, 200 queries of each kind. --keep leaves the
//     catalogues (the files, and the databases pelk_scale_<TRACKS> on the server) and uses them
//     again on the next run (no import then); --open-only stops after the first waveform lookup
//     (to compare index builds). LOCATION names an existing database of the server (its
//     catalogue databases are made beside it; its user may create databases). The processes
//     identify M samples of each kind in all (default 2000), sample i by process i % P.
//
// Lookup times are wall clock, with the thread's CPU time beside them and, for a server on this
// machine, the CPU time of the server process that answered: on a shared machine the wall clock
// also counts the time other programs hold the cores. The load average is printed.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_catalog.h"
#include "bench/study_host.h"
#include "bench/study_measure.h"
#include "bench/study_processes.h"
#include "bench/study_server.h"
#include "catalog/matching.h"
#include "runtime/utf.h"

namespace {

namespace fs = std::filesystem;
using namespace pelk;
using namespace pelk::bench;
using catalog::CatalogStore;
using catalog::DiscRecord;
using catalog::MatchAnswer;
using catalog::Signature;
using catalog::TextQuery;

constexpr int kTracksPerDisc = 10;
constexpr int kBatchDiscs = 5000;
constexpr size_t kLimit = 16;  // the waveform candidates the matcher asks for
const int64_t kMax = catalog::WaveformThresholds{}.max_distance;

// Where one size's catalogue lies in one backend.
struct Backend {
  std::string name;
  StudyServer* server = nullptr;  // null: a SQLite file

  std::string Database(int tracks) const { return "pelk_scale_" + std::to_string(tracks); }
  fs::path File(int tracks) const {
    return fs::temp_directory_path() / ("pelk-scale-" + std::to_string(tracks) + ".db");
  }
  std::string Location(int tracks) const {
    return server ? server->LocationOf(Database(tracks)) : File(tracks).string();
  }
  // The CPU time of the server processes serving the catalogue's connections open now.
  std::function<double()> ServerCpu(int tracks) const {
    return server ? server->CpuMeter(Database(tracks)) : std::function<double()>();
  }
};

// What each lookup answered, by kind of lookup, in words that name discs by identifier (the
// backends number discs themselves).
using Answers = std::map<std::string, std::vector<std::string>>;

std::vector<DiscRecord> MakeDiscs(WordDraw& words, const SignatureDraw& draw, std::mt19937& rng,
                                  int first, int count, const std::vector<std::string>& artists,
                                  std::vector<SignatureDraw::Track>* drawn) {
  std::vector<DiscRecord> out;
  drawn->clear();
  for (int d = first; d < first + count; ++d) {
    DiscRecord disc;
    disc.identifier = "D" + std::to_string(d);
    disc.artist = artists[rng() % artists.size()];
    disc.album = words.Phrase(rng, 1 + static_cast<int>(rng() % 3));
    for (int t = 1; t <= kTracksPerDisc; ++t) {
      catalog::TrackRecord track;
      track.number = t;
      track.title = words.Phrase(rng, 1 + static_cast<int>(rng() % 4));
      track.identifier = "T" + std::to_string(d) + "-" + std::to_string(t);
      track.length_ms = 150000 + static_cast<int32_t>(rng() % 150000);
      drawn->push_back(DrawSignatures(draw, rng, &track));
      drawn->back().rungs.clear();  // kept in the track
      disc.tracks.push_back(std::move(track));
    }
    out.push_back(std::move(disc));
  }
  return out;
}

struct Generated {
  std::vector<Sample> samples;  // in the order drawn
  double import_s = 0;          // 0: the kept catalogue was used
  double import_cpu_s = 0, import_server_cpu_s = -1;
  int64_t signatures = 0;
};

// Writes the catalogue (unless a kept one is there) and draws `pool` sampled tracks; the same
// catalogue and samples every time.
Generated Generate(const Backend& backend, int tracks, int pool, bool reuse,
                   const SignatureDraw& draw) {
  Generated g;
  WordDraw words;
  std::mt19937 rng(42), pick_rng(9);
  const int discs = tracks / kTracksPerDisc;
  std::vector<std::string> artists;
  for (int a = 0; a < std::max(1, discs / 4); ++a) {
    artists.push_back(words.Phrase(rng, 1 + static_cast<int>(rng() % 3)));
  }
  std::vector<std::pair<int, size_t>> sampled;  // disc, place in the order drawn
  for (int i = 0; i < pool; ++i)
    sampled.emplace_back(static_cast<int>(pick_rng() % discs), static_cast<size_t>(i));
  std::sort(sampled.begin(), sampled.end());
  g.samples.resize(static_cast<size_t>(pool));
  std::unique_ptr<CatalogStore> store;
  std::function<double()> server_cpu;
  std::string error;
  if (!reuse) {
    store = CatalogStore::Open(backend.Location(tracks), CatalogStore::OpenMode::kCreate, &error);
    if (!store) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    server_cpu = backend.ServerCpu(tracks);
  }
  std::vector<SignatureDraw::Track> drawn;
  double import_ms = 0, cpu_ms = 0, server_ms = 0;
  for (int start = 0; start < discs; start += kBatchDiscs) {
    const int count = std::min(kBatchDiscs, discs - start);
    const auto batch = MakeDiscs(words, draw, rng, start, count, artists, &drawn);
    for (const DiscRecord& d : batch)
      for (const auto& t : d.tracks) g.signatures += 1 + static_cast<int64_t>(t.ladder.size());
    if (store) {
      const double server_start = server_cpu ? server_cpu() : 0;
      const double cpu_start = ProcessCpuMs();
      const auto t0 = Clock::now();
      if (!store->AddDiscs(batch, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
      }
      import_ms += MsSince(t0);
      cpu_ms += ProcessCpuMs() - cpu_start;
      if (server_cpu) server_ms += server_cpu() - server_start;
    }
    for (const auto& [d, place] : sampled) {
      if (d < start || d >= start + count) continue;
      const DiscRecord& disc = batch[d - start];
      const size_t t = pick_rng() % disc.tracks.size();
      const auto& track = disc.tracks[t];
      const SignatureDraw::Track& signatures = drawn[(d - start) * kTracksPerDisc + t];
      g.samples[place] = {track.identifier, disc.identifier, track.title, disc.artist,
                          disc.album,       track.number,    0,           signatures.item,
                          signatures.offset};
    }
  }
  g.import_s = import_ms / 1000;
  g.import_cpu_s = cpu_ms / 1000;
  if (server_cpu) g.import_server_cpu_s = server_ms / 1000;
  return g;
}

void Report(Table& table, size_t column, const std::string& what, const Timings& t,
            bool right = true) {
  table.Set(what + ": ms p50 / p99", column, t.Wall());
  table.Set(what + ": CPU ms p50 / p99", column, t.Cpu());
  if (!t.server.empty()) table.Set(what + ": server CPU ms p50 / p99", column, t.Server());
  if (right) table.Set(what + ": own track first", column, t.Right());
}

bool Same(const std::vector<catalog::TrackHit>& a, const std::vector<catalog::TrackHit>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].disc_id != b[i].disc_id || a[i].track != b[i].track ||
        a[i].distance != b[i].distance) {
      return false;
    }
  }
  return true;
}

// Drops the file from the page cache, as after a restart (only this file's pages).
void DropFromPageCache(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Answers in words, discs named by identifier (read outside the timed calls).
class AnswerWords {
 public:
  explicit AnswerWords(CatalogStore& store) : store_(store) {}
  std::string Of(const MatchAnswer& a) {
    std::string words = "kind " + std::to_string(a.kind) + ":";
    for (const catalog::Match& m : a.matches) {
      words += " " + Identifier(m.disc_id) + "/" + std::to_string(m.track) + "@" +
               std::to_string(m.score);
    }
    return words;
  }
  static std::string Of(const catalog::DiscPtr& disc) {
    if (!disc) return "none";
    std::string words = disc->identifier + "|" + disc->album + "|" + disc->artist + "|" +
                        std::to_string(disc->track_count);
    for (const catalog::TrackRecord& t : disc->tracks) {
      words += "|" + std::to_string(t.number) + " " + t.title + " " + t.identifier + " " +
               std::to_string(t.length_ms) + " " +
               (t.signature ? catalog::FormatSignature(*t.signature) : std::string("-")) + " +" +
               std::to_string(t.ladder.size());
    }
    return words;
  }

 private:
  const std::string& Identifier(int64_t disc_id) {
    auto found = identifiers_.find(disc_id);
    if (found == identifiers_.end()) {
      const catalog::DiscPtr disc = store_.DiscById(disc_id);
      found = identifiers_.emplace(disc_id, disc ? disc->identifier : "?").first;
    }
    return found->second;
  }
  CatalogStore& store_;
  std::map<int64_t, std::string> identifiers_;
};

// Lookups through the store, as the control runs them: open, index, waveform, text, identifier.
void MeasureStore(const Backend& backend, int tracks, std::vector<Sample>& samples,
                  const SignatureDraw& draw, Table& table, size_t column, bool open_only,
                  Answers* answers) {
  const std::string location = backend.Location(tracks);
  std::string error;
  if (!backend.server) {
    DropFromPageCache(location);
    const auto t0 = Clock::now();
    auto store = CatalogStore::Open(location, CatalogStore::OpenMode::kExisting, &error);
    table.Set("open, file not in the page cache (ms)", column, Format("%.1f", MsSince(t0)));
  }
  malloc_trim(0);
  const double rss_before = ResidentMb();
  auto t0 = Clock::now();
  auto store = CatalogStore::Open(location, CatalogStore::OpenMode::kExisting, &error);
  table.Set("open (ms)", column, Format("%.1f", MsSince(t0)));
  if (!store) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  const auto server_cpu = backend.ServerCpu(tracks);
  const double rss_open = ResidentMb();
  table.Set("resident memory after open (MB, +open)", column,
            Format("%.0f (+%.1f)", rss_open, rss_open - rss_before));
  std::mt19937 rng(5);
  std::vector<Signature> copies, strangers;
  for (const Sample& s : samples) copies.push_back(draw.Copy(s.item, s.offset, rng));
  for (size_t i = 0; i < samples.size(); ++i) strangers.push_back(draw.Stranger(rng));
  t0 = Clock::now();
  const double cpu_start = ProcessCpuMs();
  const double server_start = server_cpu ? server_cpu() : 0;
  catalog::MatchWaveform(*store, strangers[0]);
  table.Set("first waveform lookup, builds the index (ms)", column, Format("%.0f", MsSince(t0)));
  table.Set("  CPU of all threads (s)", column,
            Format("%.1f", (ProcessCpuMs() - cpu_start) / 1000));
  if (server_cpu) {
    table.Set("  server CPU (s)", column, Format("%.1f", (server_cpu() - server_start) / 1000));
  }
  const double rss_index = ResidentMb();
  table.Set("resident memory after the index (MB, +index)", column,
            Format("%.0f (+%.0f)", rss_index, rss_index - rss_open));
  std::printf("  opened, index built (load %s)\n", LoadAverage().c_str());
  if (open_only) return;

  for (Sample& s : samples) s.disc_id = store->DiscByIdentifier(s.disc_identifier)->id;
  Timings copy_times{server_cpu}, stranger_times{server_cpu};
  std::vector<MatchAnswer> copy_answers, stranger_answers;
  int same = 0, answered_strangers = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    const MatchAnswer a = copy_times.Time([&] { return MatchWaveform(*store, copies[i]); });
    copy_times.right += !a.matches.empty() && a.matches[0].disc_id == samples[i].disc_id &&
                        a.matches[0].track == samples[i].track;
    const MatchAnswer b = stranger_times.Time([&] { return MatchWaveform(*store, strangers[i]); });
    answered_strangers += !b.matches.empty();
    for (const Signature& q : {copies[i], strangers[i]}) {
      same += Same(store->NearestSignatures(q, kMax, kLimit),
                   store->NearestSignaturesByScan(q, kMax, kLimit));
    }
    copy_answers.push_back(a);
    stranger_answers.push_back(b);
  }
  Report(table, column, "waveform lookup, copy", copy_times);
  Report(table, column, "waveform lookup, not catalogued", stranger_times, false);
  table.Set("waveform lookup, not catalogued: answered", column,
            Format("%.1f%%", 100.0 * answered_strangers / static_cast<double>(samples.size())));
  table.Set("waveform answers equal to the exact scan's", column,
            Format("%.2f%%", 100.0 * same / (2.0 * static_cast<double>(samples.size()))));
  std::printf("  waveform lookups done (load %s)\n", LoadAverage().c_str());

  const char* kinds[] = {"text lookup, exact tags", "text lookup, typo in title",
                         "text lookup, part of title"};
  Timings text[3] = {{server_cpu}, {server_cpu}, {server_cpu}};
  std::vector<MatchAnswer> text_answers[3];
  for (const Sample& s : samples) {
    std::string typo = s.title;
    const size_t at = 1 + rng() % (typo.size() - 1);
    typo[at] = typo[at] == 'x' ? 'q' : 'x';
    std::string partial = s.title;
    if (const size_t space = partial.rfind(' '); space != std::string::npos) {
      partial.resize(space);
    } else {
      partial.resize(std::max<size_t>(3, partial.size() * 2 / 3));
    }
    const TextQuery queries[] = {
        {Utf8ToUtf16(s.title), Utf8ToUtf16(s.artist), Utf8ToUtf16(s.album), {}},
        {Utf8ToUtf16(typo), Utf8ToUtf16(s.artist), {}, {}},
        {Utf8ToUtf16(partial), Utf8ToUtf16(s.artist), {}, {}}};
    for (size_t k = 0; k < 3; ++k) {
      const MatchAnswer a = text[k].Time([&] { return MatchText(*store, queries[k]); });
      text[k].right +=
          !a.matches.empty() && a.matches[0].disc_id == s.disc_id && a.matches[0].track == s.track;
      text_answers[k].push_back(a);
    }
  }
  for (size_t k = 0; k < 3; ++k) Report(table, column, kinds[k], text[k]);
  std::printf("  text lookups done (load %s)\n", LoadAverage().c_str());

  Timings by_disc{server_cpu}, by_track{server_cpu};
  std::vector<std::string> discs;
  for (const Sample& s : samples) {
    const catalog::DiscPtr disc =
        by_disc.Time([&] { return store->DiscByIdentifier(s.disc_identifier); });
    by_disc.right += disc && disc->id == s.disc_id;
    const auto hit = by_track.Time([&] { return store->TrackByIdentifier(s.identifier); });
    by_track.right += hit && hit->disc_id == s.disc_id && hit->track == s.track;
    discs.push_back(AnswerWords::Of(disc));
  }
  Report(table, column, "disc by identifier (tracks, rungs)", by_disc, false);
  Report(table, column, "track by identifier", by_track);

  AnswerWords words(*store);
  for (size_t i = 0; i < samples.size(); ++i) {
    (*answers)["waveform lookup, copy"].push_back(words.Of(copy_answers[i]));
    (*answers)["waveform lookup, not catalogued"].push_back(words.Of(stranger_answers[i]));
    for (size_t k = 0; k < 3; ++k) (*answers)[kinds[k]].push_back(words.Of(text_answers[k][i]));
  }
  (*answers)["disc by identifier"] = std::move(discs);
}

constexpr TrackIdKind kTrackIdKinds[] = {TrackIdKind::kIdentifier, TrackIdKind::kText,
                                         TrackIdKind::kFingerprint};

// TrackID through both modules: a manager bound to a catalogue control that opened the location.
void MeasureTrackID(const Modules& modules, const FingerprintDocuments& documents,
                    const Backend& backend, int tracks, const std::vector<Sample>& samples,
                    const SignatureDraw& draw, Table& table, size_t column, Answers* answers) {
  StudyHost host(modules, documents, backend.Location(tracks));
  std::mt19937 rng(6);
  {
    // The control's first waveform lookup builds its index: not counted.
    Timings first;
    host.ByFingerprint(draw.Stranger(rng), first);
    table.Set("TrackID, first by fingerprint, builds the index (ms)", column,
              Format("%.0f", first.wall[0]));
  }
  const auto server_cpu = backend.ServerCpu(tracks);
  Timings times[3] = {{server_cpu}, {server_cpu}, {server_cpu}};
  for (const Sample& s : samples) {
    const Signature copy = draw.Copy(s.item, s.offset, rng);
    for (size_t k = 0; k < 3; ++k) {
      const Identified found = host.Identify(kTrackIdKinds[k], s, copy, times[k]);
      times[k].right += found.Is(s);
      (*answers)[std::string("TrackID ") + TrackIdName(kTrackIdKinds[k])].push_back(found.Key());
    }
  }
  for (size_t k = 0; k < 3; ++k) {
    Report(table, column, std::string("TrackID ") + TrackIdName(kTrackIdKinds[k]), times[k]);
  }
  std::printf("  TrackID done (load %s)\n", LoadAverage().c_str());
}

// One identifying process, then `processes` at once, on the same samples.
void MeasureProcesses(const Modules& modules, const FingerprintDocuments& documents,
                      const Backend& backend, int tracks, const std::vector<Sample>& pool,
                      const SignatureDraw& draw, int processes, Table& table, size_t column) {
  std::mt19937 rng(7);
  std::vector<Signature> copies;
  for (const Sample& s : pool) copies.push_back(draw.Copy(s.item, s.offset, rng));
  const Signature stranger = draw.Stranger(rng);
  std::function<std::vector<int>()> backends;
  if (backend.server && backend.server->local()) {
    backends = [&] { return backend.server->Backends(backend.Database(tracks)); };
  }
  for (int p : {1, processes}) {
    const auto runs =
        RunProcesses(p, backend.Location(tracks), modules, documents, pool, copies, stranger,
                     {std::begin(kTrackIdKinds), std::end(kTrackIdKinds)}, backends);
    for (const ProcessRun& run : runs) {
      const std::string what = std::string("TrackID ") + TrackIdName(run.kind) + ", " +
                               std::to_string(p) + (p == 1 ? " process" : " processes");
      table.Set(what + ": per s (own track first)", column,
                Format("%.0f (%.1f%%)", run.identifications / run.wall_s,
                       100.0 * run.right / std::max(1, run.identifications)));
      std::string medians;
      for (size_t i = 0; i < run.wall_p50_ms.size(); ++i) {
        medians +=
            (i ? " " : "") + Format(run.wall_p50_ms[i] < 10 ? "%.2f" : "%.1f", run.wall_p50_ms[i]);
      }
      table.Set(what + ": ms p50 of each", column, medians);
      const double n = std::max(1, run.identifications);
      table.Set(what + ": CPU ms each (+ server)", column,
                run.server_cpu_s < 0 ? Format("%.2f", run.client_cpu_s * 1000 / n)
                                     : Format("%.2f + %.2f", run.client_cpu_s * 1000 / n,
                                              run.server_cpu_s * 1000 / n));
    }
    std::printf("  %d identifying process%s done (load %s)\n", p, p == 1 ? "" : "es",
                LoadAverage().c_str());
  }
}

// How many answers of each kind a backend gave the same as the first backend.
void CompareAnswers(const Answers& reference, const Answers& answers, Table& table, size_t column) {
  for (const auto& [what, list] : answers) {
    const auto& ref = reference.at(what);
    size_t same = 0, shown = 0;
    for (size_t i = 0; i < list.size() && i < ref.size(); ++i) {
      if (list[i] == ref[i]) {
        ++same;
      } else if (shown++ < 2) {
        std::printf("  differs, %s #%zu:\n    %s\n    %s\n", what.c_str(), i, ref[i].c_str(),
                    list[i].c_str());
      }
    }
    table.Set("same answer as SQLite: " + what, column,
              Format("%.0f of %.0f", static_cast<double>(same), static_cast<double>(list.size())));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<int> sizes;
  int queries = 200, processes = 0, process_queries = 2000;
  bool keep = false, open_only = false;
  const char* postgres = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--queries" && i + 1 < argc) {
      queries = std::atoi(argv[++i]);
    } else if (arg == "--keep") {
      keep = true;
    } else if (arg == "--open-only") {
      open_only = true;
    } else if (arg == "--postgres" && i + 1 < argc && CatalogStore::IsServerLocation(argv[i + 1])) {
      postgres = argv[++i];
    } else if (arg == "--processes" && i + 1 < argc && std::atoi(argv[i + 1]) > 1) {
      processes = std::atoi(argv[++i]);
    } else if (arg == "--process-queries" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      process_queries = std::atoi(argv[++i]);
    } else if (std::atoi(arg.c_str()) >= kTracksPerDisc * 10) {
      sizes.push_back(std::atoi(arg.c_str()));
    } else {
      std::fprintf(stderr,
                   "usage: bench_catalog_scale_study [--queries N] [--keep] [--open-only]\n"
                   "         [--postgres postgresql://...] [--processes P [--process-queries M]]"
                   " [TRACKS ...]\n");
      return 2;
    }
  }
  if (queries < 1) queries = 1;
  if (sizes.empty()) sizes = {10000, 100000, 1000000};
  const auto start = Clock::now();
  const SignatureDraw draw;
  size_t rungs = 0;
  for (const StudyItem& item : draw.items()) rungs += item.ladder.size();
  std::printf("%zu study items (%.1f rungs an item) in %.0f s\n", draw.items().size(),
              static_cast<double>(rungs) / static_cast<double>(draw.items().size()),
              MsSince(start) / 1000);
  std::unique_ptr<StudyServer> server;
  std::vector<Backend> backends = {{"SQLite", nullptr}};
  if (postgres) {
    server = std::make_unique<StudyServer>(postgres);
    backends.push_back({"PostgreSQL", server.get()});
    std::printf("server: %s\n", server->Describe().c_str());
  }
  const Modules modules;
  const FingerprintDocuments documents;
  Table table;
  std::vector<std::string> columns;
  for (int tracks : sizes)
    for (const Backend& b : backends) columns.push_back(std::to_string(tracks) + " " + b.name);
  const int pool = std::max(queries, processes > 0 ? process_queries : 0);
  for (size_t n = 0; n < sizes.size(); ++n) {
    const int tracks = sizes[n];
    Answers reference;
    for (size_t b = 0; b < backends.size(); ++b) {
      const Backend& backend = backends[b];
      const size_t c = n * backends.size() + b;
      const auto size_start = Clock::now();
      const std::string load_start = LoadAverage();
      const fs::path file = backend.File(tracks);
      const fs::path complete = file.string() + ".complete";
      bool reuse = false;
      if (backend.server) {
        reuse = keep && backend.server->Complete(backend.Database(tracks));
        if (!reuse) backend.server->Create(backend.Database(tracks));
      } else {
        reuse = keep && fs::exists(file) && fs::exists(complete);
        fs::remove(complete);
        if (!reuse) fs::remove(file);
      }
      std::printf("\n%d tracks, %s%s (load %s)\n", tracks, backend.name.c_str(),
                  reuse ? ", kept catalogue" : "", load_start.c_str());
      Generated g = Generate(backend, tracks, pool, reuse, draw);
      if (keep) {
        // Marks the kept catalogue whole, for the next run.
        if (backend.server) {
          backend.server->MarkComplete(backend.Database(tracks));
        } else if (std::FILE* f = std::fopen(complete.c_str(), "w")) {
          std::fclose(f);
        }
      }
      table.Set("signatures a track (rungs)", c,
                Format("%.2f", static_cast<double>(g.signatures) / tracks));
      table.Set("import (tracks/s)", c,
                g.import_s > 0 ? Format("%.0f", tracks / g.import_s) : std::string("kept"));
      if (g.import_s > 0) {
        table.Set("import CPU, this process + server (s)", c,
                  g.import_server_cpu_s < 0
                      ? Format("%.1f", g.import_cpu_s)
                      : Format("%.1f + %.1f", g.import_cpu_s, g.import_server_cpu_s));
      }
      table.Set("size on disk (MB)", c,
                Format("%.1f", backend.server ? backend.server->SizeMb(backend.Database(tracks))
                                              : static_cast<double>(fs::file_size(file)) / 1e6));
      std::printf("  generated (load %s)\n", LoadAverage().c_str());
      std::vector<Sample> samples(g.samples.begin(), g.samples.begin() + queries);
      Answers answers;
      MeasureStore(backend, tracks, samples, draw, table, c, open_only, &answers);
      if (!open_only) {
        MeasureTrackID(modules, documents, backend, tracks, samples, draw, table, c, &answers);
        if (processes > 0) {
          MeasureProcesses(modules, documents, backend, tracks, g.samples, draw, processes, table,
                           c);
        }
        if (b == 0) {
          reference = std::move(answers);
        } else {
          CompareAnswers(reference, answers, table, c);
        }
      }
      table.Set("load average 1 min / 5 min, start", c, load_start);
      table.Set("load average 1 min / 5 min, end", c, LoadAverage());
      table.Set("run time of this size and backend (s)", c,
                Format("%.0f", MsSince(size_start) / 1000));
      if (!keep) {
        if (backend.server) {
          backend.server->Drop(backend.Database(tracks));
        } else {
          fs::remove(file);
        }
      }
      table.Print(columns);
    }
  }
  std::printf("\nRun time %.0f s.\n", MsSince(start) / 1000);
  return 0;
}
