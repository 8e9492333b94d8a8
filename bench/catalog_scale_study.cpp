// The catalogue at scale, side by side in one run: catalogues generated at each size (in the
// temporary folder, removed after), titles, artists and albums drawn from a word list and
// signature ladders drawn like real ones (bench_catalog.h). At each size it measures the import
// rate, the file size, the open time (file in the page cache, and dropped from it first), the
// first waveform lookup (which builds the signature index) with the resident memory after each,
// then the median and 99th percentile of waveform lookups (copies of catalogue tracks, and
// recordings the catalogue does not hold), of text lookups (exact tags, a typo in the title,
// part of the title) and of TrackID through both modules, loaded as a host loads them, by an
// identifier in the tag, by text and by a fingerprint the host hands in. One table at the end, a
// column per size.
//
//   bench_catalog_scale_study [--queries N] [--keep] [--open-only] [TRACKS ...]
//     default 10000 100000 1000000 tracks, 200 queries of each kind. --keep leaves the
//     catalogues in the temporary folder and uses them again on the next run (no import then);
//     --open-only stops after the first waveform lookup (to compare index builds).
//
// Lookup times are wall clock, with the thread's CPU time beside them: on a shared machine the
// wall clock also counts the time other programs hold the cores. The load average is printed.
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_catalog.h"
#include "catalog/catalog_control.h"
#include "catalog/matching.h"
#include "fingerprint/fingerprint_document.h"
#include "pelk/fingerprint_interfaces.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "runtime/com_create.h"
#include "runtime/utf.h"

namespace {

namespace fs = std::filesystem;
using namespace pelk;
using bench::SignatureDraw;
using catalog::CatalogStore;
using catalog::DiscRecord;
using catalog::MatchAnswer;
using catalog::Signature;
using catalog::TextQuery;
using Clock = std::chrono::steady_clock;

constexpr int kTracksPerDisc = 10;
constexpr int kBatchDiscs = 5000;
constexpr size_t kLimit = 16;  // the waveform candidates the matcher asks for
const int64_t kMax = catalog::WaveformThresholds{}.max_distance;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// CPU time of every thread of the process (the index build uses two).
double ProcessCpuS() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ResidentMb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  char line[256];
  long kb = 0;
  while (f && std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::atol(line + 6);
  }
  if (f) std::fclose(f);
  return static_cast<double>(kb) / 1024;
}

std::string LoadAverage() {
  double one = 0, five = 0;
  FILE* f = std::fopen("/proc/loadavg", "r");
  if (f && std::fscanf(f, "%lf %lf", &one, &five) != 2) one = five = 0;
  if (f) std::fclose(f);
  char text[32];
  std::snprintf(text, sizeof text, "%.2f/%.2f", one, five);
  return text;
}

std::string Format(const char* format, double a, double b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// Wall and CPU times of repeated calls.
struct Timings {
  std::vector<double> wall, cpu;
  int right = 0;

  template <class F>
  auto Time(F&& f) {
    const double cpu_start = CpuMs();
    const auto start = Clock::now();
    auto result = f();
    wall.push_back(MsSince(start));
    cpu.push_back(CpuMs() - cpu_start);
    return result;
  }
  static double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
  }
  std::string Wall() const {
    return Format("%.3f / %.3f", Percentile(wall, 0.5), Percentile(wall, 0.99));
  }
  std::string Cpu() const {
    return Format("%.3f / %.3f", Percentile(cpu, 0.5), Percentile(cpu, 0.99));
  }
  std::string Right() const {
    return Format("%.1f%%", wall.empty() ? 0 : 100.0 * right / static_cast<double>(wall.size()));
  }
};

// A catalogue track the lookups look for.
struct Sample {
  std::string identifier, disc_identifier, title, artist, album;
  int32_t track = 0;
  int64_t disc_id = 0;  // once the catalogue is open
  uint32_t item = 0;
  SignatureDraw::Offset offset{};
};

