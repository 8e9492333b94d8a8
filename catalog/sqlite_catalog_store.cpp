#include "catalog/sqlite_catalog_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <unordered_set>

#include "catalog/index_words.h"
#include "catalog/signature_rungs.h"
#include "catalog/sqlite_statement.h"
#include "catalog/word_index.h"

namespace pelk::catalog {
namespace {

constexpr std::string_view kApplication = "pelk-catalog";
// How long a write waits for another process's write to the same catalogue.
constexpr int kBusyTimeoutMs = 60000;

constexpr std::string_view kSchemaV1 = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE discs(
  id INTEGER PRIMARY KEY,
  identifier TEXT NOT NULL UNIQUE,
  album TEXT NOT NULL,
  artist TEXT NOT NULL,
  track_count INTEGER NOT NULL,
  compilation INTEGER NOT NULL DEFAULT 0,
  certified_level INTEGER NOT NULL DEFAULT 0,
  release_rank INTEGER NOT NULL DEFAULT 0,
  year INTEGER NOT NULL DEFAULT 0,
  genre TEXT NOT NULL DEFAULT '',
  store_id1 TEXT NOT NULL DEFAULT '',
  store_id2 TEXT NOT NULL DEFAULT '');
CREATE INDEX discs_store_ids ON discs(store_id1, store_id2);
CREATE TABLE tracks(
  id INTEGER PRIMARY KEY,
  disc_id INTEGER NOT NULL REFERENCES discs(id) ON DELETE CASCADE,
  number INTEGER NOT NULL,
  title TEXT NOT NULL,
  artist TEXT NOT NULL DEFAULT '',
  length_ms INTEGER NOT NULL DEFAULT 0,
  identifier TEXT NOT NULL UNIQUE,
  signature BLOB,
  UNIQUE(disc_id, number));
CREATE TABLE genres(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE VIRTUAL TABLE track_text USING fts5(artist, album, title, tokenize='trigram');
)sql";

// Version 2: which disc of its release a disc is, and how many discs the release has.
constexpr std::string_view kMigrateToV2 = R"sql(
ALTER TABLE discs ADD COLUMN disc_number INTEGER NOT NULL DEFAULT 0;
ALTER TABLE discs ADD COLUMN disc_count INTEGER NOT NULL DEFAULT 0;
CREATE INDEX discs_release ON discs(artist, album, disc_number);
)sql";

// Version 3: a ladder of signatures per track; the one signature of older files is its rung 0.
constexpr std::string_view kMigrateToV3 = R"sql(
CREATE TABLE signatures(
  track_id INTEGER NOT NULL REFERENCES tracks(id) ON DELETE CASCADE,
  rung INTEGER NOT NULL,
  signature BLOB NOT NULL,
  PRIMARY KEY(track_id, rung)) WITHOUT ROWID;
INSERT INTO signatures(track_id, rung, signature)
  SELECT id, 0, signature FROM tracks WHERE signature IS NOT NULL;
ALTER TABLE tracks DROP COLUMN signature;
)sql";

// The steps from each older schema, applied in order.
struct Upgrade {
  int to;
  std::string_view sql;
};
constexpr Upgrade kUpgrades[] = {{2, kMigrateToV2}, {3, kMigrateToV3}};

