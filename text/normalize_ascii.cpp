// The normalizer's passes for ASCII text, which most catalogue texts are. They follow the table
// passes in normalize.cpp one for one, with the same names, and differ only in how they work:
// bytes instead of UTF-16 units, the character table's 128 ASCII rows and the ASCII entries of
// the word tables copied into byte form once, word entries looked up by their first letter, and
// output written through a pointer into a buffer sized beforehand to the most a pass can write.
// ASCII text stays ASCII through every pass: the rows and entries it can meet replace ASCII with
// ASCII (checked when the tables are built; if that ever fails, every text takes the table
// passes).
#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/char_table.h"
#include "text/normalize.h"
#include "text/normalize_passes.h"
#include "text/word_tables.h"

namespace pelk::text::internal {
namespace {

constexpr char kSpace = ' ';
constexpr size_t kAsciiEnd = 0x80;

bool IsAscii(std::u16string_view text) {
  char16_t bits = 0;
  for (const char16_t c : text) bits |= c;  // no early exit, so that it vectorizes
  return bits < kAsciiEnd;
}

// `text` in bytes, into `out`. REQUIRES: IsAscii(text).
void NarrowInto(std::u16string_view text, std::string& out) {
  out.resize(text.size());
  std::transform(text.begin(), text.end(), out.begin(),
                 [](char16_t c) { return static_cast<char>(c); });
}

std::string Narrow(std::u16string_view text) {
  std::string out;
  NarrowInto(text, out);
  return out;
}

struct AsciiEntry {
  CharClass char_class = CharClass::kOther;
  CharAction action = CharAction::kCopy;
  std::string replacement;
};

struct AsciiWord {
  std::string from;
  std::string to;
};

// The most units ApplyAction writes for one unit with this entry.
size_t ActionMost(const AsciiEntry& entry) {
  const size_t length = entry.replacement.size();
  switch (entry.action) {
    case CharAction::kDrop:
      return 0;
    case CharAction::kReplace:
    case CharAction::kInsideWord:
      return length;
    case CharAction::kWord:
      return length + 2;
    case CharAction::kBetweenLetters:
      return std::max<size_t>(length, 1);
    case CharAction::kCopy:
    case CharAction::kWordBreak:
    case CharAction::kDigitGrouping:
      break;
  }
  return 1;
}

// The ASCII rows of the character table and the word-table entries ASCII text can match, in
// byte form, with the most each pass writes per unit it reads.
class AsciiTables {
 public:
  static const AsciiTables& Get() {
    static const AsciiTables tables;
    return tables;
  }

  bool usable() const { return usable_; }
  const AsciiEntry& Entry(char c) const { return chars_[Index(c)]; }
  bool IsLetter(char c) const { return Entry(c).char_class == CharClass::kLetter; }
  bool IsDigit(char c) const { return Entry(c).char_class == CharClass::kDigit; }
  bool IsPunctuation(char c) const { return Entry(c).char_class == CharClass::kPunctuation; }
  // What a unit whose row copies it or replaces it by one unit becomes (letters, digits); 0 when
  // its row does anything else.
  char Simple(char c) const { return simple_[Index(c)]; }

  // The table's entries that begin with `first`, in table order.
  const std::vector<AsciiWord>& RomanNumerals(char first) const { return roman_[Index(first)]; }
  const std::vector<AsciiWord>& Compositions(char first) const {
    return compositions_[Index(first)];
  }
  const std::vector<std::string>& FunctionWords(char first) const {
    return function_words_[Index(first)];
  }

  size_t letters_most() const { return letters_most_; }
  size_t punctuation_most() const { return punctuation_most_; }
  size_t words_most() const { return words_most_; }

