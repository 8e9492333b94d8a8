// Waveform lookups at catalogue scale: the exact scan, the signature index and FAISS's L1
// indexes side by side on signatures drawn like real ones (bench/waveform_signatures.h), at the
// sizes given (tracks; default 10000 100000). Reports build time, memory, lookup median and p99,
// and the agreement of each answer with the exact scan's (the tracks within the acceptance
// distance, nearest first, best rung each, at most the 16 the matcher asks for), for copies of
// catalogue tracks and for recordings not in the catalogue.
//
//   bench_waveform_index_study [--hnsw-max TRACKS] [--flat-max TRACKS] [--store]
//                              [--postgres LOCATION [--server-queries N] [--scan-queries N]]
//                              [TRACKS ...]
// With --store, the same tracks go into a catalogue file instead (in the temporary folder,
// removed after): import time, open time, the first waveform lookup (which builds the index from
// the file), then lookups through the store's index and its scan, and the resident memory.
// FAISS's HNSW is built only up to --hnsw-max tracks (default 10000: its build takes seconds per
// hundred thousand signatures), its flat index up to --flat-max (default 100000).
// With --postgres, the rungs go into tables of that (empty, throw-away) database instead, and
// the lookups the server can answer itself are measured against the exact scan: contrib's cube
// type under a GiST index (nearest first by its L1 distance, <#>) and plain smallint arrays
// summed by a scan (only --scan-queries lookups, default 20: each reads every rung; the cube
// index answers --server-queries, default 400).
#include <faiss/IndexFlat.h>
#include <faiss/IndexHNSW.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "bench/study_measure.h"
#include "bench/waveform_signatures.h"
#ifdef SONQUIX_BENCH_WITH_LIBPQ
#include <libpq-fe.h>
#endif
#include "catalog/matching.h"
#include "catalog/signature_index.h"

namespace {

using pelk::bench::MsSince;
using pelk::bench::Percentile;
using pelk::bench::ResidentMb;
using pelk::bench::StudyItem;
using pelk::catalog::Signature;
using pelk::catalog::SignatureIndex;
using Clock = std::chrono::steady_clock;
using Answer = std::vector<SignatureIndex::Hit>;

constexpr size_t kItems = pelk::bench::kStudyItems, kHeldOut = pelk::bench::kHeldOutItems;
constexpr double kSpread = pelk::bench::kTrackSpread;
constexpr size_t kQueries = 400;  // of each kind
constexpr size_t kLimit = 16;
const int64_t kMax = pelk::catalog::WaveformThresholds{}.max_distance;

// Nearest first, ties by owner, at most kLimit: what NearestSignatures hands the matcher.
Answer Ranked(Answer hits) {
  std::sort(hits.begin(), hits.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second < b.second : a.first < b.first;
  });
  if (hits.size() > kLimit) hits.resize(kLimit);
  return hits;
}

struct Catalogue {
  std::vector<Signature> signatures;
  std::vector<uint32_t> owners;
  std::vector<uint32_t> track_item;  // by owner
  std::vector<std::array<int32_t, 30>> track_offset;
};

Catalogue MakeCatalogue(const std::vector<StudyItem>& items, size_t tracks) {
  Catalogue c;
  std::mt19937 rng(42);
  for (uint32_t t = 0; t < tracks; ++t) {
    const uint32_t item = static_cast<uint32_t>(rng() % (kItems - kHeldOut));
    const auto offset = pelk::bench::Offset(rng, kSpread);
    c.track_item.push_back(item);
    c.track_offset.push_back(offset);
    for (const Signature& rung : items[item].ladder) {
      c.signatures.push_back(pelk::bench::Moved(rung, offset));
      c.owners.push_back(t);
    }
  }
  return c;
}

// kQueries copies of catalogue tracks, each moved by its track's offset.
std::vector<Signature> CopiesOfTracks(const std::vector<StudyItem>& items, const Catalogue& cat,
                                      std::mt19937& rng) {
  std::vector<Signature> copies;
  while (copies.size() < kQueries) {
    const size_t t = rng() % cat.track_item.size();
    const StudyItem& item = items[cat.track_item[t]];
    if (item.copies.empty()) continue;
    copies.push_back(
        pelk::bench::Moved(item.copies[rng() % item.copies.size()], cat.track_offset[t]));
  }
  return copies;
}

struct Method {
  std::string name;
  std::function<Answer(const Signature&)> lookup;
  double build_ms = 0;
  size_t memory = 0;
};

