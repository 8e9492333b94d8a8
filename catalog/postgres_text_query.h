// Text lookups in PostgreSQL's terms: the conditions over the tracks table (alias t) that a word
// query or a substring search asks for. Every word goes into the statement's parameters; the SQL
// text is made of fixed fragments and parameter numbers only, so no word can change a query.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_store.h"
#include "catalog/pg_connection.h"

namespace pelk::catalog {

struct PgCondition {
  std::string where;  // a boolean expression over t; empty when nothing can match
  std::string rank;   // ORDER BY expressions, best first; may be empty
};

// The words of a column that a LIKE pattern matches, from the words table, into *words; false
// when they cannot be read.
using PrefixWords = std::function<bool(WordColumn column, const std::string& pattern,
                                       std::vector<std::string>* words)>;

// The tracks a word query asks for, into *condition. Whole words are found through the words
// arrays' GIN indexes, a word given by its beginning (w*) by the words prefix_words finds for it
// (sent as an array, so the planner sees what it searches for, and a beginning that no word has
// is no search at all), the exact title through the title key's btree. Ranked as a full-text
// rank favours matches: fewer query words missing first (a clause may miss one), then fewer
// words in the fields the query searched (a word among few says more about a field than among
// many). False when prefix_words failed.
bool WordQueryCondition(const WordQuery& query, const PrefixWords& prefix_words, PgParams* params,
                        PgCondition* condition);

// Tracks whose normalized fields hold the words of three characters or more as substrings
// (pg_trgm's indexes answer these): every word, or any one of them. column is "title", "artist",
// "album", or empty for any of them. Ranked: more of the words held first, then shorter fields.
PgCondition SubstringCondition(const std::vector<std::string>& words, std::string_view column,
                               bool all_words, PgParams* params);

// A LIKE pattern matching the text itself, its %, _ and \ taken literally.
std::string LikeEscaped(std::string_view text);

}  // namespace pelk::catalog
