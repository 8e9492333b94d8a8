// How the catalogue's word index sees text, whichever backend holds it: the words of a normalized
// text, the exact-title key, and the word queries lookups build from them (WordQuery).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_store.h"

namespace pelk::catalog {

// Words beyond these make a lookup no better, only longer: a clause keeps the first ones.
constexpr size_t kMaxQueryWords = 8;

// A text in the normalized form (text::StandardNormalized) the catalogue stores for lookups.
std::string NormalizedUtf8(std::string_view text);

// The words of a normalized text as the index splits them: runs of ASCII letters and digits and
// of any non-ASCII characters, lower-cased, so every query word is one token of the index.
std::vector<std::string> IndexWords(std::string_view normalized_utf8);

// The whole normalized title as one word of the title_key column: its words joined by a
// character the index keeps inside a word. Empty for a text without words.
std::string TitleKey(std::string_view normalized_utf8);

// One-clause queries; empty when there are no words (AllButOneWordIn: fewer than two).
WordQuery AllWordsIn(WordColumn column, const std::vector<std::string>& words);
// Every word but at most one: for a text with one wrong or extra word.
WordQuery AllButOneWordIn(WordColumn column, const std::vector<std::string>& words);
// Both queries at once; empty when either is empty.
WordQuery Both(const WordQuery& a, const WordQuery& b);

// The column's name in the catalogue's tables: "title", "artist", "album", "title_key".
std::string_view ColumnName(WordColumn column);

}  // namespace pelk::catalog