// FAISS answers k nearest signatures; the per-track answer keeps those within reach.
Answer FromKnn(const std::vector<float>& d, const std::vector<faiss::Index::idx_t>& ids,
               const std::vector<uint32_t>& owners) {
  Answer hits;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] < 0 || d[i] > static_cast<float>(kMax)) continue;
    hits.emplace_back(owners[static_cast<size_t>(ids[i])], static_cast<int64_t>(d[i]));
  }
  std::sort(hits.begin(), hits.end());
  Answer best;
  for (const auto& h : hits)
    if (best.empty() || best.back().first != h.first) best.push_back(h);
  return best;
}

void Run(const std::vector<StudyItem>& items, size_t tracks, size_t hnsw_max, size_t flat_max) {
  auto start = Clock::now();
  const Catalogue cat = MakeCatalogue(items, tracks);
  std::printf("\n%zu tracks, %zu signatures (made in %.0f ms)\n", tracks, cat.signatures.size(),
              MsSince(start));
  std::mt19937 rng(7);
  std::vector<Signature> copies = CopiesOfTracks(items, cat, rng), unknown;
  while (unknown.size() < kQueries) {
    const StudyItem& item = items[kItems - kHeldOut + rng() % kHeldOut];
    const auto offset = pelk::bench::Offset(rng, kSpread);
    unknown.push_back(pelk::bench::Moved(
        item.copies.empty() ? item.ladder[0] : item.copies[rng() % item.copies.size()], offset));
  }

  std::vector<Method> methods;
  SignatureIndex scan(SignatureIndex::Options{.min_clustered = SIZE_MAX});
  start = Clock::now();
  scan.Build(cat.signatures, cat.owners);
  methods.push_back({"exact scan", [&](const Signature& q) { return scan.Within(q, kMax); },
                     MsSince(start), scan.MemoryBytes()});
  SignatureIndex::Options options;
  options.min_clustered = 0;
  SignatureIndex index(options);
  start = Clock::now();
  index.Build(cat.signatures, cat.owners);
  const double index_ms = MsSince(start);
  for (size_t probes : {8, 16, 24, 48}) {
    methods.push_back({"index, " + std::to_string(index.cells()) + " cells, " +
                           std::to_string(probes) + " probes",
                       [&index, probes](const Signature& q) {
                         index.set_probes(probes);
                         return index.Within(q, kMax);
                       },
                       index_ms, index.MemoryBytes()});
  }
  std::vector<float> as_float(tracks <= std::max(flat_max, hnsw_max) ? cat.signatures.size() * 30
                                                                     : 0);
  for (size_t i = 0; i < as_float.size() / 30; ++i)
    for (size_t j = 0; j < 30; ++j) as_float[i * 30 + j] = cat.signatures[i][j];
  constexpr int kKnn = 64;
  auto knn = [&](faiss::Index& index, const Signature& q) {
    float qf[30];
    for (size_t j = 0; j < 30; ++j) qf[j] = q[j];
    std::vector<float> d(kKnn);
    std::vector<faiss::Index::idx_t> ids(kKnn);
    index.search(1, qf, kKnn, d.data(), ids.data());
    return FromKnn(d, ids, cat.owners);
  };
  faiss::IndexFlat flat(30, faiss::METRIC_L1);
  if (tracks <= flat_max) {
    start = Clock::now();
    flat.add(static_cast<faiss::Index::idx_t>(cat.signatures.size()), as_float.data());
    methods.push_back({"FAISS IndexFlat L1, k=64", [&](const Signature& q) { return knn(flat, q); },
                       MsSince(start), as_float.size() * sizeof(float)});
  }
  std::unique_ptr<faiss::IndexHNSWFlat> hnsw;
  if (tracks <= hnsw_max) {
    hnsw = std::make_unique<faiss::IndexHNSWFlat>(30, 16, faiss::METRIC_L1);
    start = Clock::now();
    hnsw->add(static_cast<faiss::Index::idx_t>(cat.signatures.size()), as_float.data());
    hnsw->hnsw.efSearch = 128;
    // Vectors plus the graph's links (level 0: 2M neighbours of 4 bytes each).
    methods.push_back({"FAISS HNSW L1, M=16, ef=128, k=64",
                       [&](const Signature& q) { return knn(*hnsw, q); }, MsSince(start),
                       as_float.size() * sizeof(float) + cat.signatures.size() * 32 * 4});
  }

  std::vector<Answer> truth_copies, truth_unknown;
  for (const Signature& q : copies) truth_copies.push_back(Ranked(scan.ScanWithin(q, kMax)));
  for (const Signature& q : unknown) truth_unknown.push_back(Ranked(scan.ScanWithin(q, kMax)));
  size_t found = 0, unknown_answered = 0;
  for (const Answer& a : truth_copies) found += !a.empty();
  for (const Answer& a : truth_unknown) unknown_answered += !a.empty();
  std::printf("exact: %zu of %zu copies have an answer, %zu of %zu unknowns have one\n", found,
              copies.size(), unknown_answered, unknown.size());
  std::printf("%-44s %10s %10s %9s %9s %10s %10s\n", "method", "build ms", "memory MB", "median ms",
              "p99 ms", "copies ok", "unknown ok");
  for (const Method& m : methods) {
    std::vector<double> times;
    size_t same_copies = 0, same_unknown = 0;
    for (size_t i = 0; i < copies.size(); ++i) {
      auto t0 = Clock::now();
      const Answer a = Ranked(m.lookup(copies[i]));
      times.push_back(MsSince(t0));
      same_copies += a == truth_copies[i];
    }
    for (size_t i = 0; i < unknown.size(); ++i) {
      auto t0 = Clock::now();
      const Answer a = Ranked(m.lookup(unknown[i]));
      times.push_back(MsSince(t0));
      same_unknown += a == truth_unknown[i];
    }
    std::printf("%-44s %10.0f %10.1f %9.3f %9.3f %9.2f%% %9.2f%%\n", m.name.c_str(), m.build_ms,
                m.memory / 1e6, Percentile(times, 0.5), Percentile(times, 0.99),
                100.0 * same_copies / copies.size(), 100.0 * same_unknown / unknown.size());
  }
}

