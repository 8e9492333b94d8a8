#include "text/word_tables.h"

#include <algorithm>
#include <array>
#include <vector>

#include "text/char_table_data.h"

namespace pelk::text {
namespace {

constexpr WordReplacement kRomanNumerals[] = {
    {u"i", u"one"},
    {u"ii", u"two"},
    {u"iii", u"three"},
    {u"iv", u"four"},
    {u"v", u"five"},
    {u"vi", u"six"},
    {u"vii", u"seven"},
    {u"viii", u"eight"},
    {u"ix", u"nine"},
    {u"x", u"ten"},
    {u"xi", u"eleven"},
    {u"xii", u"twelve"},
    {u"xiii", u"thirteen"},
    {u"xiv", u"fourteen"},
    {u"xv", u"fifteen"},
    {u"xvi", u"sixteen"},
    {u"xvii", u"seventeen"},
    {u"xviii", u"eighteen"},
    {u"xix", u"nineteen"},
    {u"xx", u"twenty"},
    {u"xxi", u"twenty one"},
    {u"xxii", u"twenty two"},
    {u"xxiii", u"twenty three"},
    {u"xxiv", u"twenty four"},
    {u"xxv", u"twenty five"},
    {u"xxvi", u"twenty six"},
    {u"xxvii", u"twenty seven"},
    {u"xxviii", u"twenty eight"},
    {u"xxix", u"twenty nine"},
    {u"xxx", u"thirty"},
};

constexpr std::u16string_view kFunctionWords[] = {
    u"a",     u"an",    u"and",   u"of",    u"or",  u"the", u"de",   u"el", u"en",
    u"la",    u"las",   u"los",   u"o",     u"un",  u"y",   u"agli", u"da", u"dagli",
    u"dallo", u"degli", u"delle", u"di",    u"e",   u"gli", u"il",   u"le", u"les",
    u"negli", u"sugli", u"sulla", u"sullo", u"das", u"het", u"und",
};
static_assert(std::size(kFunctionWords) == 34);

constexpr std::u16string_view kOnes[] = {u"",     u"one", u"two",   u"three", u"four",
                                         u"five", u"six", u"seven", u"eight", u"nine"};
constexpr std::u16string_view kTeens[] = {u"ten",      u"eleven",  u"twelve",  u"thirteen",
                                          u"fourteen", u"fifteen", u"sixteen", u"seventeen",
                                          u"eighteen", u"nineteen"};
constexpr std::u16string_view kTens[] = {u"",      u"",      u"twenty",  u"thirty", u"forty",
                                         u"fifty", u"sixty", u"seventy", u"eighty", u"ninety"};
constexpr std::u16string_view kScales[] = {
    u"",
    u"thousand",
    u"million",
    u"billion",
    u"trillion",
    u"quadrillion",
    u"quintillion",
    u"sextillion",
    u"septillion",
    u"octillion",
    u"nonillion",
    u"decillion",
    u"undecillion",
    u"duodecillion",
    u"tredecillion",
    u"quattuordecillion",
    u"quindecillion",
    u"sexdecillion",
    u"septendecillion",
    u"octodecillion",
    u"novemdecillion",
    u"vigintillion",
};
constexpr size_t kMaxGroups = std::size(kScales);
static_assert(kMaxGroups == 22);

std::vector<WordReplacement> MakeCompositions() {
  std::vector<WordReplacement> table;
  table.reserve(1 + internal::kKatakanaCompositionCount);
  table.push_back({u"the the", u"thethe"});
  for (size_t i = 0; i < internal::kKatakanaCompositionCount; ++i) {
    table.push_back(
        {internal::kKatakanaCompositions[i].from, internal::kKatakanaCompositions[i].to});
  }
  return table;
}

}  // namespace

std::span<const WordReplacement> RomanNumerals() { return kRomanNumerals; }

std::span<const WordReplacement> Compositions() {
  static const std::vector<WordReplacement> table = MakeCompositions();
  return table;
}

std::span<const std::u16string_view> FunctionWords() { return kFunctionWords; }

bool MatchesWholeWord(std::u16string_view text, size_t pos, std::u16string_view word) {
  if (pos > text.size() || text.size() - pos < word.size()) return false;
  if (text.compare(pos, word.size(), word) != 0) return false;
  const size_t end = pos + word.size();
  return end == text.size() || text[end] == u' ';
}

bool AppendNumberWords(std::u16string_view digits, std::u16string& out) {
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(),
                                     [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
    return false;
  }
  const size_t first = digits.find_first_not_of(u'0');
  if (first == std::u16string_view::npos) {
    out.append(u"zero");
    return true;
  }
  digits.remove_prefix(first);
  const size_t groups = (digits.size() + 2) / 3;
  if (groups > kMaxGroups) return false;

  size_t pos = 0;
  bool written = false;
  for (size_t g = 0; g < groups; ++g) {
    // The leftmost group may be shorter; read every group right-aligned into h, t, u.
    const size_t length = g == 0 ? digits.size() - (groups - 1) * 3 : 3;
    int value[3] = {0, 0, 0};
    for (size_t k = 0; k < length; ++k) value[3 - length + k] = digits[pos + k] - u'0';
    pos += length;
    const int h = value[0], t = value[1], u = value[2];
    if (h == 0 && t == 0 && u == 0) continue;
    if (written) out.push_back(u' ');
    written = true;
    if (h != 0) {
      out.append(kOnes[h]);
      out.append(u" hundred");
    }
    if (t == 1) {
      if (h != 0) out.push_back(u' ');
      out.append(kTeens[u]);
    } else {
      if (h != 0 && (t != 0 || u != 0)) out.push_back(u' ');
      out.append(kTens[t]);
      if (t != 0 && u != 0) out.push_back(u' ');
      out.append(kOnes[u]);
    }
    const size_t scale = groups - 1 - g;
    if (scale != 0) {
      out.push_back(u' ');
      out.append(kScales[scale]);
    }
  }
  return true;
}

}  // namespace pelk::text
