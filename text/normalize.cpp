#include "text/normalize.h"

#include <algorithm>
#include <bitset>
#include <new>
#include <span>
#include <stdexcept>

#include "runtime/bstr.h"
#include "text/char_table.h"
#include "text/normalize_passes.h"
#include "text/word_tables.h"

namespace pelk::text {
namespace {

constexpr char16_t kSpace = u' ';

bool IsLetter(char16_t c) { return LookupChar(c).char_class == CharClass::kLetter; }
bool IsDigit(char16_t c) { return LookupChar(c).char_class == CharClass::kDigit; }

// The start of the text counts as following a space, so no pass ever emits a leading space.
bool AtWordStart(const std::u16string& out) { return out.empty() || out.back() == kSpace; }

void WordBreak(std::u16string& out) {
  if (!AtWordStart(out)) out.push_back(kSpace);
}

void DropTrailingSpace(std::u16string& text) {
  if (!text.empty() && text.back() == kSpace) text.pop_back();
}

// Applies the action of `entry`, the entry of in[i]. Neighbours are the characters of the
// pass's input on either side (none at the ends).
void ApplyAction(const CharEntry& entry, std::u16string_view in, size_t i, std::u16string& out) {
  const char16_t prev = i > 0 ? in[i - 1] : 0;
  const char16_t next = i + 1 < in.size() ? in[i + 1] : 0;
  switch (entry.action) {
    case CharAction::kCopy:
      out.push_back(in[i]);
      break;
    case CharAction::kDrop:
      break;
    case CharAction::kWordBreak:
      WordBreak(out);
      break;
    case CharAction::kReplace:
      out.append(entry.replacement);
      break;
    case CharAction::kWord:
      WordBreak(out);
      out.append(entry.replacement);
      out.push_back(kSpace);
      break;
    case CharAction::kInsideWord:
      if (AtWordStart(out) || (!IsLetter(prev) && !IsLetter(next))) break;
      out.append(entry.replacement);
      break;
    case CharAction::kBetweenLetters:
      if (AtWordStart(out)) break;
      if (IsLetter(prev) && IsLetter(next)) {
        out.append(entry.replacement);
      } else {
        WordBreak(out);
      }
      break;
    case CharAction::kDigitGrouping:
      if (AtWordStart(out) || (IsDigit(prev) && IsDigit(next))) break;
      WordBreak(out);
      break;
  }
}

// Letters, spaces, digits and controls through the character table; punctuation and symbols
// are kept for the punctuation pass, so that the elisions still see their apostrophe.
std::u16string LettersPass(std::u16string_view in) {
  std::u16string out;
  out.reserve(in.size() * 2 + 64);
  for (size_t i = 0; i < in.size(); ++i) {
    char16_t composed;
    if (i + 1 < in.size() && LookupPair(in[i], in[i + 1], &composed)) {
      out.push_back(composed);
      ++i;
      continue;
    }
    const CharEntry entry = LookupChar(in[i]);
    if (entry.char_class == CharClass::kPunctuation) {
      out.push_back(in[i]);
    } else {
      ApplyAction(entry, in, i, out);
    }
  }
  DropTrailingSpace(out);
  return out;
}

std::u16string ElisionPass(std::u16string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    const bool word_start = i == 0 || in[i - 1] == kSpace;
    if (word_start && i + 1 < in.size() && (in[i] == u'd' || in[i] == u'l') && in[i + 1] == u'\'') {
      i += 2;
      continue;
    }
    out.push_back(in[i++]);
  }
  return out;
}

std::u16string PunctuationPass(std::u16string_view in) {
  std::u16string out;
  out.reserve(in.size() * 2 + 64);
  for (size_t i = 0; i < in.size(); ++i) {
    const CharEntry entry = LookupChar(in[i]);
    if (entry.char_class == CharClass::kPunctuation) {
      ApplyAction(entry, in, i, out);
    } else if (in[i] == kSpace) {
      WordBreak(out);
    } else {
      out.push_back(in[i]);
    }
  }
  DropTrailingSpace(out);
  return out;
}

std::u16string NumbersPass(std::u16string_view in) {
  std::u16string out;
  out.reserve(in.size() * 8 + 64);
  size_t i = 0;
  while (i < in.size()) {
    if (in[i] == kSpace) {
      out.push_back(in[i++]);
      continue;
    }
    const size_t end = std::min(in.find(kSpace, i), in.size());
    const std::u16string_view word = in.substr(i, end - i);
    if (!AppendNumberWords(word, out)) out.append(word);
    i = end;
  }
  return out;
}

void JoinLetters(std::u16string& text, size_t p) {
  while (p + 2 < text.size() && IsLetter(text[p]) && text[p + 1] == kSpace &&
         IsLetter(text[p + 2]) && (p + 3 == text.size() || text[p + 3] == kSpace)) {
    text.erase(p + 1, 1);
    ++p;
  }
}

void StripPluralS(std::u16string& text, size_t start) {
  const size_t end = std::min(text.find(kSpace, start), text.size());
  const size_t length = end - start;
  if ((length >= 4 && text[end - 1] == u's' && text[end - 2] != u's') ||
      (length == 1 && text[start] == u's')) {
    text.erase(end - 1, 1);
  }
}

void WordStartEdits(std::u16string& text, uint32_t flags) {
  size_t i = 0;
  while (i < text.size()) {
    if (IsLetter(text[i])) {
      if (flags & kNormalizeJoinedLetters) JoinLetters(text, i);
      if (flags & kNormalizePluralS) StripPluralS(text, i);
    }
    const size_t space = text.find(kSpace, i);
    if (space == std::u16string::npos) break;
    i = space + 1;
  }
}

// The code units that begin some entry of a word table, and the longest entry: a word that
// begins otherwise, or is longer, matches no entry (most words of a title).
class TableReach {
 public:
  template <class Table, class From>
  TableReach(const Table& table, From from) {
    for (const auto& entry : table) {
      const std::u16string_view word = from(entry);
      first_units_.set(word.front());
      longest_ = std::max(longest_, word.size());
    }
  }
  bool MayBegin(char16_t unit) const { return first_units_.test(unit); }
  // REQUIRES: word is not empty.
  bool MayMatch(std::u16string_view word) const {
    return word.size() <= longest_ && MayBegin(word.front());
  }