// The table: rows in the order first given, a column per size.
class Table {
 public:
  void Set(const std::string& row, size_t column, const std::string& value) {
    if (!cells_.count(row)) rows_.push_back(row);
    auto& cells = cells_[row];
    if (cells.size() <= column) cells.resize(column + 1);
    cells[column] = value;
  }
  void Print(const std::vector<int>& sizes) const {
    std::printf("\n%-54s", "tracks");
    for (int n : sizes) std::printf(" %22d", n);
    std::printf("\n");
    for (const std::string& row : rows_) {
      std::printf("%-54s", row.c_str());
      for (size_t c = 0; c < sizes.size(); ++c) {
        const auto& cells = cells_.at(row);
        std::printf(" %22s", c < cells.size() ? cells[c].c_str() : "");
      }
      std::printf("\n");
    }
  }

 private:
  std::vector<std::string> rows_;
  std::map<std::string, std::vector<std::string>> cells_;
};

// Both modules, loaded once as a host loads them.
class Modules {
 public:
  using GetObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
  Modules() {
    void* control = dlopen(SONQUIX_CONTROL_MODULE, RTLD_NOW | RTLD_LOCAL);
    void* sonquix = dlopen(SONQUIX_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!control || !sonquix) {
      std::fprintf(stderr, "cannot load the modules: %s\n", dlerror());
      std::exit(1);
    }
    control_get = reinterpret_cast<GetObjectFn>(dlsym(control, "DllGetObject"));
    sonquix_get = reinterpret_cast<GetObjectFn>(dlsym(sonquix, "DllGetObject"));
    using HinstFn = HRESULT (*)(HMODULE);
    reinterpret_cast<HinstFn>(dlsym(sonquix, "DllSetPelkHINST"))(control);
  }
  GetObjectFn control_get = nullptr;
  GetObjectFn sonquix_get = nullptr;
};

// A FINGERPRINT document as the engine writes it, with the signature replaced.
class FingerprintDocuments {
 public:
  FingerprintDocuments() {
    const bench::study::Pcm pcm = bench::study::MakeMusic(1);
    fingerprint::StreamExtractor extractor(pcm.rate, 16, pcm.channels);
    extractor.Write(pcm.samples.data(), static_cast<int32_t>(pcm.samples.size() * 2));
    std::string_view text;
    if (extractor.Output(&text) != fingerprint::kExtractOk) {
      std::fprintf(stderr, "the engine made no fingerprint\n");
      std::exit(1);
    }
    report_ = extractor.report();
  }
  std::string Of(const Signature& s) const {
    fingerprint::FingerprintReport report = report_;
    report.signature.assign(s.begin(), s.end());
    return fingerprint::WriteFingerprintDocument(report, fingerprint::ExtractionConfig());
  }

 private:
  fingerprint::FingerprintReport report_;
};

std::vector<DiscRecord> MakeDiscs(bench::WordDraw& words, const SignatureDraw& draw,
                                  std::mt19937& rng, int first, int count,
                                  const std::vector<std::string>& artists,
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
      drawn->push_back(bench::DrawSignatures(draw, rng, &track));
      drawn->back().rungs.clear();  // kept in the track
      disc.tracks.push_back(std::move(track));
    }
    out.push_back(std::move(disc));
  }
  return out;
}

struct Generated {
  std::vector<Sample> samples;
  double import_s = 0;  // 0: the kept file was used
  int64_t signatures = 0;
};

