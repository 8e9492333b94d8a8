#include "catalog/postgres_text_query.h"

#include "catalog/index_words.h"

namespace pelk::catalog {
namespace {

std::string WordsColumn(WordColumn column) {
  return "t." + std::string(ColumnName(column)) + "_words";
}

bool IsPrefix(const std::string& word) { return !word.empty() && word.back() == '*'; }

// One clause's words, each sent once; the predicates name them by parameter number.
struct ClauseWords {
  WordColumn column;
  // "$n" of each word: a whole word, a title key's LIKE pattern, or the array of the words a
  // beginning stands for ("" when it stands for none).
  std::vector<std::string> numbers;
  std::vector<bool> prefix;
};

bool SendWords(const WordClause& clause, const PrefixWords& prefix_words, PgParams* params,
               ClauseWords* sent) {
  *sent = ClauseWords{clause.column, {}, {}};
  for (const std::string& word : clause.words) {
    const bool prefix = IsPrefix(word);
    const std::string pattern =
        prefix ? LikeEscaped(std::string_view(word).substr(0, word.size() - 1)) + "%" : word;
    if (prefix && clause.column != WordColumn::kTitleKey) {
      std::vector<std::string> words;
      if (!prefix_words(clause.column, pattern, &words)) return false;
      if (!words.empty()) params->AddTextArray(words);
      sent->numbers.push_back(words.empty() ? "" : params->Last());
    } else {
      params->Add(pattern);
      sent->numbers.push_back(params->Last());
    }
    sent->prefix.push_back(prefix);
  }
  return true;
}

// Whether the track holds one word of the clause.
std::string HoldsWord(const ClauseWords& c, size_t i) {
  if (c.column == WordColumn::kTitleKey) {
    return "t.title_key " + std::string(c.prefix[i] ? "LIKE " : "= ") + c.numbers[i];
  }
  if (!c.prefix[i]) return WordsColumn(c.column) + " @> ARRAY[" + c.numbers[i] + "]::text[]";
  if (c.numbers[i].empty()) return "false";
  return WordsColumn(c.column) + " && " + c.numbers[i] + "::text[]";
}

// Whether the track holds every word of the clause but the one at `skip` (none when out of
// range). Whole words go into one containment test: one index search for all of them.
std::string HoldsWords(const ClauseWords& c, size_t skip) {
  std::vector<std::string> parts;
  std::string whole;
  for (size_t i = 0; i < c.numbers.size(); ++i) {
    if (i == skip) continue;
    if (c.column != WordColumn::kTitleKey && !c.prefix[i]) {
      whole += (whole.empty() ? "" : ", ") + c.numbers[i];
    } else {
      parts.push_back(HoldsWord(c, i));
    }
  }
  if (!whole.empty())
    parts.insert(parts.begin(), WordsColumn(c.column) + " @> ARRAY[" + whole + "]::text[]");
  std::string all;
  for (const std::string& part : parts) all += (all.empty() ? "" : " AND ") + part;
  return all.empty() ? "true" : all;
}

std::string NormColumn(std::string_view column) { return "t." + std::string(column) + "_norm"; }

}  // namespace

std::string LikeEscaped(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

bool WordQueryCondition(const WordQuery& query, const PrefixWords& prefix_words, PgParams* params,
                        PgCondition* result) {
  *result = {};
  PgCondition condition;
  std::string missing, length;
  bool counted[3] = {false, false, false};
  for (const WordClause& clause : query) {
    if (clause.words.empty() || (clause.all_but_one && clause.words.size() < 2)) return true;
    ClauseWords c;
    if (!SendWords(clause, prefix_words, params, &c)) return false;
    std::string holds;
    if (!clause.all_but_one) {
      holds = HoldsWords(c, c.numbers.size());
    } else {
      for (size_t skip = 0; skip < c.numbers.size(); ++skip) {
        holds += (skip ? " OR (" : "(") + HoldsWords(c, skip) + ")";
        missing += std::string(missing.empty() ? "" : " + ") + "(CASE WHEN " + HoldsWord(c, skip) +
                   " THEN 0 ELSE 1 END)";
      }
    }
    condition.where += (condition.where.empty() ? "(" : " AND (") + holds + ")";
    const auto column = static_cast<size_t>(clause.column);
    if (clause.column != WordColumn::kTitleKey && !counted[column]) {
      counted[column] = true;
      length += (length.empty() ? "" : " + ") + ("cardinality(" + WordsColumn(clause.column) + ")");
    }
  }
  // (A bare number would name a column of the result.)
  condition.rank = missing.empty() ? length : length.empty() ? missing : missing + ", " + length;
  *result = std::move(condition);
  return true;
}

PgCondition SubstringCondition(const std::vector<std::string>& words, std::string_view column,
                               bool all_words, PgParams* params) {
  const std::vector<std::string_view> columns =
      column.empty() ? std::vector<std::string_view>{"artist", "album", "title"}
                     : std::vector<std::string_view>{column};
  PgCondition condition;
  std::string held;
  for (const std::string& word : words) {
    if (word.size() < 3) continue;
    params->Add("%" + LikeEscaped(word) + "%");
    std::string holds;
    for (std::string_view c : columns) {
      holds += (holds.empty() ? "" : " OR ") + NormColumn(c) + " ILIKE " + params->Last();
    }
    holds = "(" + holds + ")";
    condition.where += (condition.where.empty() ? "" : all_words ? " AND " : " OR ") + holds;
    held += (held.empty() ? "" : " + ") + ("(CASE WHEN " + holds + " THEN 1 ELSE 0 END)");
  }
  if (condition.where.empty()) return condition;
  condition.where = "(" + condition.where + ")";
  std::string length;
  for (std::string_view c : columns) {
    length += (length.empty() ? "" : " + ") + ("length(" + NormColumn(c) + ")");
  }
  condition.rank = all_words ? length : "-(" + held + "), " + length;
  return condition;
}

}  // namespace pelk::catalog