 private:
  AsciiTables() {
    for (size_t c = 0; c < kAsciiEnd; ++c) {
      const CharEntry entry = LookupChar(static_cast<char16_t>(c));
      usable_ = usable_ && IsAscii(entry.replacement);
      AsciiEntry& ascii = chars_[c];
      ascii = {entry.char_class, entry.action, Narrow(entry.replacement)};
      if (ascii.action == CharAction::kCopy) simple_[c] = static_cast<char>(c);
      if (ascii.action == CharAction::kReplace && ascii.replacement.size() == 1) {
        simple_[c] = ascii.replacement[0];
      }
      const bool punctuation = ascii.char_class == CharClass::kPunctuation;
      letters_most_ = std::max(letters_most_, punctuation ? 1 : ActionMost(ascii));
      punctuation_most_ = std::max(punctuation_most_, punctuation ? ActionMost(ascii) : 1);
    }
    AddWords(text::RomanNumerals(), roman_);
    AddWords(text::Compositions(), compositions_);
    for (std::u16string_view word : text::FunctionWords()) {
      if (IsAscii(word)) function_words_[word.front()].push_back(Narrow(word));
    }
  }

  // Only ASCII reaches the tables; the remainder keeps any other byte inside them all the same.
  static size_t Index(char c) { return static_cast<unsigned char>(c) % kAsciiEnd; }

  // Entries whose text is not ASCII never match ASCII text and are left out.
  void AddWords(std::span<const WordReplacement> table,
                std::array<std::vector<AsciiWord>, kAsciiEnd>& by_first) {
    for (const WordReplacement& entry : table) {
      if (!IsAscii(entry.from)) continue;
      usable_ = usable_ && IsAscii(entry.to);
      by_first[entry.from.front()].push_back({Narrow(entry.from), Narrow(entry.to)});
      words_most_ =
          std::max(words_most_, (entry.to.size() + entry.from.size() - 1) / entry.from.size());
    }
  }

  bool usable_ = true;
  std::array<AsciiEntry, kAsciiEnd> chars_;
  std::array<char, kAsciiEnd> simple_{};
  std::array<std::vector<AsciiWord>, kAsciiEnd> roman_, compositions_;
  std::array<std::vector<std::string>, kAsciiEnd> function_words_;
  size_t letters_most_ = 1, punctuation_most_ = 1, words_most_ = 1;
};

// The text a pass writes and the next one reads: bytes [0, size) of a buffer that keeps the
// room beyond, so that a buffer is only resized to grow.
struct Text {
  std::string bytes;
  size_t size = 0;

