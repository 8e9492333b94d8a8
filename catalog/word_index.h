// The word index of a SQLite catalogue: the normalized artist, album and title of every track as
// whole words, beside the trigram table. Lookups by words cost what the words' posting lists cost,
// not what the catalogue holds; the trigram table stays for texts whose words are not in the index
// (misspellings, words run together) and for files that have no word index.
//
// The table (track_words) has no content of its own: the store deletes a track's words by handing
// back the normalized texts it indexed, which the trigram table keeps. Programs that predate the
// word index write tracks without it; triggers on tracks and discs then mark the index stale in
// meta, and the next open rebuilds it. A stale or missing index is never used for lookups.
//
// These functions take the connection; the caller holds the store's lock.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

// Creates the word index (and its triggers) when missing and fills it from the trigram table, or
// rebuilds it when it is marked stale, in one transaction. True when the index is present and
// current afterwards; false (with *why) when the file cannot be written: nothing is changed then.
// Also gives the connection the SQL function pelk_title_key (TitleKey), which writes to the
// index need; call it on every connection that writes to the catalogue.
bool EnsureWordIndex(sqlite3* db, std::string* why);

// Whether the word index exists and is current (no program without it has written tracks since).
bool WordIndexCurrent(sqlite3* db);

// Marks the index current: the last statement of a transaction that kept it in step, begun while
// it was current.
bool MarkWordIndexCurrent(sqlite3* db);

// The FTS5 MATCH expression of a word query. Every word is quoted, so no word can change the
// expression's syntax; a word ending in * becomes a prefix query. Empty for an empty query.
std::string FtsMatch(const WordQuery& query);

}  // namespace pelk::catalog