 private:
  std::bitset<0x10000> first_units_;
  size_t longest_ = 0;
};

std::u16string_view FromText(const WordReplacement& entry) { return entry.from; }
std::u16string_view Itself(std::u16string_view word) { return word; }

// The table entry `word` spells exactly, or null. REQUIRES: no entry holds a space.
const WordReplacement* FindWord(std::span<const WordReplacement> table, std::u16string_view word) {
  const auto match = std::find_if(table.begin(), table.end(),
                                  [&](const WordReplacement& entry) { return entry.from == word; });
  return match == table.end() ? nullptr : &*match;
}

// The first composition matching whole words at in[i] (an entry may span two words), or null.
const WordReplacement* FindComposition(std::u16string_view in, size_t i) {
  static const TableReach reach(Compositions(), FromText);
  if (!reach.MayBegin(in[i])) return nullptr;
  for (const WordReplacement& entry : Compositions()) {
    if (entry.from.front() == in[i] && MatchesWholeWord(in, i, entry.from)) return &entry;
  }
  return nullptr;
}

std::u16string WordReplacementPass(std::u16string_view in, uint32_t flags) {
  static const TableReach roman_reach(RomanNumerals(), FromText);
  static const TableReach function_reach(FunctionWords(), Itself);
  std::u16string out;
  out.reserve(in.size() * 2 + 64);
  size_t i = 0;
  while (i < in.size()) {
    if ((i == 0 || in[i - 1] == kSpace) && IsLetter(in[i])) {
      // A whole-word match of an entry without a space is the word itself.
      const std::u16string_view word = in.substr(i, std::min(in.find(kSpace, i), in.size()) - i);
      const WordReplacement* replacement = nullptr;
      if ((flags & kNormalizeRomanNumerals) && roman_reach.MayMatch(word)) {
        replacement = FindWord(RomanNumerals(), word);
      }
      if (replacement == nullptr && (flags & kNormalizeCompositions)) {
        replacement = FindComposition(in, i);
      }
      if (replacement != nullptr) {
        out.append(replacement->to);
        i += replacement->from.size();
        continue;
      }
      if ((flags & kNormalizeFunctionWords) && function_reach.MayMatch(word)) {
        const auto words = FunctionWords();
        if (std::find(words.begin(), words.end(), word) != words.end()) {
          i += word.size();
          continue;
        }
      }
    }
    if (in[i] == kSpace) {
      WordBreak(out);
    } else {
      out.push_back(in[i]);
    }
    ++i;
  }
  return out;
}

std::u16string CollapseRepeats(std::u16string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (char16_t c : in) {
    if (out.empty() || out.back() != c) out.push_back(c);
  }
  return out;
}

}  // namespace