  std::string_view View() const { return {bytes.data(), size}; }
  char& operator[](size_t at) { return bytes[at]; }
  size_t Find(char c, size_t from) const { return View().find(c, from); }
  void Erase(size_t at) {
    std::copy(bytes.begin() + static_cast<ptrdiff_t>(at) + 1,
              bytes.begin() + static_cast<ptrdiff_t>(size),
              bytes.begin() + static_cast<ptrdiff_t>(at));
    --size;
  }
};

// A pass's output, written through a pointer into a buffer with room for the most the pass can
// write.
class Writer {
 public:
  Writer(Text& text, size_t most) : text_(text) {
    if (text_.bytes.size() < most) text_.bytes.resize(most);
    begin_ = end_ = text_.bytes.data();
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // The start of the text counts as following a space, so no pass ever emits a leading space.
  bool AtWordStart() const { return end_ == begin_ || end_[-1] == kSpace; }
  void WordBreak() {
    if (!AtWordStart()) *end_++ = kSpace;
  }
  void Put(char c) { *end_++ = c; }
  void Put(std::string_view text) { end_ = std::copy(text.begin(), text.end(), end_); }
  bool Empty() const { return end_ == begin_; }
  char Back() const { return end_[-1]; }
  void DropTrailingSpace() {
    if (!Empty() && Back() == kSpace) --end_;
  }
  void Finish() { text_.size = static_cast<size_t>(end_ - begin_); }

 private:
  Text& text_;
  char* begin_;
  char* end_;
};

void ApplyAction(const AsciiTables& t, const AsciiEntry& entry, std::string_view in, size_t i,
                 Writer& out) {
  const char prev = i > 0 ? in[i - 1] : 0;
  const char next = i + 1 < in.size() ? in[i + 1] : 0;
  switch (entry.action) {
    case CharAction::kCopy:
      out.Put(in[i]);
      break;
    case CharAction::kDrop:
      break;
    case CharAction::kWordBreak:
      out.WordBreak();
      break;
    case CharAction::kReplace:
      out.Put(entry.replacement);
      break;
    case CharAction::kWord:
      out.WordBreak();
      out.Put(entry.replacement);
      out.Put(kSpace);
      break;
    case CharAction::kInsideWord:
      if (out.AtWordStart() || (!t.IsLetter(prev) && !t.IsLetter(next))) break;
      out.Put(entry.replacement);
      break;
    case CharAction::kBetweenLetters:
      if (out.AtWordStart()) break;
      if (t.IsLetter(prev) && t.IsLetter(next)) {
        out.Put(entry.replacement);
      } else {
        out.WordBreak();
      }
      break;
    case CharAction::kDigitGrouping:
      if (out.AtWordStart() || (t.IsDigit(prev) && t.IsDigit(next))) break;
      out.WordBreak();
      break;
  }
}

// No two-unit sequence begins with ASCII, so each unit is looked up alone.
void LettersPass(const AsciiTables& t, std::string_view in, Text& buffer) {
  Writer out(buffer, in.size() * t.letters_most());
  for (size_t i = 0; i < in.size(); ++i) {
    if (t.IsPunctuation(in[i])) {
      out.Put(in[i]);
    } else if (const char simple = t.Simple(in[i])) {
      out.Put(simple);
    } else {
      ApplyAction(t, t.Entry(in[i]), in, i, out);
    }
  }
  out.DropTrailingSpace();
  out.Finish();
}

void ElisionPass(std::string_view in, Text& buffer) {
  Writer out(buffer, in.size());
  for (size_t i = 0; i < in.size();) {
    const bool word_start = i == 0 || in[i - 1] == kSpace;
    if (word_start && i + 1 < in.size() && (in[i] == 'd' || in[i] == 'l') && in[i + 1] == '\'') {
      i += 2;
      continue;
    }
    out.Put(in[i++]);
  }
  out.Finish();
}

void PunctuationPass(const AsciiTables& t, std::string_view in, Text& buffer) {
  Writer out(buffer, in.size() * t.punctuation_most());
  for (size_t i = 0; i < in.size(); ++i) {
    if (t.IsPunctuation(in[i])) {
      ApplyAction(t, t.Entry(in[i]), in, i, out);
    } else if (in[i] == kSpace) {
      out.WordBreak();
    } else {
      out.Put(in[i]);
    }
  }
  out.DropTrailingSpace();
  out.Finish();
}

void JoinLetters(const AsciiTables& t, Text& text, size_t p) {
  while (p + 2 < text.size && t.IsLetter(text[p]) && text[p + 1] == kSpace &&
         t.IsLetter(text[p + 2]) && (p + 3 == text.size || text[p + 3] == kSpace)) {
    text.Erase(p + 1);
    ++p;
  }
}

void StripPluralS(Text& text, size_t start) {
  const size_t end = std::min(text.Find(kSpace, start), text.size);
  const size_t length = end - start;
  if ((length >= 4 && text[end - 1] == 's' && text[end - 2] != 's') ||
      (length == 1 && text[start] == 's')) {
    text.Erase(end - 1);
  }
}

void WordStartEdits(const AsciiTables& t, Text& text, uint32_t flags) {
  size_t i = 0;
  while (i < text.size) {
    if (t.IsLetter(text[i])) {
      if (flags & kNormalizeJoinedLetters) JoinLetters(t, text, i);
      if (flags & kNormalizePluralS) StripPluralS(text, i);
    }
    const size_t space = text.Find(kSpace, i);
    if (space == std::string_view::npos) break;
    i = space + 1;
  }
}

bool MatchesWholeWord(std::string_view text, size_t pos, std::string_view word) {
  if (text.size() - pos < word.size() || text.compare(pos, word.size(), word) != 0) return false;
  const size_t end = pos + word.size();
  return end == text.size() || text[end] == kSpace;
}

// The replacement of the word at in[i] (`word` is it up to the next space) by the Roman
// numerals or the compositions, in that order, or null.
const AsciiWord* FindReplacement(const AsciiTables& t, std::string_view in, size_t i,
                                 std::string_view word, uint32_t flags) {
  if (flags & kNormalizeRomanNumerals) {
    for (const AsciiWord& entry : t.RomanNumerals(word.front())) {
      if (entry.from == word) return &entry;
    }
  }
  if (flags & kNormalizeCompositions) {
    for (const AsciiWord& entry : t.Compositions(in[i])) {
      if (MatchesWholeWord(in, i, entry.from)) return &entry;
    }
  }
  return nullptr;
}

bool IsFunctionWord(const AsciiTables& t, std::string_view word) {
  const auto& words = t.FunctionWords(word.front());
  return std::find(words.begin(), words.end(), word) != words.end();
}

void WordReplacementPass(const AsciiTables& t, std::string_view in, uint32_t flags, Text& buffer) {
  Writer out(buffer, in.size() * t.words_most());
  size_t i = 0;
  while (i < in.size()) {
    if ((i == 0 || in[i - 1] == kSpace) && t.IsLetter(in[i])) {
      const std::string_view word = in.substr(i, std::min(in.find(kSpace, i), in.size()) - i);
      if (const AsciiWord* replacement = FindReplacement(t, in, i, word, flags)) {
        out.Put(replacement->to);
        i += replacement->from.size();
        continue;
      }
      if ((flags & kNormalizeFunctionWords) && IsFunctionWord(t, word)) {
        i += word.size();
        continue;
      }
    }
    if (in[i] == kSpace) {
      out.WordBreak();
    } else {
      out.Put(in[i]);
    }
    ++i;
  }
  out.Finish();
}

void CollapseRepeats(std::string_view in, Text& buffer) {
  Writer out(buffer, in.size());
  for (const char c : in) {
    if (out.Empty() || out.Back() != c) out.Put(c);
  }
  out.Finish();
}

// Two texts per thread that the passes write into in turn.
struct Buffers {
  Text a, b;