void RunStore(const std::vector<StudyItem>& items, size_t tracks) {
  using pelk::catalog::CatalogStore;
  const auto path = std::filesystem::temp_directory_path() /
                    ("pelk-waveform-index-" + std::to_string(tracks) + ".db");
  std::filesystem::remove(path);
  std::vector<Signature> copies;
  {
    const Catalogue cat = MakeCatalogue(items, tracks);
    auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kCreate, nullptr);
    auto start = Clock::now();
    size_t at = 0;
    for (uint32_t t = 0; t < tracks;) {
      std::vector<pelk::catalog::DiscRecord> discs;
      for (int d = 0; d < 1000 && t < tracks; ++d) {
        pelk::catalog::DiscRecord disc{
            .identifier = "D" + std::to_string(t), .album = "A", .artist = "B"};
        for (int32_t n = 1; n <= 10 && t < tracks; ++n, ++t) {
          pelk::catalog::TrackRecord track{
              .number = n, .title = "T", .identifier = "T" + std::to_string(t)};
          track.signature = cat.signatures[at++];
          while (at < cat.owners.size() && cat.owners[at] == t) {
            track.ladder.push_back(cat.signatures[at++]);
          }
          disc.tracks.push_back(std::move(track));
        }
        discs.push_back(std::move(disc));
      }
      store->AddDiscs(discs, nullptr);
    }
    std::printf("\nstore, %zu tracks, %zu signatures: imported in %.0f ms\n", tracks,
                cat.signatures.size(), MsSince(start));
    std::mt19937 rng(7);
    copies = CopiesOfTracks(items, cat, rng);
  }
  const double before_open = ResidentMb();
  auto start = Clock::now();
  auto store = CatalogStore::Open(path, CatalogStore::OpenMode::kExisting, nullptr);
  std::printf("open %.1f ms\n", MsSince(start));
  start = Clock::now();
  store->NearestSignatures(copies[0], kMax, kLimit);
  std::printf(
      "first waveform lookup (reads the rungs, builds the index) %.0f ms; resident "
      "memory +%.0f MB\n",
      MsSince(start), ResidentMb() - before_open);
  std::vector<double> by_index, by_scan;
  size_t same = 0;
  for (const Signature& q : copies) {
    auto t0 = Clock::now();
    const auto a = store->NearestSignatures(q, kMax, kLimit);
    by_index.push_back(MsSince(t0));
    t0 = Clock::now();
    const auto b = store->NearestSignaturesByScan(q, kMax, kLimit);
    by_scan.push_back(MsSince(t0));
    bool equal = a.size() == b.size();
    for (size_t i = 0; equal && i < a.size(); ++i) {
      equal = a[i].disc_id == b[i].disc_id && a[i].track == b[i].track &&
              a[i].distance == b[i].distance;
    }
    same += equal;
  }
  std::printf(
      "NearestSignatures: index median %.3f ms p99 %.3f ms, scan median %.3f ms p99 "
      "%.3f ms; %zu of %zu answers the same\n",
      Percentile(by_index, 0.5), Percentile(by_index, 0.99), Percentile(by_scan, 0.5),
      Percentile(by_scan, 0.99), same, copies.size());
  store.reset();
  std::filesystem::remove(path);
}