namespace internal {

std::u16string RunTablePasses(std::u16string_view text, uint32_t flags) {
  std::u16string s = LettersPass(text);
  if (flags & kNormalizeElisions) s = ElisionPass(s);
  if (flags & kNormalizePunctuation) s = PunctuationPass(s);
  if (flags & kNormalizeNumbers) s = NumbersPass(s);
  if (flags & (kNormalizeJoinedLetters | kNormalizePluralS)) WordStartEdits(s, flags);
  if (flags & (kNormalizeRomanNumerals | kNormalizeCompositions | kNormalizeFunctionWords)) {
    s = WordReplacementPass(s, flags);
  }
  if (flags & kNormalizeCollapseRepeats) s = CollapseRepeats(s);
  DropTrailingSpace(s);
  return s;
}

}  // namespace internal

int32_t Normalize(std::u16string_view text, uint32_t flags, std::u16string* result) {
  text = text.substr(0, std::min(text.find(u'\0'), text.size()));
  const bool may_retry = (flags & ~static_cast<uint32_t>(kNormalizeJoinedLetters)) != 0;
  try {
    if (internal::AsciiPassesTake(text, flags)) {
      if (internal::RunAsciiPasses(text, flags, result) ||
          (may_retry && internal::RunAsciiPasses(text, kNormalizeJoinedLetters, result))) {
        return kNormalizeOk;
      }
      return kNormalizeEmptyResult;
    }
    std::u16string s = internal::RunTablePasses(text, flags);
    if (s.empty() && may_retry) s = internal::RunTablePasses(text, kNormalizeJoinedLetters);
    if (s.empty()) return kNormalizeEmptyResult;
    *result = std::move(s);
    return kNormalizeOk;
  } catch (const std::bad_alloc&) {
    return kNormalizeOutOfMemory;
  } catch (const std::length_error&) {
    return kNormalizeOutOfMemory;
  }
}

int32_t NormalizeText(size_t size, const char16_t* source, char16_t* destination) {
  if (source == nullptr || source[0] == u'\0' || destination == nullptr || size == 0) return 0;
  std::u16string normalized;
  const int32_t rc = Normalize(std::u16string_view(source), kStandardNormalizeFlags, &normalized);
  if (rc != kNormalizeOk) return rc;
  const size_t n = std::min(normalized.size(), size - 1);
  std::copy_n(normalized.data(), n, destination);
  destination[n] = u'\0';
  return rc;
}

int32_t NormalizeInPlace(std::u16string& value) {
  const std::u16string_view text(value.c_str());  // the value ends at its first NUL
  if (text.empty()) return kNormalizeOk;
  std::u16string normalized;
  const int32_t rc = Normalize(text, kStandardNormalizeFlags, &normalized);
  if (rc != kNormalizeOk) return rc;
  normalized.resize(std::min(normalized.size(), kNormalizedBufferSize - 1));
  value = std::move(normalized);
  return rc;
}

int32_t NormalizeInPlace(Bstr& value) {
  std::u16string text(value.View());
  if (text.empty()) return kNormalizeOk;
  const int32_t rc = NormalizeInPlace(text);
  if (rc != kNormalizeOk) return rc;
  Bstr replaced(text);
  if (replaced.Get() == nullptr) return kNormalizeOutOfMemory;
  value = std::move(replaced);
  return rc;
}

void StandardNormalized(std::u16string_view source, std::u16string* out) {
  source = source.substr(0, std::min(source.find(u'\0'), source.size()));
  if (source.empty() || Normalize(source, kStandardNormalizeFlags, out) != kNormalizeOk) {
    out->clear();
    return;
  }
  out->resize(std::min(out->size(), kNormalizedBufferSize - 1));
}

std::u16string StandardNormalized(std::u16string_view source) {
  std::u16string normalized;
  StandardNormalized(source, &normalized);
  return normalized;
}

}  // namespace pelk::text