  // A buffer grown by an unusually long text is given back.
  void Trim() {
    constexpr size_t kKeptCapacity = 16 * kNormalizedBufferSize;
    for (Text* text : {&a, &b}) {
      if (text->bytes.capacity() > kKeptCapacity) std::string().swap(text->bytes);
    }
  }
};

}  // namespace

bool AsciiPassesTake(std::u16string_view text, uint32_t flags) {
  return !(flags & kNormalizeNumbers) && IsAscii(text) && AsciiTables::Get().usable();
}

bool RunAsciiPasses(std::u16string_view text, uint32_t flags, std::u16string* out) {
  const AsciiTables& t = AsciiTables::Get();
  thread_local Buffers buffers;
  Text* s = &buffers.a;
  Text* spare = &buffers.b;
  // text may view *out: it is read here, first.
  if (spare->bytes.size() < text.size()) spare->bytes.resize(text.size());
  std::transform(text.begin(), text.end(), spare->bytes.begin(),
                 [](char16_t c) { return static_cast<char>(c); });
  spare->size = text.size();
  LettersPass(t, spare->View(), *s);
  if (flags & kNormalizeElisions) {
    ElisionPass(s->View(), *spare);
    std::swap(s, spare);
  }
  if (flags & kNormalizePunctuation) {
    PunctuationPass(t, s->View(), *spare);
    std::swap(s, spare);
  }
  if (flags & (kNormalizeJoinedLetters | kNormalizePluralS)) WordStartEdits(t, *s, flags);
  if (flags & (kNormalizeRomanNumerals | kNormalizeCompositions | kNormalizeFunctionWords)) {
    WordReplacementPass(t, s->View(), flags, *spare);
    std::swap(s, spare);
  }
  if (flags & kNormalizeCollapseRepeats) {
    CollapseRepeats(s->View(), *spare);
    std::swap(s, spare);
  }
  std::string_view result = s->View();
  if (!result.empty() && result.back() == kSpace) result.remove_suffix(1);
  const bool written = !result.empty();
  if (written) {
    out->resize(result.size());
    std::copy(result.begin(), result.end(), out->begin());
  }
  buffers.Trim();
  return written;
}

}  // namespace pelk::text::internal
