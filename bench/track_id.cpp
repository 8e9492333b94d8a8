// TrackID as a host runs it (both modules loaded with dlopen, our catalogue control) against a
// generated catalogue of 10,000 tracks plus one album whose first track is a 3-minute WAV file
// made here (the generated tracks' signature ladders drawn like real ones, bench_catalog.h).
// Four ways of finding that track, side by side in one run: by an identifier in the tag, by
// text, by a fingerprint the host hands in, and by the module's own tag reading and
// fingerprinting of the file.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "bench/bench_catalog.h"
#include "bench/bench_signal.h"
#include "catalog/catalog_control.h"
#include "catalog/catalog_store.h"
#include "pelk/manager_interfaces.h"
#include "runtime/com_create.h"

namespace {

using namespace pelk;
using GetObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using HinstFn = HRESULT (*)(HMODULE);

constexpr int kTracksPerDisc = 10;
constexpr int kDiscs = 1000;

// The catalogue, the modules and an initialized manager, made once for the whole run.
class Session {
 public:
  static Session& Get() {
    static Session session;
    return session;
  }

  ComPtr<IPelkFileInfo> NewRecord() {
    ComPtr<IPelkFileInfo> record;
    sonquix_get_(CLSID_PelkFileInfo, IPelkFileInfo::kIid, record.OutVoid());
    record->put_Filename(Bstr::FromUtf8(wav_.string()).Get());
    return record;
  }
  ComPtr<IFileTag> NewTag() {
    ComPtr<IFileTag> tag;
    control_get_(CLSID_PelkFileTag, IFileTag::kIid, tag.OutVoid());
    return tag;
  }
  IPELKSonquixManager3* Manager() { return manager_.Get(); }
  IPelkSonquixFingerprint* Fingerprint() { return fingerprint_.Get(); }
  const std::filesystem::path& WavPath() const { return wav_; }

  ~Session() {
    manager_->Shutdown();
    fingerprint_.Reset();
    manager_.Reset();
    control_.Reset();
    std::filesystem::remove_all(dir_);
  }

 private:
  Session() {
    dir_ = std::filesystem::temp_directory_path() /
           ("pelk-bench-trackid-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    wav_ = dir_ / "Night Trains" / "01 Departure.wav";
    std::filesystem::create_directories(wav_.parent_path());
    const auto file = bench::StereoWav(bench::MusicPcm(44100, 180), 44100);
    std::ofstream(wav_, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));

    void* control_module = dlopen(SONQUIX_CONTROL_MODULE, RTLD_NOW | RTLD_LOCAL);
    void* sonquix_module = dlopen(SONQUIX_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!control_module || !sonquix_module) {
      std::fprintf(stderr, "cannot load the modules: %s\n", dlerror());
      std::exit(1);
    }
    control_get_ = reinterpret_cast<GetObjectFn>(dlsym(control_module, "DllGetObject"));
    sonquix_get_ = reinterpret_cast<GetObjectFn>(dlsym(sonquix_module, "DllGetObject"));
    reinterpret_cast<HinstFn>(dlsym(sonquix_module, "DllSetPelkHINST"))(control_module);
    sonquix_get_(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid, manager_.OutVoid());

    ComPtr<IPelkSonquixFingerprinter> fingerprinter;
    manager_->CreateFingerprinter(nullptr, fingerprinter.Out());
    fingerprinter->GetFileFingerprint(Bstr::FromUtf8(wav_.string()).Get(), fingerprint_.Out());
    Bstr signature;
    fingerprint_->get_Signature(signature.Out());

    std::mt19937 rng(42);
    const bench::SignatureDraw draw;
    std::vector<catalog::DiscRecord> discs;
    for (int d = 0; d < kDiscs; ++d) {
      catalog::DiscRecord disc{.identifier = "D" + std::to_string(d),
                               .album = "Album " + std::to_string(d),
                               .artist = "Artist " + std::to_string(d % 300),
                               .track_count = kTracksPerDisc};
      for (int t = 1; t <= kTracksPerDisc; ++t) {
        catalog::TrackRecord track{.number = t,
                                   .title = "Song " + std::to_string(d) + "-" + std::to_string(t),
                                   .identifier = "T" + std::to_string(d) + "-" + std::to_string(t)};
        bench::DrawSignatures(draw, rng, &track);
        disc.tracks.push_back(std::move(track));
      }
      discs.push_back(std::move(disc));
    }
    catalog::DiscRecord known{
        .identifier = "D-known", .album = "Night Trains", .artist = "The Sleepers"};
    known.tracks.push_back({.number = 1,
                            .title = "Departure",
                            .identifier = "T-known",
                            .signature = catalog::ParseSignature(signature.Utf8())});
    for (int t = 2; t <= kTracksPerDisc; ++t) {
      known.tracks.push_back({.number = t,
                              .title = "Stop " + std::to_string(t),
                              .identifier = "T-known-" + std::to_string(t)});
    }
    discs.push_back(std::move(known));
    const auto db = dir_ / "catalog.db";
    std::string error;
    auto store = catalog::CatalogStore::Open(db, catalog::CatalogStore::OpenMode::kCreate, &error);
    if (!store || !store->AddDiscs(discs, &error)) {
      std::fprintf(stderr, "cannot build the catalogue: %s\n", error.c_str());
      std::exit(1);
    }
    store.reset();

    control_get_(CLSID_PelkLookupControl, ILookupControl::kIid, control_.OutVoid());
    control_.As<catalog::IPelkCatalogControl>()->OpenCatalog(Bstr::FromUtf8(db.string()).Get());
    if (FAILED(manager_->Initialize(control_.Get()))) {
      std::fprintf(stderr, "the manager did not initialize\n");
      std::exit(1);
    }
  }

