// The normalizer's ASCII passes against its table passes on generated ASCII texts: every text,
// under every flag set the ASCII passes take, must come out the same both ways. The texts are
// built to reach every rule: the words the word tables list (and near misses), elisions,
// punctuation and symbols of every kind between letters, digits and spaces, controls, joined
// letters, plurals, repeats, mixed case, and texts long enough to fill the passes' buffers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/normalize.h"
#include "text/normalize_passes.h"

namespace pelk::text {
namespace {

using internal::AsciiPassesTake;
using internal::RunAsciiPasses;
using internal::RunTablePasses;

class AsciiTexts {
 public:
  explicit AsciiTexts(uint32_t seed) : random_(seed) {}

  std::u16string Text() {
    std::u16string text;
    switch (Below(10)) {
      case 0:  // any units at all
        for (size_t n = Below(24); n > 0; --n) text += static_cast<char16_t>(1 + Below(127));
        return text;
      case 1:  // long, with the symbols that grow the most
        for (size_t n = 200 + Below(1500); n > 0; --n) text += Pick(kGrowing);
        return text;
      default:
        break;
    }
    for (size_t words = Below(8); words > 0; --words) {
      text += Word();
      text += Pick(kSeparators);
    }
    return text;
  }

  size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

 private:
  std::u16string Word() {
    std::u16string word = Pick(kWords);
    if (Below(4) == 0) word = Pick(kPrefixes) + word;
    switch (Below(4)) {  // case as found in tags
      case 0:
        for (char16_t& c : word) {
          if (c >= u'a' && c <= u'z') c -= u'a' - u'A';
        }
        break;
      case 1:
        if (!word.empty() && word[0] >= u'a' && word[0] <= u'z') word[0] -= u'a' - u'A';
        break;
      default:
        break;
    }
    if (Below(5) == 0 && !word.empty()) word.insert(Below(word.size() + 1), 1, Pick(kInside));
    return word;
  }

  template <size_t N>
  std::u16string Pick(const char16_t* const (&list)[N]) {
    return list[Below(N)];
  }
  template <size_t N>
  char16_t Pick(const char16_t (&list)[N]) {
    return list[Below(N - 1)];  // not the terminator
  }

  static constexpr const char16_t* kWords[] = {
      // Roman numerals, and words that only begin like one
      u"i",
      u"ii",
      u"iii",
      u"iv",
      u"v",
      u"vi",
      u"vii",
      u"viii",
      u"ix",
      u"x",
      u"xii",
      u"xiv",
      u"xix",
      u"xx",
      u"xxi",
      u"xxiv",
      u"xxviii",
      u"xxix",
      u"xxx",
      u"xxxi",
      u"ivy",
      u"mix",
      u"vim",
      u"xi",
      u"c",
      u"m",
      u"l",
      // function words, and longer words they begin
      u"a",
      u"an",
      u"and",
      u"of",
      u"or",
      u"the",
      u"de",
      u"el",
      u"en",
      u"la",
      u"las",
      u"los",
      u"o",
      u"un",
      u"y",
      u"agli",
      u"da",
      u"dagli",
      u"dallo",
      u"degli",
      u"delle",
      u"di",
      u"e",
      u"gli",
      u"il",
      u"le",
      u"les",
      u"negli",
      u"sugli",
      u"sulla",
      u"sullo",
      u"das",
      u"het",
      u"und",
      u"then",
      u"theory",
      u"andes",
      u"another",
      u"los",
      u"ofs",
      // compositions, plurals, repeats, joined letters, numbers
      u"the the",
      u"thethe",
      u"boss",
      u"bus",
      u"cats",
      u"lanterns",
      u"s",
      u"ss",
      u"abbo",
      u"aaa",
      u"r e m",
      u"a b c",
      u"u s a",
      u"x s",
      u"1,000",
      u"3.14",
      u"5.",
      u",5",
      u"007",
      u"1 2 3",
      u"2009",
      u"12a",
      // everyday titles
      u"Harbour",
      u"Lights",
      u"Rock",
      u"Roll",
      u"Ca$h",
      u"f*ck",
      u"R.E.M.",
      u"AC/DC",
      u"100%",
      u"Guns N' Roses",
      u"it's",
      u"don't",
      u"(Live)",
      u"[Remastered]",
      u"- Live",
      u"#1",
      u"Mr. Jones",
      u"Vol. IV",
      u"Part II",
      u"Op. 125",
      u"No.9",
      u"B-52's",
      u"S.O.S.",
      u"",
  };
  static constexpr const char16_t* kPrefixes[] = {u"d'", u"l'",  u"D'",  u"L'",
                                                  u"'",  u"dl'", u"l'l'"};
  static constexpr const char16_t* kSeparators[] = {
      u" ", u" ", u" ", u"  ", u"\t", u" - ", u", ",   u". ",   u"/",  u"_", u"&",   u" & ", u"+",
      u"'", u"$", u"*", u"%",  u",",  u".",   u"\x01", u"\x7f", u"\n", u"",  u" ~ ", u"!?",
  };
  static constexpr char16_t kInside[] = u"'$*,.%&-\x1f\x7f 0123456789aAsSzZ";
  static constexpr char16_t kGrowing[] = u"%&$*v i x,.d'l' ";