// Writes the catalogue (unless a kept one is there) and draws the sampled tracks.
Generated Generate(const fs::path& path, int tracks, int queries, bool reuse,
                   const SignatureDraw& draw) {
  Generated g;
  bench::WordDraw words;
  std::mt19937 rng(42), pick_rng(9);
  const int discs = tracks / kTracksPerDisc;
  std::vector<std::string> artists;
  for (int a = 0; a < std::max(1, discs / 4); ++a) {
    artists.push_back(words.Phrase(rng, 1 + static_cast<int>(rng() % 3)));
  }
  std::vector<int> sampled;
  for (int i = 0; i < queries; ++i) sampled.push_back(static_cast<int>(pick_rng() % discs));
  std::sort(sampled.begin(), sampled.end());
  std::unique_ptr<CatalogStore> store;
  std::string error;
  if (!reuse) {
    fs::remove(path);
    store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, &error);
    if (!store) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
  }
  std::vector<SignatureDraw::Track> drawn;
  Clock::duration import_time{};
  for (int start = 0; start < discs; start += kBatchDiscs) {
    const int count = std::min(kBatchDiscs, discs - start);
    const auto batch = MakeDiscs(words, draw, rng, start, count, artists, &drawn);
    for (const DiscRecord& d : batch)
      for (const auto& t : d.tracks) g.signatures += 1 + static_cast<int64_t>(t.ladder.size());
    if (store) {
      const auto t0 = Clock::now();
      if (!store->AddDiscs(batch, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
      }
      import_time += Clock::now() - t0;
    }
    for (int d : sampled) {
      if (d < start || d >= start + count) continue;
      const DiscRecord& disc = batch[d - start];
      const size_t t = pick_rng() % disc.tracks.size();
      const auto& track = disc.tracks[t];
      const SignatureDraw::Track& signatures = drawn[(d - start) * kTracksPerDisc + t];
      g.samples.push_back({track.identifier, disc.identifier, track.title, disc.artist, disc.album,
                           track.number, 0, signatures.item, signatures.offset});
    }
  }
  g.import_s = std::chrono::duration<double>(import_time).count();
  return g;
}

void Report(Table& table, size_t column, const std::string& what, const Timings& t,
            bool right = true) {
  table.Set(what + ": ms p50 / p99", column, t.Wall());
  table.Set(what + ": CPU ms p50 / p99", column, t.Cpu());
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

// Lookups through the store, as the control runs them: open, index, waveform and text.
void MeasureStore(const fs::path& path, std::vector<Sample>& samples, const SignatureDraw& draw,
                  Table& table, size_t column, bool open_only) {
  std::string error;
  DropFromPageCache(path);
  auto t0 = Clock::now();
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kExisting, &error);
  table.Set("open, file not in the page cache (ms)", column, Format("%.1f", MsSince(t0)));
  store.reset();

  malloc_trim(0);
  const double rss_before = ResidentMb();
  t0 = Clock::now();
  store = CatalogStore::Open(path, CatalogStore::OpenMode::kExisting, &error);
  table.Set("open (ms)", column, Format("%.1f", MsSince(t0)));
  if (!store) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  const double rss_open = ResidentMb();
  table.Set("resident memory after open (MB, +open)", column,
            Format("%.0f (+%.1f)", rss_open, rss_open - rss_before));
  std::mt19937 rng(5);
  std::vector<Signature> copies, strangers;
  for (const Sample& s : samples) copies.push_back(draw.Copy(s.item, s.offset, rng));
  for (size_t i = 0; i < samples.size(); ++i) strangers.push_back(draw.Stranger(rng));
  t0 = Clock::now();
  const double cpu_start = ProcessCpuS();
  catalog::MatchWaveform(*store, strangers[0]);
  table.Set("first waveform lookup, builds the index (ms)", column, Format("%.0f", MsSince(t0)));
  table.Set("  CPU of all threads (s)", column, Format("%.1f", ProcessCpuS() - cpu_start));
  const double rss_index = ResidentMb();
  table.Set("resident memory after the index (MB, +index)", column,
            Format("%.0f (+%.0f)", rss_index, rss_index - rss_open));
  std::printf("  opened, index built (load %s)\n", LoadAverage().c_str());
  if (open_only) return;

  for (Sample& s : samples) s.disc_id = store->DiscByIdentifier(s.disc_identifier)->id;
  Timings copy_times, stranger_times;
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
  Timings text[3];
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
    }
  }
  for (size_t k = 0; k < 3; ++k) Report(table, column, kinds[k], text[k]);
  std::printf("  text lookups done (load %s)\n", LoadAverage().c_str());
}

