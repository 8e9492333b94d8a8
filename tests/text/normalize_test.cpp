#include "text/normalize.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/bstr.h"
#include "runtime/utf.h"

namespace pelk::text {
namespace {

// Normalizes UTF-8 text and returns UTF-8, or "<error N>".
std::string Norm(std::string_view utf8, uint32_t flags = kStandardNormalizeFlags) {
  std::u16string out;
  const int32_t rc = Normalize(Utf8ToUtf16(utf8), flags, &out);
  return rc == kNormalizeOk ? Utf16ToUtf8(out) : "<error " + std::to_string(rc) + ">";
}

struct Case {
  const char* input;
  uint32_t flags;
  const char* expected;
};

void ExpectAll(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(Norm(c.input, c.flags), c.expected)
        << "input \"" << c.input << "\" flags 0x" << std::hex << c.flags;
  }
}

constexpr uint32_t kStd = kStandardNormalizeFlags;

TEST(NormalizeTest, StandardSetOnEverydayTitles) {
  ExpectAll({
      {"The Lanterns", kStd, "lantern"},
      {"Cats N' Dogs", kStd, "cat n dog"},
      {"XY/ZW", kStd, "xy zw"},
      {"Q.R.T.", kStd, "qrt"},
      {"1,000", kStd, "10"},
      {"Rock & Roll", kStd, "rock rol"},
      {"Ca$h", kStd, "cash"},
      {"Stone IV", kStd, "stone four"},
      {"Café Del Sol", kStd, "cafe del sol"},
      {"L'Amour", kStd, "amour"},
      {"Quintavel", kStd, "quintavel"},
      {"Abbo", kStd, "abo"},
      {"Boss", kStd, "bos"},
      {"The The", kStd, "thethe"},
      {"  Hello,\tWorld!  ", kStd, "helo world"},
  });
}

TEST(NormalizeTest, LettersPassAloneFoldsLettersAndKeepsPunctuation) {
  ExpectAll({
      {"Héllo, WÖRLD!", 0, "hello, world!"},  // punctuation waits for its own pass
      {"a\x01\x1f"
       "b\x7f",
       0, "ab"},                  // controls dropped
      {"a \t\n b   ", 0, "a b"},  // one space per break, none trailing
      {"Æsir Þór straße", 0, "aesir thor strasse"},
      {"x² ª", 0, "x²"},               // U+00B2 is punctuation, kept as is
      {"ﬁne\xEF\xBB\xBF", 0, "fine"},  // ligature expanded, BOM dropped
  });
  // A NUL ends the text.
  std::u16string out;
  ASSERT_EQ(Normalize(std::u16string(u"ab\0cd", 5), 0, &out), kNormalizeOk);
  EXPECT_EQ(out, u"ab");
}

TEST(NormalizeTest, ElisionsOnlyAtWordStart) {
  ExpectAll({
      {"L'Amour d'Hiver", 0x002, "amour hiver"},
      {"Aujourd'hui", 0x002, "aujourd'hui"},
      {"l'l'x", 0x002, "l'x"},  // one elision per word start
      {"L'Amour", 0x100, "lamour"},
  });
}

TEST(NormalizeTest, PunctuationPassActions) {
  ExpectAll({
      {"Ca$h $5 a$", 0x100, "cash 5 as"},  // inside a word only
      {"f*ck a* *b", 0x100, "feck a b"},   // between letters only
      {"3.14 1,000,000 a,b 5.", 0x100, "314 1000000 a b 5"},
      {",5 .x", 0x100, "5 x"},  // grouping dropped at a word start
      {"rock&roll 100% ½ ©2001", 0x100, "rock and roll 100 percent half copyright 2001"},
      {"&", 0x100, "and"},
      {"£5 £x", 0x100, "5 x"},
      {"a£b", 0x100, "alb"},
      {"x² μ µ", 0x100, "x2 μ mu"},
      {"it's “quoted” — dash…", 0x100, "its quoted dash"},
      {"rock’n’roll", 0x100, "rocknroll"},
  });
}

TEST(NormalizeTest, WordStartEditsAndTheirFlags) {
  ExpectAll({
      {"r e m", 0x010, "rem"},
      {"a b cd e f", 0x010, "ab cd ef"},
      {"1 2 3", 0x010, "1 2 3"},
      {"lanterns boss bus cats", 0x008, "lantern boss bus cat"},
      {"u s a", 0x018, "usa"},  // joined first, then too short for the plural rule
      {"x s", 0x018, "xs"},
  });
  // A lone "s" is deleted; nothing left, so the retry keeps it.
  EXPECT_EQ(Norm("s", 0x008), "s");
}

TEST(NormalizeTest, WordTablesMatchWholeWordsAtWordStarts) {
  ExpectAll({
      {"Stone IV xxi XXX", 0x040, "stone four twenty one thirty"},
      {"ivy mix xxxi", 0x040, "ivy mix xxxi"},
      {"the the", 0x004, "thethe"},
      {"the theory", 0x004, "the theory"},
      {"the best of the rest", 0x001, "best rest"},
      {"theory banana andes", 0x001, "theory banana andes"},
      {"a-ha", 0x101, "ha"},
      {"The The", 0x001, "the the"},  // function words remove everything: the retry keeps it
      {"The The", 0x005, "thethe"},   // compositions come before function words
      {"I V", 0x041, "one five"},     // Roman numerals come before function words
      {"V I", 0x050, "six"},          // joined letters come before Roman numerals
  });
  // Katakana written with a separate mark compose, as a whole word only.
  EXPECT_EQ(Norm("\u30AB\u3099", 0x004), "\u30AC");
  EXPECT_EQ(Norm("\u30CF\uFF9F", 0x004), "\u30D1");
  EXPECT_EQ(Norm("\u30A2\u30AB\u3099", 0x004), "\u30A2\u30AB\u3099");
}

TEST(NormalizeTest, CollapseRepeatsAndCombinations) {
  ExpectAll({
      {"aabbcc  dd", 0x080, "abc d"},
      {"Stone III", kStd, "stone thre"},  // collapse runs after the numeral is spelled out
      {"1,000", 0x120, "one thousand"},
      {"1,000", 0x020, "1,000"},  // without the punctuation pass it is not a number
      {"1 2", 0x030, "one two"},
  });
}

TEST(NormalizeTest, NumbersAsWords) {
  ExpectAll({
      {"0 000 007", 0x020, "zero zero seven"},
      {"10 15 19 20 21 99", 0x020, "ten fifteen nineteen twenty twenty one ninety nine"},
      {"100 101 110 115 120", 0x020,
       "one hundred one hundred one one hundred ten one hundred fifteen one hundred twenty"},
      {"1234", 0x020, "one thousand two hundred thirty four"},
      {"1000000 1000001", 0x020, "one million one million one"},
      {"111000", 0x020, "one hundred eleven thousand"},
      {"2000000000017", 0x020, "two trillion seventeen"},
      {"12a 4", 0x020, "12a four"},
  });
  // 22 groups of three digits at most: 64 to 66 significant digits still have words.
  const std::string one_vigintillion = "1" + std::string(63, '0');
  EXPECT_EQ(Norm(one_vigintillion, 0x020), "one vigintillion");
  EXPECT_EQ(Norm("000" + one_vigintillion, 0x020), "one vigintillion");  // zeros skipped
  const std::string max_digits = "1" + std::string(65, '0');
  EXPECT_EQ(Norm(max_digits, 0x020), "one hundred vigintillion");
  EXPECT_EQ(Norm(max_digits + "0", 0x020), max_digits + "0");  // 23 groups: left as is
  EXPECT_TRUE(
      Norm(std::string(66, '9'), 0x020).starts_with("nine hundred ninety nine vigintillion "));
}

TEST(NormalizeTest, RetryAndEmptyResult) {
  EXPECT_EQ(Norm("$"), "$");
  EXPECT_EQ(Norm("Of The"), "of the");
  EXPECT_EQ(Norm("   \t "), "<error 28>");
  EXPECT_EQ(Norm("\x01\x02", 0x010), "<error 28>");  // 0x10 alone: no retry
  EXPECT_EQ(Norm("", 0), "<error 28>");
  std::u16string kept = u"previous";
  EXPECT_EQ(Normalize(u"  ", kStd, &kept), kNormalizeEmptyResult);
  EXPECT_EQ(kept, u"previous");
}

TEST(NormalizeTest, NonLatinScripts) {
  ExpectAll({
      {"ΆΈΉ Ποτέ", kStd, "αεη ποτε"},
      {"ΟΔΥΣΣΕΑΣ", kStd, "οδυσεασ"},
      {"Οδυσσέας", kStd, "οδυσεασ"},  // final sigma folds like capital sigma
      {"Ёлка Йод Ђ", kStd, "елка иод ђ"},
      {"Արամ", kStd, "արամ"},
      {"שלום", kStd, "שלום"},  // Hebrew is copied
      {"ひらがな ぁ", kStd, "ヒラガナ ぁ"},
      {"ｶﾞﾝﾀﾞﾑ ﾎﾟﾝ", kStd, "ガンダム ポン"},
      {"ラーメン〆", kStd, "ラメンシメ"},
      {"東京　タワー", kStd, "东京 タワ"},
      {"一二三 十", kStd, "123 十"},
      {"ＡＢＣ１２３ ｗｉｔｈ", kStd, "abc123 with"},
      {"Ｃａ＄ｈ ＲＯＣＫ＆ＲＯＬＬ", kStd, "cash rock rol"},
      {"Łódź Đorđe Œuvre", kStd, "lodz dorde oeuvre"},
      {"e\xCC\x81te\xCC\x81", kStd, "ete"},  // decomposed accents dropped
  });
}

TEST(NormalizeTest, InvalidUtf16IsCopiedNotRejected) {
  const std::u16string lone = {u'A', 0xD800, u'b', 0xDC00, 0xDBFF};
  std::u16string out;
  ASSERT_EQ(Normalize(lone, kStd, &out), kNormalizeOk);
  EXPECT_EQ(out, (std::u16string{u'a', 0xD800, u'b', 0xDC00, 0xDBFF}));
}

TEST(NormalizeTextTest, WrapperArgumentsAndCut) {
  char16_t dest[8] = u"keep";
  EXPECT_EQ(NormalizeText(8, nullptr, dest), 0);
  EXPECT_EQ(NormalizeText(8, u"", dest), 0);
  EXPECT_EQ(NormalizeText(0, u"abc", dest), 0);
  EXPECT_EQ(NormalizeText(8, u"abc", nullptr), 0);
  EXPECT_EQ(std::u16string(dest), u"keep");
  EXPECT_EQ(NormalizeText(8, u"   ", dest), kNormalizeEmptyResult);
  EXPECT_EQ(std::u16string(dest), u"keep");
  EXPECT_EQ(NormalizeText(8, u"Lanterns of Fire", dest), 0);
  EXPECT_EQ(std::u16string(dest), u"lantern");  // size-1 units and a terminator

  // Long texts: Normalize keeps everything, the wrapper cuts to 1023 units.
  std::u16string long_text;
  for (int i = 0; i < 300; ++i) long_text += u"Word ";
  std::u16string full;
  ASSERT_EQ(Normalize(long_text, kStd, &full), kNormalizeOk);
  EXPECT_EQ(full.size(), 300u * 5 - 1);
  std::u16string buffer(kNormalizedBufferSize, u'\0');
  ASSERT_EQ(NormalizeText(buffer.size(), long_text.c_str(), buffer.data()), 0);
  EXPECT_EQ(std::u16string(buffer.c_str()), full.substr(0, 1023));
  EXPECT_EQ(StandardNormalized(long_text), full.substr(0, 1023));
}

TEST(NormalizeTextTest, InPlaceForms) {
  std::u16string value = u"The Lanterns";
  EXPECT_EQ(NormalizeInPlace(value), 0);
  EXPECT_EQ(value, u"lantern");
  std::u16string blank = u" \t ";
  EXPECT_EQ(NormalizeInPlace(blank), kNormalizeEmptyResult);
  EXPECT_EQ(blank, u" \t ");  // kept on failure
  std::u16string empty;
  EXPECT_EQ(NormalizeInPlace(empty), 0);
  EXPECT_TRUE(empty.empty());

  Bstr bstr(u"Café Del Sol");
  EXPECT_EQ(NormalizeInPlace(bstr), 0);
  EXPECT_EQ(bstr.View(), u"cafe del sol");
  Bstr null_bstr;
  EXPECT_EQ(NormalizeInPlace(null_bstr), 0);
  EXPECT_EQ(null_bstr.Get(), nullptr);
}

}  // namespace
}  // namespace pelk::text