  std::filesystem::path dir_, wav_;
  GetObjectFn control_get_ = nullptr;
  GetObjectFn sonquix_get_ = nullptr;
  ComPtr<IPELKSonquixManager3> manager_;
  ComPtr<ILookupControl> control_;
  ComPtr<IPelkSonquixFingerprint> fingerprint_;
};

// Runs TrackID on records made by `prepare`, and fails the benchmark unless track 1 of the known
// album comes back.
template <class Prepare>
void RunTrackID(benchmark::State& state, int32_t options, Prepare prepare) {
  Session& session = Session::Get();
  for (auto _ : state) {
    state.PauseTiming();
    ComPtr<IPelkFileInfo> record = session.NewRecord();
    prepare(session, record.Get());
    state.ResumeTiming();
    int32_t match_code = 0;
    ComPtr<IPelkFileInfoList> list;
    session.Manager()->TrackID(record.Get(), options, &match_code, list.Out());
    state.PauseTiming();
    ComPtr<IPelkFileInfo> found;
    ComPtr<IDiscInfo> disc;
    Bstr identifier;
    if (list && SUCCEEDED(list->GetFileInfo(1, found.Out())) &&
        SUCCEEDED(found->get_Disc(disc.Out())) && disc) {
      disc->get_Identifier(identifier.Out());
    }
    if (identifier.View() != u"D-known") {
      state.SkipWithError("the known track was not identified");
      break;
    }
    state.ResumeTiming();
  }
}

void BM_TrackID_Identifier(benchmark::State& state) {
  RunTrackID(state, 0, [](Session& s, IPelkFileInfo* record) {
    ComPtr<IFileTag> tag = s.NewTag();
    tag->put_Identifier(Bstr(u"T-known").Get());
    record->put_Tag(tag.Get());
  });
}
BENCHMARK(BM_TrackID_Identifier)->Unit(benchmark::kMillisecond);

void BM_TrackID_Text(benchmark::State& state) {
  RunTrackID(state, SONQUIX_DEFAULT_OPTIONS | SONQUIX_DISABLE_WF_QUERIES,
             [](Session& s, IPelkFileInfo* record) {
               ComPtr<IFileTag> tag = s.NewTag();
               tag->put_Artist(Bstr(u"The Sleepers").Get());
               tag->put_Title(Bstr(u"Departure").Get());
               record->put_Tag(tag.Get());
             });
}
BENCHMARK(BM_TrackID_Text)->Unit(benchmark::kMillisecond);

void BM_TrackID_HostFingerprint(benchmark::State& state) {
  RunTrackID(state, 0, [](Session& s, IPelkFileInfo* record) {
    record->put_Tag(s.NewTag().Get());
    record->put_Fingerprint(s.Fingerprint());
  });
}
BENCHMARK(BM_TrackID_HostFingerprint)->Unit(benchmark::kMillisecond);

void BM_TrackID_ReadsTagAndFingerprints(benchmark::State& state) {
  RunTrackID(state, 0, [](Session&, IPelkFileInfo*) {});
}
BENCHMARK(BM_TrackID_ReadsTagAndFingerprints)->Unit(benchmark::kMillisecond);

// The two acquisitions of the last case on their own.
void BM_GetTagInternal(benchmark::State& state) {
  Session& session = Session::Get();
  Bstr name = Bstr::FromUtf8(session.WavPath().string());
  for (auto _ : state) {
    ComPtr<IFileTag> tag;
    session.Manager()->GetTagInternal(name.Get(), tag.Out());
    benchmark::DoNotOptimize(tag.Get());
  }
}
BENCHMARK(BM_GetTagInternal)->Unit(benchmark::kMillisecond);

void BM_GetFingerprintInternal(benchmark::State& state) {
  Session& session = Session::Get();
  Bstr name = Bstr::FromUtf8(session.WavPath().string());
  for (auto _ : state) {
    ComPtr<IPelkSonquixFingerprint> fingerprint;
    session.Manager()->GetFingerprintInternal(name.Get(), fingerprint.Out());
    benchmark::DoNotOptimize(fingerprint.Get());
  }
}
BENCHMARK(BM_GetFingerprintInternal)->Unit(benchmark::kMillisecond);

}  // namespace
