// Every signature rung of a catalogue file, read for the signature index: the read a large
// catalogue's first waveform lookup waits for (9 million rungs at a million tracks), so it goes
// straight to SQLite's values and sizes its lists once.
//
// The caller holds the store's lock.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

struct CatalogRungs {
  // Track by track in track order, each track's rungs in rung order.
  std::vector<Signature> signatures;
  // owners[i]: which of `tracks` signatures[i] belongs to.
  std::vector<uint32_t> owners;
  // (disc id, track number) of each track that has rungs.
  std::vector<std::pair<int64_t, int32_t>> tracks;
};

// The rungs whose track exists and whose stored value is a signature; others are skipped.
CatalogRungs ReadRungs(sqlite3* db);

}  // namespace pelk::catalog
