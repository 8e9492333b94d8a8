#include "catalog/signature_rungs.h"

#include <memory>

namespace pelk::catalog {
namespace {

using StatementPtr = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

StatementPtr Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) statement = nullptr;
  return StatementPtr(statement, sqlite3_finalize);
}

}  // namespace

CatalogRungs ReadRungs(sqlite3* db) {
  CatalogRungs rungs;
  // Counting first costs a walk of the table's pages, less than growing lists of this size.
  StatementPtr count = Prepare(db, "SELECT count(*) FROM signatures");
  if (count && sqlite3_step(count.get()) == SQLITE_ROW) {
    const auto n = static_cast<size_t>(sqlite3_column_int64(count.get(), 0));
    rungs.signatures.reserve(n);
    rungs.owners.reserve(n);
  }
  count.reset();
  // Both tables walked in track order side by side: a join would look every rung's track up.
  StatementPtr tracks = Prepare(db, "SELECT id, disc_id, number FROM tracks ORDER BY id");
  StatementPtr stored =
      Prepare(db, "SELECT track_id, signature FROM signatures ORDER BY track_id, rung");
  if (!tracks || !stored) return rungs;
  bool more_tracks = sqlite3_step(tracks.get()) == SQLITE_ROW;
  int64_t track = more_tracks ? sqlite3_column_int64(tracks.get(), 0) : 0;
  int64_t current = 0;
  while (sqlite3_step(stored.get()) == SQLITE_ROW) {
    const int64_t track_id = sqlite3_column_int64(stored.get(), 0);
    while (more_tracks && track < track_id) {
      more_tracks = sqlite3_step(tracks.get()) == SQLITE_ROW;
      if (more_tracks) track = sqlite3_column_int64(tracks.get(), 0);
    }
    if (!more_tracks || track != track_id) continue;  // a rung without its track
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(stored.get(), 1));
    if (!bytes || sqlite3_column_bytes(stored.get(), 1) != kSignatureValues * 2) continue;
    Signature s;
    for (size_t i = 0; i < kSignatureValues; ++i) {  // little-endian, as the store writes them
      s[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    }
    if (rungs.tracks.empty() || track_id != current) {
      rungs.tracks.emplace_back(sqlite3_column_int64(tracks.get(), 1),
                                static_cast<int32_t>(sqlite3_column_int64(tracks.get(), 2)));
      current = track_id;
    }
    rungs.signatures.push_back(s);
    rungs.owners.push_back(static_cast<uint32_t>(rungs.tracks.size() - 1));
  }
  return rungs;
}

}  // namespace pelk::catalog