// TrackID through both modules: a manager bound to a catalogue control that opened the file.
void MeasureTrackID(const Modules& modules, const FingerprintDocuments& documents,
                    const fs::path& path, const std::vector<Sample>& samples,
                    const SignatureDraw& draw, Table& table, size_t column) {
  ComPtr<IPELKSonquixManager3> manager;
  modules.sonquix_get(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid, manager.OutVoid());
  ComPtr<ILookupControl> control;
  modules.control_get(CLSID_PelkLookupControl, ILookupControl::kIid, control.OutVoid());
  if (!manager || !control ||
      FAILED(control.As<catalog::IPelkCatalogControl>()->OpenCatalog(
          Bstr::FromUtf8(path.string()).Get())) ||
      FAILED(manager->Initialize(control.Get()))) {
    std::fprintf(stderr, "the manager did not initialize with the catalogue\n");
    std::exit(1);
  }
  const auto record_of = [&](const std::string& file) {
    ComPtr<IPelkFileInfo> record;
    modules.sonquix_get(CLSID_PelkFileInfo, IPelkFileInfo::kIid, record.OutVoid());
    record->put_Filename(Bstr::FromUtf8(file).Get());
    ComPtr<IFileTag> tag;
    modules.control_get(CLSID_PelkFileTag, IFileTag::kIid, tag.OutVoid());
    record->put_Tag(tag.Get());
    return std::make_pair(record, tag);
  };
  const auto fingerprint_of = [&](const Signature& s) {
    ComPtr<IPelkSonquixFingerprint> fingerprint;
    modules.sonquix_get(CLSID_PelkSonquixFingerprint, IPelkSonquixFingerprint::kIid,
                        fingerprint.OutVoid());
    const std::string document = documents.Of(s);
    fingerprint->SetFPData(document.data(), static_cast<int32_t>(document.size()));
    return fingerprint;
  };
  const auto found = [](IPelkFileInfoList* list, const Sample& s) {
    ComPtr<IPelkFileInfo> first;
    ComPtr<IDiscInfo> disc;
    Bstr identifier;
    int32_t track = 0;
    if (!list || FAILED(list->GetFileInfo(1, first.Out())) || !first) return false;
    first->get_TrackNum(&track);
    if (FAILED(first->get_Disc(disc.Out())) || !disc) return false;
    disc->get_Identifier(identifier.Out());
    return identifier.Utf8() == s.disc_identifier && track == s.track;
  };
  const auto run = [&](Timings& t, IPelkFileInfo* record, int32_t options, const Sample& s) {
    int32_t code = 0;
    ComPtr<IPelkFileInfoList> list;
    t.Time([&] { return manager->TrackID(record, options, &code, list.Out()); });
    t.right += found(list.Get(), s);
  };
  // A file whose name says nothing: the fingerprint alone finds the track.
  const std::string anonymous = "/music/incoming/01.flac";
  std::mt19937 rng(6);
  {
    // The control's first waveform lookup builds its index: not counted.
    auto [record, tag] = record_of(anonymous);
    record->put_Fingerprint(fingerprint_of(draw.Stranger(rng)).Get());
    Timings first;
    run(first, record.Get(), 0, samples[0]);
    table.Set("TrackID, first by fingerprint, builds the index (ms)", column,
              Format("%.0f", first.wall[0]));
  }
  Timings by_identifier, by_text, by_fingerprint;
  for (const Sample& s : samples) {
    const std::string file = "/music/" + s.artist + "/" + s.album + "/" + s.title + ".flac";
    {
      auto [record, tag] = record_of(file);
      tag->put_Identifier(Bstr::FromUtf8(s.identifier).Get());
      run(by_identifier, record.Get(), 0, s);
    }
    {
      auto [record, tag] = record_of(file);
      tag->put_Artist(Bstr::FromUtf8(s.artist).Get());
      tag->put_Title(Bstr::FromUtf8(s.title).Get());
      run(by_text, record.Get(), SONQUIX_DEFAULT_OPTIONS | SONQUIX_DISABLE_WF_QUERIES, s);
    }
    {
      auto [record, tag] = record_of(anonymous);
      record->put_Fingerprint(fingerprint_of(draw.Copy(s.item, s.offset, rng)).Get());
      run(by_fingerprint, record.Get(), 0, s);
    }
  }
  Report(table, column, "TrackID by identifier", by_identifier);
  Report(table, column, "TrackID by text", by_text);
  Report(table, column, "TrackID by host fingerprint", by_fingerprint);
  manager->Shutdown();
  std::printf("  TrackID done (load %s)\n", LoadAverage().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<int> sizes;
  int queries = 200;
  bool keep = false, open_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--queries" && i + 1 < argc) {
      queries = std::atoi(argv[++i]);
    } else if (arg == "--keep") {
      keep = true;
    } else if (arg == "--open-only") {
      open_only = true;
    } else if (std::atoi(arg.c_str()) >= kTracksPerDisc * 10) {
      sizes.push_back(std::atoi(arg.c_str()));
    } else {
      std::fprintf(
          stderr,
          "usage: bench_catalog_scale_study [--queries N] [--keep] [--open-only] [TRACKS ...]\n");
      return 2;
    }
  }
  if (sizes.empty()) sizes = {10000, 100000, 1000000};
  const auto start = Clock::now();
  const SignatureDraw draw;
  size_t rungs = 0;
  for (const bench::StudyItem& item : draw.items()) rungs += item.ladder.size();
  std::printf("%zu study items (%.1f rungs an item) in %.0f s\n", draw.items().size(),
              static_cast<double>(rungs) / static_cast<double>(draw.items().size()),
              MsSince(start) / 1000);
  const Modules modules;
  const FingerprintDocuments documents;
  Table table;
  for (size_t c = 0; c < sizes.size(); ++c) {
    const int tracks = sizes[c];
    const auto size_start = Clock::now();
    const std::string load_start = LoadAverage();
    const fs::path path =
        fs::temp_directory_path() / ("pelk-scale-" + std::to_string(tracks) + ".db");
    const fs::path complete = path.string() + ".complete";
    const bool reuse = keep && fs::exists(path) && fs::exists(complete);
    std::printf("\n%d tracks%s (load %s)\n", tracks, reuse ? ", kept catalogue" : "",
                load_start.c_str());
    fs::remove(complete);
    Generated g = Generate(path, tracks, queries, reuse, draw);
    if (keep) {
      // Marks the kept catalogue whole, for the next run.
      if (std::FILE* f = std::fopen(complete.c_str(), "w")) std::fclose(f);
    }
    table.Set("signatures a track (rungs)", c,
              Format("%.2f", static_cast<double>(g.signatures) / tracks));
    table.Set("import (tracks/s)", c,
              g.import_s > 0 ? Format("%.0f", tracks / g.import_s) : std::string("kept file"));
    table.Set("file size (MB)", c, Format("%.1f", static_cast<double>(fs::file_size(path)) / 1e6));
    std::printf("  generated (load %s)\n", LoadAverage().c_str());
    MeasureStore(path, g.samples, draw, table, c, open_only);
    if (!open_only) MeasureTrackID(modules, documents, path, g.samples, draw, table, c);
    table.Set("load average 1 min / 5 min, start", c, load_start);
    table.Set("load average 1 min / 5 min, end", c, LoadAverage());
    table.Set("run time of this size (s)", c, Format("%.0f", MsSince(size_start) / 1000));
    if (!keep) fs::remove(path);
    table.Print(sizes);
  }
  std::printf("\nRun time %.0f s.\n", MsSince(start) / 1000);
  return 0;
}
