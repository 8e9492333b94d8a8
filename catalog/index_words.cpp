#include "catalog/index_words.h"

#include "runtime/utf.h"
#include "text/normalize.h"

namespace pelk::catalog {
namespace {

// U+00B7: not ASCII, so the index keeps it inside a word; the normalization never leaves it.
constexpr std::string_view kKeyJoiner = "\xC2\xB7";

bool IsWordByte(unsigned char c) {
  return c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::vector<std::string> FirstWords(const std::vector<std::string>& words) {
  return std::vector<std::string>(words.begin(),
                                  words.begin() + std::min(words.size(), kMaxQueryWords));
}

}  // namespace

std::string NormalizedUtf8(std::string_view text) {
  return Utf16ToUtf8(text::StandardNormalized(Utf8ToUtf16(text)));
}

std::vector<std::string> IndexWords(std::string_view normalized_utf8) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : normalized_utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsWordByte(byte)) {
      word += (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : c;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

std::string TitleKey(std::string_view normalized_utf8) {
  std::string key;
  for (const std::string& w : IndexWords(normalized_utf8)) {
    if (!key.empty()) key += kKeyJoiner;
    key += w;
  }
  return key;
}

WordQuery AllWordsIn(WordColumn column, const std::vector<std::string>& words) {
  if (words.empty()) return {};
  return {WordClause{column, FirstWords(words), false}};
}

WordQuery AllButOneWordIn(WordColumn column, const std::vector<std::string>& words) {
  if (words.size() < 2) return {};
  return {WordClause{column, FirstWords(words), true}};
}

WordQuery Both(const WordQuery& a, const WordQuery& b) {
  if (a.empty() || b.empty()) return {};
  WordQuery both = a;
  both.insert(both.end(), b.begin(), b.end());
  return both;
}

std::string_view ColumnName(WordColumn column) {
  switch (column) {
    case WordColumn::kTitle:
      return "title";
    case WordColumn::kArtist:
      return "artist";
    case WordColumn::kAlbum:
      return "album";
    case WordColumn::kTitleKey:
      return "title_key";
  }
  return "title";
}

}  // namespace pelk::catalog