#ifdef SONQUIX_BENCH_WITH_LIBPQ
// Fails the study with the server's words.
PGresult* Checked(PGconn* db, PGresult* r, const char* what) {
  const ExecStatusType st = PQresultStatus(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK && st != PGRES_COPY_IN) {
    std::fprintf(stderr, "%s: %s", what, PQerrorMessage(db));
    std::exit(1);
  }
  return r;
}

void Exec(PGconn* db, const char* sql) { PQclear(Checked(db, PQexec(db, sql), sql)); }

std::string CubeText(const Signature& s, char open, char close) {
  std::string text(1, open);
  for (size_t i = 0; i < 30; ++i) text += (i ? "," : "") + std::to_string(s[i]);
  return text + close;
}

void RunPostgres(const std::vector<StudyItem>& items, size_t tracks, const char* location,
                 size_t server_queries, size_t scan_queries) {
  PGconn* db = PQconnectdb(location);
  if (PQstatus(db) != CONNECTION_OK) {
    std::fprintf(stderr, "cannot connect: %s", PQerrorMessage(db));
    std::exit(1);
  }
  const Catalogue cat = MakeCatalogue(items, tracks);
  std::printf("\npostgres, %zu tracks, %zu signatures\n", tracks, cat.signatures.size());
  Exec(db, "CREATE EXTENSION IF NOT EXISTS cube");
  Exec(db, "DROP TABLE IF EXISTS rung_cube, rung_array");
  Exec(db, "CREATE TABLE rung_cube(owner integer NOT NULL, c cube NOT NULL)");
  Exec(db, "CREATE TABLE rung_array(owner integer NOT NULL, v smallint[] NOT NULL)");
  auto start = Clock::now();
  for (const char* table : {"rung_cube", "rung_array"}) {
    const bool cube = std::strcmp(table, "rung_cube") == 0;
    PQclear(Checked(db, PQexec(db, (std::string("COPY ") + table + " FROM STDIN").c_str()), table));
    std::string chunk;
    for (size_t i = 0; i < cat.signatures.size(); ++i) {
      chunk +=
          std::to_string(cat.owners[i]) + '\t' +
          (cube ? CubeText(cat.signatures[i], '(', ')') : CubeText(cat.signatures[i], '{', '}')) +
          '\n';
      if (chunk.size() > (1 << 20) || i + 1 == cat.signatures.size()) {
        PQputCopyData(db, chunk.data(), static_cast<int>(chunk.size()));
        chunk.clear();
      }
    }
    PQputCopyEnd(db, nullptr);
    PQclear(Checked(db, PQgetResult(db), "copy"));
  }
  std::printf("copied both tables in %.0f ms\n", MsSince(start));
  start = Clock::now();
  Exec(db, "CREATE INDEX rung_cube_gist ON rung_cube USING gist (c)");
  Exec(db, "ANALYZE rung_cube");
  Exec(db, "ANALYZE rung_array");
  std::printf("GiST index built in %.0f ms\n", MsSince(start));

  std::mt19937 rng(7);
  const std::vector<Signature> copies = CopiesOfTracks(items, cat, rng);
  SignatureIndex scan(SignatureIndex::Options{.min_clustered = SIZE_MAX});
  scan.Build(cat.signatures, cat.owners);

  // Nearest rungs first: enough of them that 16 tracks with a ladder each come through.
  const std::string knn =
      "SELECT owner, (c <#> $1::cube)::bigint FROM rung_cube ORDER BY c <#> $1::cube LIMIT 144";
  std::string sum = "SELECT owner, d FROM (SELECT owner, ";
  for (int i = 1; i <= 30; ++i) {
    sum += (i > 1 ? " + " : "") + std::string("abs(v[") + std::to_string(i) + "] - ($1::int[])[" +
           std::to_string(i) + "])";
  }
  sum += " AS d FROM rung_array) AS r WHERE d <= " + std::to_string(kMax);
  struct Way {
    const char* name;
    std::string sql;
    bool cube;
    size_t queries;
  };
  std::printf("%-36s %9s %9s %10s\n", "server lookup", "median ms", "p99 ms", "same answer");
  for (const Way& way :
       {Way{"cube GiST, nearest 144 rungs", knn, true, std::min(server_queries, copies.size())},
        Way{"smallint[] scan, summed in SQL", sum, false, std::min(scan_queries, copies.size())}}) {
    std::vector<double> times;
    size_t same = 0;
    for (size_t q = 0; q < way.queries; ++q) {
      const std::string param =
          way.cube ? CubeText(copies[q], '(', ')') : CubeText(copies[q], '{', '}');
      const char* values[] = {param.c_str()};
      const auto t0 = Clock::now();
      PGresult* r = Checked(
          db, PQexecParams(db, way.sql.c_str(), 1, nullptr, values, nullptr, nullptr, 0), way.name);
      Answer hits;
      for (int row = 0; row < PQntuples(r); ++row) {
        const int64_t d = std::atoll(PQgetvalue(r, row, 1));
        if (d <= kMax) hits.emplace_back(std::atoi(PQgetvalue(r, row, 0)), d);
      }
      PQclear(r);
      std::sort(hits.begin(), hits.end());
      Answer best;
      for (const auto& h : hits)
        if (best.empty() || best.back().first != h.first) best.push_back(h);
      times.push_back(MsSince(t0));
      same += Ranked(best) == Ranked(scan.ScanWithin(copies[q], kMax));
    }
    std::printf("%-36s %9.2f %9.2f %5zu of %zu\n", way.name, Percentile(times, 0.5),
                Percentile(times, 0.99), same, way.queries);
  }
  Exec(db, "DROP TABLE rung_cube, rung_array");
  PQfinish(db);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  size_t hnsw_max = 10000, flat_max = 100000;
  std::vector<size_t> sizes;
  bool through_store = false;
  const char* postgres = nullptr;
  size_t scan_queries = 20, server_queries = kQueries;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--hnsw-max") == 0 && i + 1 < argc) {
      hnsw_max = std::stoul(argv[++i]);
    } else if (std::strcmp(argv[i], "--flat-max") == 0 && i + 1 < argc) {
      flat_max = std::stoul(argv[++i]);
    } else if (std::strcmp(argv[i], "--store") == 0) {
      through_store = true;
    } else if (std::strcmp(argv[i], "--postgres") == 0 && i + 1 < argc) {
      postgres = argv[++i];
    } else if (std::strcmp(argv[i], "--server-queries") == 0 && i + 1 < argc) {
      server_queries = std::stoul(argv[++i]);
    } else if (std::strcmp(argv[i], "--scan-queries") == 0 && i + 1 < argc) {
      scan_queries = std::stoul(argv[++i]);
    } else {
      sizes.push_back(std::stoul(argv[i]));
    }
  }
  if (sizes.empty()) sizes = {10000, 100000};
  const auto start = Clock::now();
  const std::vector<StudyItem> items = pelk::bench::StudyItems();
  size_t rungs = 0;
  for (const StudyItem& item : items) rungs += item.ladder.size();
  std::printf("%zu items fingerprinted in %.0f ms, %.1f rungs an item\n", items.size(),
              MsSince(start), static_cast<double>(rungs) / items.size());
  // How far apart real items lie, to compare with the generated tracks.
  std::vector<double> apart;
  for (size_t a = 0; a < items.size(); ++a)
    for (size_t b = a + 1; b < items.size(); ++b) {
      apart.push_back(static_cast<double>(pelk::catalog::SignatureDistanceWithin(
          items[a].ladder[0], items[b].ladder[0], INT64_MAX)));
    }
  std::printf("rung 0 of two items: min %.0f, median %.0f apart\n", Percentile(apart, 0),
              Percentile(apart, 0.5));
  for (size_t tracks : sizes) {
    if (postgres) {
#ifdef SONQUIX_BENCH_WITH_LIBPQ
      RunPostgres(items, tracks, postgres, server_queries, scan_queries);
#else
      std::fprintf(stderr, "built without libpq: --postgres is not available\n");
      return 1;
#endif
    } else if (through_store) {
      RunStore(items, tracks);
    } else {
      Run(items, tracks, hnsw_max, flat_max);
    }
  }
}
