// Random artist, album and title texts for tests that compare two ways of computing the same
// answer: words from a short list in several scripts, joined with spaces and punctuation, with
// typos, case changes, accents, surrogate pairs and the odd empty or very long text. The same
// seed always gives the same texts.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace pelk::testing {

class RandomTitles {
 public:
  // long_percent: how often a text grows beyond 64 units (a tenth of those beyond 1023).
  explicit RandomTitles(uint32_t seed, int long_percent = 8)
      : random_(seed), long_percent_(long_percent) {}

  // A text of 0 to 6 words.
  std::u16string Text() {
    if (Chance(3)) return {};
    std::u16string text;
    const size_t words = Below(7);
    for (size_t i = 0; i < words; ++i) {
      if (i > 0) text += Pick(kSeparators);
      text += Pick(kWords);
    }
    if (Chance(40)) Mutate(text, 1 + Below(3));
    if (Chance(long_percent_)) Grow(text);
    return text;
  }

  // A text like `base`: usually a few typos away, sometimes cut, extended or unrelated.
  std::u16string Variant(std::u16string base) {
    switch (Below(6)) {
      case 0:
        return Text();
      case 1:
        return base;
      case 2:
        base = base.substr(0, Below(base.size() + 1)) + Pick(kSeparators) + Pick(kWords);
        return base;
      default:
        Mutate(base, 1 + Below(4));
        return base;
    }
  }

  size_t Below(size_t n) {
    return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(random_);
  }
  bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }

  template <size_t N>
  std::u16string Pick(const char16_t* const (&list)[N]) {
    return list[Below(N)];
  }

 private:
  // Insertions, deletions, substitutions and swaps of code units, some from other scripts.
  void Mutate(std::u16string& text, size_t edits) {
    for (size_t e = 0; e < edits; ++e) {
      const size_t at = Below(text.size() + 1);
      const char16_t unit = kUnits[Below(std::size(kUnits))];
      switch (Below(5)) {
        case 0:
          text.insert(text.begin() + at, unit);
          break;
        case 1:
          if (at < text.size()) text.erase(at, 1);
          break;
        case 2:
          if (at < text.size()) text[at] = unit;
          break;
        case 3:
          if (at + 1 < text.size()) std::swap(text[at], text[at + 1]);
          break;
        default:
          if (at < text.size() && text[at] >= u'a' && text[at] <= u'z') text[at] -= u'a' - u'A';
          break;
      }
    }
  }

  // Texts longer than one machine word of characters, and now and then beyond 1023 units.
  void Grow(std::u16string& text) {
    if (text.empty()) return;
    const size_t target = Chance(10) ? 1030 + Below(200) : 65 + Below(100);
    while (text.size() < target) {
      text += u' ';
      text += Chance(50) ? text.substr(0, Below(text.size()) + 1) : Pick(kWords);
    }
  }

  static constexpr const char16_t* kWords[] = {
      u"the",     u"Lanterns", u"lantern", u"Love", u"me",      u"do",
      u"Rock",    u"&",        u"Roll",    u"Café", u"del",     u"Mar",
      u"L'Amour", u"R.E.M.",   u"IV",      u"xii",  u"1,000",   u"2009",
      u"Ca$h",    u"Boss",     u"aaaa",    u"abab", u"Harbour", u"Lights",
      u"Ωμέγα",   u"Жизнь",    u"東京",    u"大阪", u"東阪",    u"らぶ",
      u"ラブ",    u"ｶﾞｷﾞ",     u"😀",       u"😁",    u"(Live)",  u"- Remastered",
      u"Of",      u"ÉCOLE",    u"naïve",   u"Ⅳ",    u"a",       u"s",
  };
  static constexpr const char16_t* kSeparators[] = {u" ", u" ",  u" - ", u", ", u"/",
                                                    u"",  u"  ", u". ",  u" & "};
  static constexpr char16_t kUnits[] = {u'a', u'e', u's',  u'x',  u' ',   u'.',   u'\'',  u'-',
                                        u'é', u'ß', u'東', u'ラ', 0xD83D, 0xDE00, 0xD800, u'0'};

  std::mt19937 random_;
  int long_percent_;
};

}  // namespace pelk::testing
