#include "catalog/word_index.h"

#include "catalog/index_words.h"
#include "catalog/sqlite_statement.h"

namespace pelk::catalog {
namespace {

// detail=column: single words need no positions, and the file stays smaller. The ascii tokenizer
// splits where IndexWords does, so a query word is always one token. title_key holds the whole
// title as one token (TitleKey), so the tracks of one exact title are found without ranking
// every track that shares a word with it.
constexpr std::string_view kCreateWordIndex = R"sql(
CREATE VIRTUAL TABLE track_words USING fts5(artist, album, title, title_key, content='',
                                            tokenize='ascii', detail=column);
)sql";

// Writers that do not know the word index still fire these; the index is rebuilt on the next
// open. The store's own writes mark it current again at the end of their transaction.
constexpr std::string_view kStaleTriggers = R"sql(
CREATE TRIGGER IF NOT EXISTS track_words_stale_insert AFTER INSERT ON tracks BEGIN
  UPDATE meta SET value = 'stale' WHERE key = 'word_index'; END;
CREATE TRIGGER IF NOT EXISTS track_words_stale_delete AFTER DELETE ON tracks BEGIN
  UPDATE meta SET value = 'stale' WHERE key = 'word_index'; END;
CREATE TRIGGER IF NOT EXISTS track_words_stale_track AFTER UPDATE OF title, artist ON tracks BEGIN
  UPDATE meta SET value = 'stale' WHERE key = 'word_index'; END;
CREATE TRIGGER IF NOT EXISTS track_words_stale_disc AFTER UPDATE OF album, artist ON discs BEGIN
  UPDATE meta SET value = 'stale' WHERE key = 'word_index'; END;
)sql";

// The trigram table holds the same normalized texts, keyed by track.
constexpr std::string_view kFillWordIndex =
    "INSERT INTO track_words(rowid, artist, album, title, title_key) "
    "SELECT rowid, artist, album, title, pelk_title_key(title) FROM track_text";

void TitleKeyFunction(sqlite3_context* context, int, sqlite3_value** values) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  const std::string key =
      TitleKey(text ? std::string_view(text, sqlite3_value_bytes(values[0])) : "");
  sqlite3_result_text(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
}

bool WordTableExists(sqlite3* db) {
  Statement s(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'track_words'");
  return s.Step() == SQLITE_ROW;
}

// A trailing * (never part of an index word) asks for the words that begin with it.
std::string Quoted(const std::string& word) {
  const bool prefix = !word.empty() && word.back() == '*';
  std::string quoted = "\"";
  for (size_t i = 0; i < word.size() - (prefix ? 1 : 0); ++i) {
    if (word[i] == '"') quoted += '"';  // FTS5 doubles a quote inside a string
    quoted += word[i];
  }
  quoted += '"';
  return prefix ? quoted + '*' : quoted;
}

std::string Joined(const std::vector<std::string>& words, std::string_view glue, size_t skip) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i == skip) continue;
    if (!text.empty()) text += glue;
    text += Quoted(words[i]);
  }
  return text;
}

std::string ClauseMatch(const WordClause& clause) {
  std::string expression;
  if (!clause.all_but_one) {
    expression = Joined(clause.words, " AND ", clause.words.size());
  } else if (clause.words.size() >= 2) {
    for (size_t skip = 0; skip < clause.words.size(); ++skip) {
      if (!expression.empty()) expression += " OR ";
      expression += "(" + Joined(clause.words, " AND ", skip) + ")";
    }
  }
  if (expression.empty()) return expression;
  return std::string(ColumnName(clause.column)) + " : (" + expression + ")";
}

}  // namespace

bool WordIndexCurrent(sqlite3* db) {
  if (!WordTableExists(db)) return false;
  Statement s(db, "SELECT value FROM meta WHERE key = 'word_index'");
  return s.Step() == SQLITE_ROW && s.Text(0) == "current";
}

bool MarkWordIndexCurrent(sqlite3* db) {
  return Execute(db, "INSERT OR REPLACE INTO meta(key, value) VALUES ('word_index', 'current')",
                 nullptr);
}

bool EnsureWordIndex(sqlite3* db, std::string* why) {
  sqlite3_create_function(db, "pelk_title_key", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                          TitleKeyFunction, nullptr, nullptr);
  if (WordIndexCurrent(db)) return true;
  std::string error;
  bool ok = Execute(db, "BEGIN IMMEDIATE", &error);
  if (ok && !WordIndexCurrent(db)) {  // another connection may have built it meanwhile
    ok = (WordTableExists(db)
              ? Execute(db, "INSERT INTO track_words(track_words) VALUES ('delete-all')", &error)
              : Execute(db, kCreateWordIndex, &error)) &&
         Execute(db, kStaleTriggers, &error) && Execute(db, kFillWordIndex, &error) &&
         MarkWordIndexCurrent(db);
  }
  if (ok) ok = Execute(db, "COMMIT", &error);
  if (!ok) {
    Execute(db, "ROLLBACK", nullptr);
    if (why) *why = error.empty() ? sqlite3_errmsg(db) : error;
  }
  return ok;
}

std::string FtsMatch(const WordQuery& query) {
  std::string match;
  for (const WordClause& clause : query) {
    const std::string one = ClauseMatch(clause);
    if (one.empty()) return {};
    if (!match.empty()) match += " AND ";
    match += one;
  }
  return match;
}

}  // namespace pelk::catalog
