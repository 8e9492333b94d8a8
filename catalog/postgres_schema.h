// The catalogue's tables in a PostgreSQL database (in the connection's current schema): laid out
// on first use, checked on every open.
//
// Each track row carries the normalized artist (the disc's when the track has none), album and
// title it is found by, their index words (IndexWords, computed by the program so that every
// backend splits words alike) and its exact-title key. The tables:
//   meta            application, schema_version, and generation: a counter every write raises
//                   as its first statement (the row lock it takes also makes writers wait for
//                   each other, so the identity columns below grow in commit order);
//                   removals_pruned_through once old removed_discs rows were deleted
//   discs, tracks   as the file catalogue's; words arrays with GIN indexes, trigram indexes
//                   (pg_trgm) on the normalized texts, a btree on the title key
//   words           every index word by column, for words given by their beginning (w*)
//   signatures      rung rows (track, rung, 30 smallint values); ids grow in commit order
//   removed_discs   the discs a write replaced, by generation, so readers can follow; kept for
//                   the last 1000 generations
//   genres          genre numbers
#pragma once

#include <string>

#include "catalog/catalog_store.h"
#include "catalog/pg_connection.h"

namespace pelk::catalog {

// Makes sure the database holds a catalogue of the current schema. Under kCreate an empty schema
// gets the tables (and the pg_trgm extension when missing) in one transaction; two processes
// laying out at once wait for each other. Refused in words, with nothing altered: a database
// holding other tables, another application's meta table, a newer schema; under kExisting, one
// without a catalogue. `where` names the catalogue in messages.
bool PreparePostgresCatalogue(PgConnection& connection, const std::string& where,
                              CatalogStore::OpenMode mode, std::string* error);

}  // namespace pelk::catalog