  std::mt19937 random_;
};

// Every flag set but the number words, which the table passes spell.
std::vector<uint32_t> AsciiFlagSets() {
  std::vector<uint32_t> sets;
  for (uint32_t flags = 0; flags < 0x200; ++flags) {
    if (!(flags & kNormalizeNumbers)) sets.push_back(flags);
  }
  return sets;
}

std::string Show(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += "\\x" + std::to_string(static_cast<int>(c));
    }
  }
  return out;
}

TEST(NormalizeAsciiTest, AsciiPassesEqualTablePassesOnGeneratedTexts) {
  AsciiTexts texts(20260305);
  const std::vector<uint32_t> flag_sets = AsciiFlagSets();
  size_t nonempty = 0;
  for (int i = 0; i < 6000; ++i) {
    const std::u16string text = texts.Text();
    ASSERT_TRUE(AsciiPassesTake(text, kStandardNormalizeFlags)) << Show(text);
    for (const uint32_t flags : {kStandardNormalizeFlags, flag_sets[texts.Below(flag_sets.size())],
                                 flag_sets[texts.Below(flag_sets.size())]}) {
      const std::u16string expected = RunTablePasses(text, flags);
      std::u16string actual = u"untouched";
      const bool written = RunAsciiPasses(text, flags, &actual);
      ASSERT_EQ(written, !expected.empty())
          << "\"" << Show(text) << "\" flags 0x" << std::hex << flags;
      ASSERT_EQ(actual, written ? expected : u"untouched")
          << "\"" << Show(text) << "\" flags 0x" << std::hex << flags;
      nonempty += written;
    }
  }
  EXPECT_GT(nonempty, 12000u);  // the texts are mostly not normalized away
}

TEST(NormalizeAsciiTest, EveryFlagSetOnTextsThatMeetEveryRule) {
  const std::u16string texts[] = {
      u"The Best of L'Amour d'Hiver, Vol. IV & XXI - R E M's Ca$h f*ck 100% 1,000 3.14 5. ,5",
      u"  a b cd e f\t\x01The The  Boss bus cats I V V I xxxi ivy ***$$$ .,., ''' AAbbOO  ",
      u"%",
      u"&",
      u"$",
      u"s",
      u"a the of",
      u"l'",
      u"x",
  };
  for (const std::u16string& text : texts) {
    for (const uint32_t flags : AsciiFlagSets()) {
      const std::u16string expected = RunTablePasses(text, flags);
      std::u16string actual;
      EXPECT_EQ(RunAsciiPasses(text, flags, &actual), !expected.empty());
      EXPECT_EQ(actual, expected) << "\"" << Show(text) << "\" flags 0x" << std::hex << flags;
    }
  }
}

TEST(NormalizeAsciiTest, TakesOnlyAsciiTextWithoutNumberWords) {
  // One unit of 0x80 or above anywhere sends the text to the table passes.
  for (const char16_t unit : {u'\u0080', u'é', u'東', char16_t{0xD800}, char16_t{0xFFFF}}) {
    for (size_t at : {0, 7, 16, 40}) {
      std::u16string text(41, u'a');
      text[at] = unit;
      EXPECT_FALSE(AsciiPassesTake(text, kStandardNormalizeFlags)) << at;
    }
  }
  EXPECT_TRUE(AsciiPassesTake(std::u16string(41, u'\x7f'), kStandardNormalizeFlags));
  EXPECT_FALSE(AsciiPassesTake(u"abc", kStandardNormalizeFlags | kNormalizeNumbers));
}

TEST(NormalizeAsciiTest, ResultMayViewTheTextItNormalizes) {
  std::u16string text = u"The Lanterns of Harbour Lights";
  ASSERT_EQ(Normalize(text, kStandardNormalizeFlags, &text), kNormalizeOk);
  EXPECT_EQ(text, u"lantern harbour light");
}

}  // namespace
}  // namespace pelk::text
