// Any bytes as a catalogue file for `sonquix catalog import`: the reader refuses in words
// ("line N: ...") or yields discs that the writer turns back into the same discs, and that an
// empty in-memory catalogue takes whole or refuses in words.
#include "catalog/catalog_json.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_store.h"

namespace {

using pelk::catalog::DiscRecord;
using pelk::catalog::TrackRecord;

bool SameTrack(const TrackRecord& a, const TrackRecord& b) {
  return a.number == b.number && a.title == b.title && a.artist == b.artist &&
         a.length_ms == b.length_ms && a.identifier == b.identifier && a.signature == b.signature;
}

bool SameDisc(const DiscRecord& a, const DiscRecord& b) {
  if (a.identifier != b.identifier || a.album != b.album || a.artist != b.artist ||
      a.track_count != b.track_count || a.disc_number != b.disc_number ||
      a.disc_count != b.disc_count || a.compilation != b.compilation ||
      a.certified_level != b.certified_level || a.release_rank != b.release_rank ||
      a.year != b.year || a.genre != b.genre || a.store_id1 != b.store_id1 ||
      a.store_id2 != b.store_id2 || a.tracks.size() != b.tracks.size()) {
    return false;
  }
  for (size_t i = 0; i < a.tracks.size(); ++i) {
    if (!SameTrack(a.tracks[i], b.tracks[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelk::catalog;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<DiscRecord> discs;
  std::string error;
  if (!ParseCatalogJson(text, &discs, &error)) {
    if (error.rfind("line ", 0) != 0) std::abort();
    return 0;
  }

  std::vector<DiscPtr> shared;
  for (const DiscRecord& d : discs) shared.push_back(std::make_shared<DiscRecord>(d));
  std::vector<DiscRecord> again;
  if (!ParseCatalogJson(WriteCatalogJson(shared), &again, &error)) std::abort();
  if (again.size() != discs.size()) std::abort();
  for (size_t i = 0; i < discs.size(); ++i) {
    if (!SameDisc(discs[i], again[i])) std::abort();
  }

  std::unique_ptr<CatalogStore> store =
      CatalogStore::Open(":memory:", CatalogStore::OpenMode::kCreate, &error);
  if (!store) std::abort();
  error.clear();
  if (store->AddDiscs(discs, &error)) {
    size_t tracks = 0;
    for (const DiscRecord& d : discs) tracks += d.tracks.size();
    const CatalogStats stats = store->Stats();
    if (stats.discs != static_cast<int64_t>(discs.size()) ||
        stats.tracks != static_cast<int64_t>(tracks)) {
      std::abort();
    }
  } else {
    if (error.empty() || store->Stats().discs != 0) std::abort();  // all or nothing, in words
  }
  return 0;
}
