#include "catalog/postgres_schema.h"

#include <cstdlib>

namespace pelk::catalog {
namespace {

constexpr std::string_view kApplication = "pelk-catalog";
// Held while a catalogue is laid out, by every process that would lay one out in the database.
constexpr std::string_view kLayoutLock = "SELECT pg_advisory_xact_lock(7350211946061)";

// The btrees of the title key and the words take text_pattern_ops: they answer equality and the
// words that begin with a text (LIKE 'w%') alike.
constexpr std::string_view kSchema = R"sql(
CREATE TABLE meta(key text PRIMARY KEY, value text NOT NULL);
CREATE TABLE discs(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  identifier text NOT NULL UNIQUE,
  album text NOT NULL,
  artist text NOT NULL,
  track_count integer NOT NULL,
  disc_number integer NOT NULL DEFAULT 0,
  disc_count integer NOT NULL DEFAULT 0,
  compilation boolean NOT NULL DEFAULT false,
  certified_level integer NOT NULL DEFAULT 0,
  release_rank integer NOT NULL DEFAULT 0,
  year integer NOT NULL DEFAULT 0,
  genre text NOT NULL DEFAULT '',
  store_id1 text NOT NULL DEFAULT '',
  store_id2 text NOT NULL DEFAULT '');
CREATE INDEX discs_store_ids ON discs(store_id1, store_id2);
CREATE INDEX discs_release ON discs(artist, album, disc_number);
CREATE TABLE tracks(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  disc_id bigint NOT NULL REFERENCES discs(id) ON DELETE CASCADE,
  number integer NOT NULL,
  title text NOT NULL,
  artist text NOT NULL DEFAULT '',
  length_ms integer NOT NULL DEFAULT 0,
  identifier text NOT NULL UNIQUE,
  artist_norm text NOT NULL,
  album_norm text NOT NULL,
  title_norm text NOT NULL,
  artist_words text[] NOT NULL,
  album_words text[] NOT NULL,
  title_words text[] NOT NULL,
  title_key text NOT NULL,
  UNIQUE(disc_id, number));
CREATE INDEX tracks_artist_words ON tracks USING gin(artist_words);
CREATE INDEX tracks_album_words ON tracks USING gin(album_words);
CREATE INDEX tracks_title_words ON tracks USING gin(title_words);
CREATE INDEX tracks_title_key ON tracks(title_key text_pattern_ops);
CREATE INDEX tracks_artist_trigrams ON tracks USING gin(artist_norm gin_trgm_ops);
CREATE INDEX tracks_album_trigrams ON tracks USING gin(album_norm gin_trgm_ops);
CREATE INDEX tracks_title_trigrams ON tracks USING gin(title_norm gin_trgm_ops);
CREATE TABLE words(col smallint NOT NULL, word text NOT NULL);
CREATE UNIQUE INDEX words_by_column ON words(col, word text_pattern_ops);
CREATE TABLE signatures(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  track_id bigint NOT NULL REFERENCES tracks(id) ON DELETE CASCADE,
  rung integer NOT NULL,
  signature smallint[] NOT NULL CHECK (cardinality(signature) = 30),
  UNIQUE(track_id, rung));
CREATE TABLE removed_discs(generation bigint NOT NULL, disc_id bigint NOT NULL);
CREATE INDEX removed_discs_generation ON removed_discs(generation);
CREATE TABLE genres(
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  name text NOT NULL UNIQUE);
)sql";

// How many tables the current schema holds, and whether one of them is called meta.
constexpr std::string_view kSchemaState = R"sql(
SELECT count(*), count(*) FILTER (WHERE c.relname = 'meta')
FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace
WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p', 'v', 'm', 'f')
)sql";

struct SchemaState {
  bool read = false;
  int64_t tables = 0;
  bool has_meta = false;
};

SchemaState ReadState(PgConnection& connection, std::string* why) {
  const PgResult r = connection.Exec(kSchemaState);
  if (!r.Ok() || r.Rows() != 1) {
    *why = r.Error().empty() ? connection.LastError() : r.Error();
    return {};
  }
  return {true, r.Int(0, 0), r.Int(0, 1) > 0};
}