bool IsMarkedReadOnly(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

// A failed write in words. When the cause lies outside the data (the disk is full, the file is
// read-only, another program kept it busy) the message says so as a user can act on it, whatever
// step failed; otherwise it names the step and SQLite's reason.
std::string WriteFailure(sqlite3* db, std::string_view where, std::string_view what) {
  std::string why;
  switch (sqlite3_errcode(db) & 0xFF) {
    case SQLITE_FULL:
      why = "the disk is full";
      break;
    case SQLITE_IOERR:
      why = "the disk refused the write (full, over a size limit, or failing: " +
            std::string(sqlite3_errmsg(db)) + ")";
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
      why = "the catalogue is read-only";
      break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      why = "another program kept it busy for more than " + std::to_string(kBusyTimeoutMs / 1000) +
            " s";
      break;
    default:
      return std::string(what) + ": " + sqlite3_errmsg(db);
  }
  return "cannot write the catalogue " + std::string(where) + ": " + why;
}

std::vector<uint8_t> SignatureBytes(const Signature& s) {
  std::vector<uint8_t> bytes(kSignatureValues * 2);
  for (size_t i = 0; i < kSignatureValues; ++i) {
    const auto v = static_cast<uint16_t>(s[i]);
    bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return bytes;
}

std::optional<Signature> SignatureFromBytes(const std::vector<uint8_t>& bytes) {
  if (bytes.size() != kSignatureValues * 2) return std::nullopt;
  Signature s{};
  for (size_t i = 0; i < kSignatureValues; ++i) {
    s[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
  }
  return s;
}

// An FTS5 query matching the words as substrings, in one column or any; each word is quoted
// (doubled quotes inside), so no word can change the query's syntax.
std::string FtsQuery(const std::vector<std::string>& words, std::string_view column,
                     bool all_words) {
  std::string query;
  for (const std::string& w : words) {
    if (w.size() < 3) continue;
    if (!query.empty()) query += all_words ? " AND " : " OR ";
    query += '"';
    for (char c : w) {
      if (c == '"') query += '"';
      query += c;
    }
    query += '"';
  }
  if (query.empty() || column.empty()) return query;
  return std::string(column) + " : (" + query + ")";
}

}  // namespace

SqliteCatalogStore::SqliteCatalogStore(sqlite3* db, std::string path)
    : CatalogStore(std::move(path)), db_(db) {}

SqliteCatalogStore::~SqliteCatalogStore() { sqlite3_close_v2(db_); }

std::unique_ptr<CatalogStore> SqliteCatalogStore::Open(const std::string& location, OpenMode mode,
                                                       std::string* error) {
  const std::filesystem::path path(location);
  std::error_code ec;
  const bool exists = std::filesystem::exists(path, ec);
  if (!exists && mode == OpenMode::kExisting) {
    *error = "no catalogue at " + path.string();
    return nullptr;
  }
  if (!exists && path.has_parent_path())
    std::filesystem::create_directories(path.parent_path(), ec);
  // A file without any write permission bit is opened for reading only, even by a user (root)
  // whom the system would let write: the mark says the catalogue is to be left alone.
  const bool read_only = exists && IsMarkedReadOnly(path);
  sqlite3* db = nullptr;
  const int flags = (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                    SQLITE_OPEN_FULLMUTEX |
                    (mode == OpenMode::kCreate && !read_only ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = "cannot open " + path.string() + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close_v2(db);
    return nullptr;
  }
  // Another process writing the catalogue (an import, add-album) is waited for rather than
  // reported; a long import holds the file for seconds.
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<SqliteCatalogStore> store(new SqliteCatalogStore(db, location));
  if (!store->Migrate(error)) return nullptr;
  // A catalogue written without the word index gets it here; one that cannot be written is still
  // read, its text lookups use the trigram table alone.
  store->word_index_ = EnsureWordIndex(db, nullptr);
  Execute(db, "PRAGMA foreign_keys = ON", nullptr);
  return store;
}

bool SqliteCatalogStore::Migrate(std::string* error) {
  const std::string where = Location();
  // Statements are finished before any write: a connection that holds a read while it asks to
  // write is refused at once, without waiting, when another process is writing.
  auto count_tables = [&]() -> std::optional<int64_t> {
    Statement tables(db_, "SELECT count(*) FROM sqlite_master");
    if (!tables.Ok() || tables.Step() != SQLITE_ROW) return std::nullopt;
    return tables.Int(0);
  };
  const std::optional<int64_t> tables = count_tables();
  if (!tables) {
    *error = where + " is not a catalogue (" + sqlite3_errmsg(db_) + ")";
    return false;
  }
  if (*tables == 0) {
    // A new, empty file: lay out the current schema in one transaction. Another process may
    // have laid it out since the count; then the file is opened as it now is.
    if (!Execute(db_, "BEGIN IMMEDIATE", error)) {
      *error = WriteFailure(db_, where, "cannot create the catalogue " + where);
      return false;
    }
    if (count_tables().value_or(0) != 0) {
      Execute(db_, "ROLLBACK", nullptr);
      return Migrate(error);
    }
    bool laid_out = Execute(db_, kSchemaV1, error);
    for (const Upgrade& upgrade : kUpgrades) {
      laid_out = laid_out && Execute(db_, upgrade.sql, error);
    }
    if (!laid_out) {
      Execute(db_, "ROLLBACK", nullptr);
      return false;
    }
    Statement meta(db_, "INSERT INTO meta(key, value) VALUES (?1, ?2)");
    meta.Bind(1, std::string_view("application")).Bind(2, kApplication);
    const bool ok1 = meta.Step() == SQLITE_DONE;
    meta.Reset();
    meta.Bind(1, std::string_view("schema_version")).Bind(2, std::to_string(kSchemaVersion));
    const bool ok2 = meta.Step() == SQLITE_DONE;
    if (!ok1 || !ok2) {
      Execute(db_, "ROLLBACK", nullptr);
      *error = "cannot write " + where;
      return false;
    }
    return Execute(db_, "COMMIT", error);
  }
  int found = 0;
  {
    Statement app(db_, "SELECT value FROM meta WHERE key = 'application'");
    if (!app.Ok() || app.Step() != SQLITE_ROW || app.Text(0) != kApplication) {
      *error = where + " is not a catalogue";
      return false;
    }
    Statement version(db_, "SELECT value FROM meta WHERE key = 'schema_version'");
    if (!version.Ok() || version.Step() != SQLITE_ROW) {
      *error = where + " is a catalogue without a schema version";
      return false;
    }
    found = std::atoi(version.Text(0).c_str());
  }
  if (found > kSchemaVersion) {
    *error = where + " has catalogue schema " + std::to_string(found) +
             ", newer than this program's " + std::to_string(kSchemaVersion);
    return false;
  }
  if (found < 1) {
    *error = where + " has an unknown catalogue schema";
    return false;
  }
  if (found < kSchemaVersion) {
    // One transaction for every step: a file that cannot be upgraded is left as it was, and
    // refused.
    std::string why;
    bool migrated = Execute(db_, "BEGIN IMMEDIATE", &why);
    if (migrated) {
      // Another process opening the file at the same time may have upgraded it meanwhile.
      Statement again(db_, "SELECT value FROM meta WHERE key = 'schema_version'");
      if (again.Ok() && again.Step() == SQLITE_ROW) found = std::atoi(again.Text(0).c_str());
    }
    if (migrated && found == kSchemaVersion) {
      Execute(db_, "ROLLBACK", nullptr);
      return Migrate(error);
    }
    for (const Upgrade& upgrade : kUpgrades) {
      if (found < upgrade.to) migrated = migrated && Execute(db_, upgrade.sql, &why);
    }
    migrated = migrated &&
               Execute(db_,
                       "UPDATE meta SET value = '" + std::to_string(kSchemaVersion) +
                           "' WHERE key = 'schema_version'",
                       &why) &&
               Execute(db_, "COMMIT", &why);
    if (!migrated) {
      Execute(db_, "ROLLBACK", nullptr);
      *error = "cannot upgrade " + where + " to catalogue schema " +
               std::to_string(kSchemaVersion) + ": " + why;
      return false;
    }
  }
  // Discs whose count is below their highest track number are repaired once; a file that
  // cannot be written (read-only, busy) is still read soundly, LoadDisc raises the count. Only
  // a catalogue that needs it is written, so opening never waits for another writer.
  bool short_counts = false;
  {
    Statement check(db_,
                    "SELECT 1 FROM discs WHERE track_count < (SELECT max(number) FROM tracks "
                    "WHERE disc_id = discs.id) LIMIT 1");
    short_counts = check.Ok() && check.Step() == SQLITE_ROW;
  }
  if (!short_counts) return true;
  Execute(db_,
          "UPDATE discs SET track_count = (SELECT max(number) FROM tracks WHERE disc_id = "
          "discs.id) WHERE track_count < (SELECT max(number) FROM tracks WHERE disc_id = "
          "discs.id)",
          nullptr);
  return true;
}

bool SqliteCatalogStore::AddDiscs(const std::vector<DiscRecord>& discs, std::string* error,
                                  bool replace) {
  std::string ignored;
  if (!error) error = &ignored;
  std::lock_guard lock(mutex_);
  std::set<std::string> disc_ids, track_ids;
  for (const DiscRecord& d : discs) {
    if (d.identifier.empty()) {
      *error = "disc \"" + d.album + "\" has no identifier";
      return false;
    }
    if (!disc_ids.insert(d.identifier).second) {
      *error = "disc identifier " + d.identifier + " appears twice";
      return false;
    }
    for (const TrackRecord& t : d.tracks) {
      if (t.identifier.empty() || !track_ids.insert(t.identifier).second) {
        *error = "track identifier \"" + t.identifier + "\" of disc " + d.identifier +
                 " is empty or appears twice";
        return false;
      }
    }
  }
  if (!Execute(db_, "BEGIN IMMEDIATE", error)) {
    *error = WriteFailure(db_, Location(), "cannot start writing the catalogue");
    return false;
  }
  Statement disc(db_,
                 "INSERT INTO discs(identifier, album, artist, track_count, compilation, "
                 "certified_level, release_rank, year, genre, store_id1, store_id2, "
                 "disc_number, disc_count) "
                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
  Statement track(db_,
                  "INSERT INTO tracks(disc_id, number, title, artist, length_ms, identifier) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  Statement rung(db_, "INSERT INTO signatures(track_id, rung, signature) VALUES (?1, ?2, ?3)");
  Statement text(db_,
                 "INSERT INTO track_text(rowid, artist, album, title) VALUES (?1, ?2, ?3, ?4)");
  // Both text indexes take the same normalized texts; the word index is written only while it is
  // current, else the next open rebuilds it.
  const bool keep_words = word_index_ && WordIndexCurrent(db_);
  Statement word(db_,
                 "INSERT INTO track_words(rowid, artist, album, title, title_key) "
                 "VALUES (?1, ?2, ?3, ?4, pelk_title_key(?4))");
  Statement genre(db_, "INSERT OR IGNORE INTO genres(name) VALUES (?1)");
  Statement existing(db_,
                     "SELECT id, artist, album, disc_number, disc_count FROM discs "
                     "WHERE identifier = ?1");
  Statement holder(db_,
                   "SELECT d.identifier, d.artist, d.album, d.disc_number, d.disc_count "
                   "FROM tracks t JOIN discs d ON d.id = t.disc_id WHERE t.identifier = ?1");
  // The word index has no content of its own: it is told the texts it indexed.
  Statement drop_words(
      db_,
      "INSERT INTO track_words(track_words, rowid, artist, album, title, title_key) "
      "SELECT 'delete', rowid, artist, album, title, pelk_title_key(title) FROM track_text "
      "WHERE rowid IN "
      "(SELECT id FROM tracks WHERE disc_id = ?1)");
  Statement drop_text(db_,
                      "DELETE FROM track_text WHERE rowid IN "
                      "(SELECT id FROM tracks WHERE disc_id = ?1)");
  Statement drop_signatures(db_,
                            "DELETE FROM signatures WHERE track_id IN "
                            "(SELECT id FROM tracks WHERE disc_id = ?1)");
  Statement drop_tracks(db_, "DELETE FROM tracks WHERE disc_id = ?1");
  Statement drop_disc(db_, "DELETE FROM discs WHERE id = ?1");
  auto fail = [&](const std::string& what) {
    *error = WriteFailure(db_, Location(), what);
    Execute(db_, "ROLLBACK", nullptr);
    return false;
  };
  auto refuse = [&](const std::string& words) {
    *error = words;
    Execute(db_, "ROLLBACK", nullptr);
    return false;
  };
  if (!disc.Ok() || !track.Ok() || !text.Ok() || !genre.Ok() || !existing.Ok() || !holder.Ok() ||
      !drop_text.Ok() || !drop_tracks.Ok() || !drop_disc.Ok() ||
      (keep_words && (!word.Ok() || !drop_words.Ok()))) {
    return fail("cannot prepare the catalogue insert");
  }
  if (!rung.Ok() || !drop_signatures.Ok()) return fail("cannot prepare the signatures insert");
  std::vector<int64_t> replaced;
  std::vector<std::pair<int64_t, const DiscRecord*>> added;
  for (const DiscRecord& d : discs) {
    existing.Reset();
    existing.Bind(1, d.identifier);
    if (existing.Step() == SQLITE_ROW) {
      const int64_t old_id = existing.Int(0);
      if (!replace) {
        return refuse("disc " +
                      DiscInWords(d.identifier, existing.Text(1), existing.Text(2), existing.Int(3),
                                  existing.Int(4)) +
                      " is already in the catalogue");
      }
      replaced.push_back(old_id);
      drop_signatures.Reset();
      drop_signatures.Bind(1, old_id);
      if (drop_signatures.Step() != SQLITE_DONE) {
        return fail("cannot remove the signatures of disc " + d.identifier);
      }
      for (Statement* drop : {&drop_words, &drop_text, &drop_tracks, &drop_disc}) {
        if (drop == &drop_words && !keep_words) continue;
        drop->Reset();
        drop->Bind(1, old_id);
        if (drop->Step() != SQLITE_DONE) return fail("cannot remove disc " + d.identifier);
      }
    }
  }
  for (const DiscRecord& d : discs) {
    for (const TrackRecord& t : d.tracks) {
      holder.Reset();
      holder.Bind(1, t.identifier);
      if (holder.Step() == SQLITE_ROW) {
        return refuse("track identifier " + t.identifier + " of disc " + d.identifier +
                      " is already in the catalogue, on disc " +
                      DiscInWords(holder.Text(0), holder.Text(1), holder.Text(2), holder.Int(3),
                                  holder.Int(4)));
      }
    }
  }
  for (const DiscRecord& d : discs) {
    const int32_t count = d.SoundTrackCount();
    disc.Reset();
    disc.Bind(1, d.identifier).Bind(2, d.album).Bind(3, d.artist).Bind(4, count);
    disc.Bind(5, d.compilation ? 1 : 0).Bind(6, d.certified_level).Bind(7, d.release_rank);
    disc.Bind(8, d.year).Bind(9, d.genre).Bind(10, d.store_id1).Bind(11, d.store_id2);
    disc.Bind(12, d.disc_number).Bind(13, d.disc_count);
    if (disc.Step() != SQLITE_DONE) return fail("disc " + d.identifier);
    const int64_t disc_id = sqlite3_last_insert_rowid(db_);
    added.emplace_back(disc_id, &d);
    if (!d.genre.empty()) {
      genre.Reset();
      genre.Bind(1, d.genre);
      if (genre.Step() != SQLITE_DONE) return fail("genre of disc " + d.identifier);
    }
    const std::string album_norm = NormalizedUtf8(d.album);
    for (const TrackRecord& t : d.tracks) {
      track.Reset();
      track.Bind(1, disc_id).Bind(2, t.number).Bind(3, t.title).Bind(4, t.artist);
      track.Bind(5, t.length_ms).Bind(6, t.identifier);
      if (track.Step() != SQLITE_DONE) return fail("track " + t.identifier);
      const int64_t track_id = sqlite3_last_insert_rowid(db_);
      const std::string artist_norm = NormalizedUtf8(d.TrackArtist(t));
      const std::string title_norm = NormalizedUtf8(t.title);
      for (Statement* index : {&text, &word}) {
        if (index == &word && !keep_words) continue;
        index->Reset();
        index->Bind(1, track_id).Bind(2, artist_norm).Bind(3, album_norm).Bind(4, title_norm);
        if (index->Step() != SQLITE_DONE) return fail("text index of track " + t.identifier);
      }
      // Rung 0 first; the ladder only beside it.
      for (size_t r = 0; t.signature && r <= t.ladder.size(); ++r) {
        const auto bytes = SignatureBytes(r == 0 ? *t.signature : t.ladder[r - 1]);
        rung.Reset();
        rung.Bind(1, track_id).Bind(2, static_cast<int64_t>(r));
        rung.BindBlob(3, bytes.data(), static_cast<int>(bytes.size()));
        if (rung.Step() != SQLITE_DONE) return fail("signatures of track " + t.identifier);
      }
    }
  }
  if (keep_words && !MarkWordIndexCurrent(db_)) return fail("cannot mark the word index current");
  if (!Execute(db_, "COMMIT", error)) {
    *error = WriteFailure(db_, Location(), "cannot commit to the catalogue");
    Execute(db_, "ROLLBACK", nullptr);
    return false;
  }
  // Under the same lock as the commit: a lookup cannot read the index between the two.
  if (SignatureIndexRead()) {
    RemoveIndexedDiscs(replaced);
    for (const auto& [disc_id, d] : added) {
      for (const TrackRecord& t : d->tracks) IndexTrack(disc_id, t);
    }
  }
  return true;
}

DiscPtr SqliteCatalogStore::LoadDisc(int64_t id) {
  Statement disc(db_,
                 "SELECT identifier, album, artist, track_count, compilation, certified_level, "
                 "release_rank, year, genre, store_id1, store_id2, disc_number, disc_count "
                 "FROM discs WHERE id = ?1");
  disc.Bind(1, id);
  if (disc.Step() != SQLITE_ROW) return nullptr;
  auto record = std::make_shared<DiscRecord>();
  record->id = id;
  record->identifier = disc.Text(0);
  record->album = disc.Text(1);
  record->artist = disc.Text(2);
  record->track_count = static_cast<int32_t>(disc.Int(3));
  record->compilation = disc.Int(4) != 0;
  record->certified_level = static_cast<int32_t>(disc.Int(5));
  record->release_rank = static_cast<int32_t>(disc.Int(6));
  record->year = static_cast<int32_t>(disc.Int(7));
  record->genre = disc.Text(8);
  record->store_id1 = disc.Text(9);
  record->store_id2 = disc.Text(10);
  record->disc_number = static_cast<int32_t>(disc.Int(11));
  record->disc_count = static_cast<int32_t>(disc.Int(12));
  Statement tracks(db_,
                   "SELECT id, number, title, artist, length_ms, identifier "
                   "FROM tracks WHERE disc_id = ?1 ORDER BY number");
  tracks.Bind(1, id);
  Statement rungs(db_, "SELECT rung, signature FROM signatures WHERE track_id = ?1 ORDER BY rung");
  while (tracks.Step() == SQLITE_ROW) {
    TrackRecord t;
    t.id = tracks.Int(0);
    t.number = static_cast<int32_t>(tracks.Int(1));
    t.title = tracks.Text(2);
    t.artist = tracks.Text(3);
    t.length_ms = static_cast<int32_t>(tracks.Int(4));
    t.identifier = tracks.Text(5);
    rungs.Reset();
    rungs.Bind(1, t.id);
    while (rungs.Step() == SQLITE_ROW) {
      const std::optional<Signature> s = SignatureFromBytes(rungs.Blob(1));
      if (!s) continue;
      if (rungs.Int(0) == 0) {
        t.signature = s;
      } else if (t.signature) {
        t.ladder.push_back(*s);
      }
    }
    record->tracks.push_back(std::move(t));
  }
  record->track_count = record->SoundTrackCount();
  return record;
}

DiscPtr SqliteCatalogStore::DiscById(int64_t id) {
  std::lock_guard lock(mutex_);
  return LoadDisc(id);
}

DiscPtr SqliteCatalogStore::DiscByIdentifier(std::string_view identifier) {
  std::lock_guard lock(mutex_);
  Statement s(db_, "SELECT id FROM discs WHERE identifier = ?1");
  s.Bind(1, identifier);
  return s.Step() == SQLITE_ROW ? LoadDisc(s.Int(0)) : nullptr;
}

std::optional<TrackHit> SqliteCatalogStore::TrackByIdentifier(std::string_view identifier) {
  std::lock_guard lock(mutex_);
  Statement s(db_, "SELECT disc_id, number FROM tracks WHERE identifier = ?1");
  s.Bind(1, identifier);
  if (s.Step() != SQLITE_ROW) return std::nullopt;
  return TrackHit{s.Int(0), static_cast<int32_t>(s.Int(1)), 0};
}

DiscPtr SqliteCatalogStore::DiscByStoreIds(std::string_view first, std::string_view second) {
  if (first.empty() || second.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  Statement s(db_, "SELECT id FROM discs WHERE store_id1 = ?1 AND store_id2 = ?2");
  s.Bind(1, first).Bind(2, second);
  return s.Step() == SQLITE_ROW ? LoadDisc(s.Int(0)) : nullptr;
}

std::vector<DiscPtr> SqliteCatalogStore::AllDiscs() {
  std::lock_guard lock(mutex_);
  std::vector<int64_t> ids;
  Statement s(db_, "SELECT id FROM discs ORDER BY artist, album, disc_number, id");
  while (s.Step() == SQLITE_ROW) ids.push_back(s.Int(0));
  std::vector<DiscPtr> discs;
  for (int64_t id : ids) discs.push_back(LoadDisc(id));
  return discs;
}

std::vector<DiscPtr> SqliteCatalogStore::ReleaseDiscs(const DiscRecord& disc) {
  std::lock_guard lock(mutex_);
  std::vector<int64_t> ids;
  Statement s(db_,
              "SELECT id FROM discs WHERE artist = ?1 AND album = ?2 ORDER BY disc_number, id");
  s.Bind(1, disc.artist).Bind(2, disc.album);
  while (s.Step() == SQLITE_ROW) ids.push_back(s.Int(0));
  std::vector<DiscPtr> discs;
  for (int64_t id : ids) discs.push_back(LoadDisc(id));
  return discs;
}

CatalogStats SqliteCatalogStore::Stats() {
  std::lock_guard lock(mutex_);
  CatalogStats stats;
  Statement s(db_,
              "SELECT (SELECT count(*) FROM discs), (SELECT count(*) FROM tracks), "
              "(SELECT count(*) FROM signatures), "
              "(SELECT count(DISTINCT track_id) FROM signatures)");
  if (s.Step() == SQLITE_ROW) stats = {s.Int(0), s.Int(1), s.Int(2), s.Int(3)};
  return stats;
}

int64_t SqliteCatalogStore::GenreNumber(std::string_view genre) {
  if (genre.empty()) return 0;
  std::lock_guard lock(mutex_);
  Statement s(db_, "SELECT id FROM genres WHERE name = ?1");
  s.Bind(1, genre);
  return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
}

void SqliteCatalogStore::ReadAllRungs(const RungSink& sink) {
  const CatalogRungs rungs = ReadRungs(db_);
  for (size_t i = 0; i < rungs.signatures.size(); ++i) {
    const auto& [disc_id, track] = rungs.tracks[rungs.owners[i]];
    sink(disc_id, track, rungs.signatures[i]);
  }
}

std::vector<TrackHit> SqliteCatalogStore::TextCandidates(const std::vector<std::string>& words,
                                                         std::string_view column, bool all_words,
                                                         size_t limit) {
  if (!column.empty() && column != "title" && column != "artist" && column != "album") return {};
  const std::string query = FtsQuery(words, column, all_words);
  std::vector<TrackHit> hits;
  if (query.empty()) return hits;
  std::lock_guard lock(mutex_);
  Statement s(db_,
              "SELECT t.disc_id, t.number FROM track_text JOIN tracks t ON t.id = track_text.rowid "
              "WHERE track_text MATCH ?1 ORDER BY bm25(track_text) LIMIT ?2");
  s.Bind(1, query).Bind(2, static_cast<int64_t>(limit));
  while (s.Step() == SQLITE_ROW) {
    hits.push_back(TrackHit{s.Int(0), static_cast<int32_t>(s.Int(1)), 0});
  }
  return hits;
}

Statement& SqliteCatalogStore::Cached(std::unique_ptr<Statement>& slot, std::string_view sql) {
  if (!slot) {
    slot = std::make_unique<Statement>(db_, sql);
  } else {
    slot->Reset();
  }
  return *slot;
}

bool SqliteCatalogStore::HasWordIndex() {
  std::lock_guard lock(mutex_);
  if (!word_index_) return false;
  // The table was there at open; another program may since have written without it.
  Statement& s = Cached(word_state_, "SELECT value = 'current' FROM meta WHERE key = 'word_index'");
  const bool current = s.Step() == SQLITE_ROW && s.Int(0) == 1;
  s.Reset();
  return current;
}

bool SqliteCatalogStore::HasWord(WordColumn column, std::string_view word) {
  const std::string match = FtsMatch(AllWordsIn(column, {std::string(word)}));
  if (match.empty()) return false;
  std::lock_guard lock(mutex_);
  Statement& s = Cached(has_word_, "SELECT 1 FROM track_words WHERE track_words MATCH ?1 LIMIT 1");
  s.Bind(1, match);
  const bool found = s.Step() == SQLITE_ROW;
  s.Reset();  // a statement left stepping would hold the file's read lock
  return found;
}

size_t SqliteCatalogStore::WordMatches(const WordQuery& query, size_t at_most) {
  const std::string match = FtsMatch(query);
  if (match.empty()) return 0;
  std::lock_guard lock(mutex_);
  Statement& s = Cached(word_count_,
                        "SELECT count(*) FROM (SELECT 1 FROM track_words WHERE track_words "
                        "MATCH ?1 LIMIT ?2)");
  s.Bind(1, match).Bind(2, static_cast<int64_t>(at_most));
  const size_t count = s.Step() == SQLITE_ROW ? static_cast<size_t>(s.Int(0)) : 0;
  s.Reset();
  return count;
}

std::vector<TextCandidate> SqliteCatalogStore::WordCandidates(const WordQuery& query, size_t limit,
                                                              bool ranked) {
  std::vector<TextCandidate> candidates;
  const std::string match = FtsMatch(query);
  if (match.empty()) return candidates;
  std::lock_guard lock(mutex_);
  // The index ranks and cuts first; only the kept rows are joined to their tracks and discs.
  Statement& s =
      ranked ? Cached(ranked_words_,
                      "SELECT t.disc_id, t.number, t.title, t.artist, d.artist, d.album FROM "
                      "(SELECT rowid AS id, rank FROM track_words WHERE track_words MATCH ?1 "
                      "ORDER BY rank LIMIT ?2) AS m "
                      "JOIN tracks t ON t.id = m.id JOIN discs d ON d.id = t.disc_id "
                      "ORDER BY m.rank")
             : Cached(unranked_words_,
                      "SELECT t.disc_id, t.number, t.title, t.artist, d.artist, d.album FROM "
                      "(SELECT rowid AS id FROM track_words WHERE track_words MATCH ?1 "
                      "LIMIT ?2) AS m "
                      "JOIN tracks t ON t.id = m.id JOIN discs d ON d.id = t.disc_id");
  s.Bind(1, match).Bind(2, static_cast<int64_t>(limit));
  while (s.Step() == SQLITE_ROW) {
    candidates.push_back(TextCandidate{s.Int(0), static_cast<int32_t>(s.Int(1)), s.Text(2),
                                       s.Text(3), s.Text(4), s.Text(5)});
  }
  s.Reset();
  return candidates;
}

}  // namespace pelk::catalog