bool CheckCatalogue(PgConnection& connection, const std::string& where, std::string* error) {
  const PgResult r = connection.Exec(
      "SELECT key, value FROM meta "
      "WHERE key IN ('application', 'schema_version', 'generation')");
  std::string application, version;
  bool generation = false;
  for (int row = 0; r.Ok() && row < r.Rows(); ++row) {
    const std::string_view key = r.View(row, 0);
    if (key == "application") application = r.Text(row, 1);
    if (key == "schema_version") version = r.Text(row, 1);
    if (key == "generation") generation = true;
  }
  if (!r.Ok() || application != kApplication) {
    *error = where + " is not a catalogue (its meta table is another application's)";
    return false;
  }
  if (version.empty()) {
    *error = where + " is a catalogue without a schema version";
    return false;
  }
  const int found = std::atoi(version.c_str());
  if (found > CatalogStore::kSchemaVersion) {
    *error = where + " has catalogue schema " + std::to_string(found) +
             ", newer than this program's " + std::to_string(CatalogStore::kSchemaVersion);
    return false;
  }
  if (found < CatalogStore::kSchemaVersion || !generation) {
    *error = where + " has an unknown catalogue schema";
    return false;
  }
  return true;
}

// Lays out the tables in one transaction; false (nothing laid out) when another process laid
// them out meanwhile (*raced) or when it fails (*error).
bool LayOut(PgConnection& connection, const std::string& where, bool* raced, std::string* error) {
  auto fail = [&](const std::string& words) {
    *error = words;
    connection.RollbackIfOpen();
    return false;
  };
  if (!connection.Exec("BEGIN").Ok() || !connection.Exec(kLayoutLock).Ok()) {
    return fail("cannot lay out a catalogue in " + where + ": " + connection.LastError());
  }
  std::string why;
  const SchemaState state = ReadState(connection, &why);
  if (!state.read) return fail("cannot read " + where + ": " + why);
  if (state.has_meta) {
    *raced = true;
    connection.RollbackIfOpen();
    return false;
  }
  if (state.tables > 0)
    return fail(where + " is not a catalogue (the database holds other tables)");
  if (const PgResult r = connection.Exec("CREATE EXTENSION IF NOT EXISTS pg_trgm"); !r.Ok()) {
    return fail("cannot lay out a catalogue in " + where +
                ": the pg_trgm extension is not installed in the database and this role may not "
                "create it (" +
                r.Error() + "); an administrator can run CREATE EXTENSION pg_trgm there");
  }
  if (const PgResult r = connection.Exec(kSchema); !r.Ok()) {
    return fail("cannot lay out a catalogue in " + where + ": " + r.Error());
  }
  PgParams meta;
  meta.Add(kApplication).Add(std::to_string(CatalogStore::kSchemaVersion));
  if (const PgResult r = connection.Exec(
          "INSERT INTO meta(key, value) VALUES ('application', $1), ('schema_version', $2), "
          "('generation', '0')",
          meta);
      !r.Ok()) {
    return fail("cannot lay out a catalogue in " + where + ": " + r.Error());
  }
  if (const PgResult r = connection.Exec("COMMIT"); !r.Ok()) {
    return fail("cannot lay out a catalogue in " + where + ": " + r.Error());
  }
  return true;
}

}  // namespace

bool PreparePostgresCatalogue(PgConnection& connection, const std::string& where,
                              CatalogStore::OpenMode mode, std::string* error) {
  std::string why;
  const SchemaState state = ReadState(connection, &why);
  if (!state.read) {
    *error = "cannot read " + where + ": " + why;
    return false;
  }
  if (state.has_meta) return CheckCatalogue(connection, where, error);
  if (mode == CatalogStore::OpenMode::kExisting) {
    *error = "no catalogue in " + where;
    return false;
  }
  if (state.tables > 0) {
    *error = where + " is not a catalogue (the database holds other tables)";
    return false;
  }
  bool raced = false;
  if (!LayOut(connection, where, &raced, error) && !raced) return false;
  return CheckCatalogue(connection, where, error);
}

}  // namespace pelk::catalog
