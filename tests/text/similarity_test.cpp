#include "text/similarity.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/utf.h"
#include "text/case_fold.h"
#include "text/normalize.h"

namespace pelk::text {
namespace {

std::u16string U(std::string_view utf8) { return Utf8ToUtf16(utf8); }

// FieldSimilarity with the normalized forms computed as the scorer computes them.
int32_t Field(std::string_view file, std::string_view reference) {
  const std::u16string f = U(file), r = U(reference);
  return FieldSimilarity(f, StandardNormalized(f), r, StandardNormalized(r));
}

TEST(EditDifferenceTest, PercentOfTheLongerText) {
  EXPECT_EQ(EditDifference(u"abc", u"abd"), 33);
  EXPECT_EQ(EditDifference(u"kitten", u"sitting"), 42);  // 3 edits over 7
  EXPECT_EQ(EditDifference(u"same", u"same"), 0);
  EXPECT_EQ(EditDifference(u"", u""), 0);
  EXPECT_EQ(EditDifference(u"", u"abcd"), 100);
  EXPECT_EQ(EditDifference(u"abcd", u""), 100);
  EXPECT_EQ(EditDifference(u"abcd", u"wxyz"), 100);
  EXPECT_EQ(EditDifference(u"ab", u"abcd"), 50);
}

TEST(EditDifferenceTest, CountsCodePointsNotBytesOrUnits) {
  EXPECT_EQ(EditDifference(U("东京"), U("大阪")), 100);  // different titles stay different
  EXPECT_EQ(EditDifference(U("东京"), U("东阪")), 50);
  EXPECT_EQ(EditDifference(U("a😀"), U("a😁")), 50);  // one pair is one code point
  EXPECT_EQ(EditDifference(U("café"), U("cafe")), 25);
  // A lone surrogate reads as U+FFFD.
  EXPECT_EQ(EditDifference(std::u16string{u'a', 0xD800}, std::u16string{u'a', 0xFFFD}), 0);
  EXPECT_EQ(EditDifference(std::u16string{u'a', 0xDC00}, std::u16string{u'a', 0xD800}), 0);
}

TEST(EditDifferenceTest, LongTextsUseTwoRows) {
  // A full table for these would take 288 MB.
  std::u16string a(12000, u'a');
  a.back() = u'b';
  EXPECT_EQ(EditDifference(a, std::u16string(6000, u'a')), 50);
}

TEST(TilingSimilarityTest, BoundaryValues) {
  EXPECT_EQ(TilingSimilarity(u"", u"abc", 3), -1);
  EXPECT_EQ(TilingSimilarity(u"abc", u"", 3), -1);
  EXPECT_EQ(TilingSimilarity(u"ab", u"abc", 3), 0);  // shorter than the minimum
  EXPECT_EQ(TilingSimilarity(u"abc", u"abc", 3), 100);
  EXPECT_EQ(TilingSimilarity(u"abcdef", u"abcxyz", 3), 50);
  EXPECT_EQ(TilingSimilarity(u"abcdef", u"abxyef", 3), 0);  // no common run of 3
  EXPECT_EQ(TilingSimilarity(u"abc", u"abc", 0), 100);      // a minimum below 1 acts as 1
}

TEST(TilingSimilarityTest, TilesLongestFirstAcrossRounds) {
  // Round 1 tiles "abcd"; round 2 finds "xyz" (the minimum) and stops.
  EXPECT_EQ(TilingSimilarity(u"abcd xyz", u"xyz abcd", 3), 87);
  // Two matches of equal length overlapping in b: only the first becomes a tile.
  EXPECT_EQ(TilingSimilarity(u"aaaa", u"aaa", 3), 85);
  EXPECT_EQ(TilingSimilarity(u"the lanterns", u"lanterns the", 3), 91);
}

TEST(TilingSimilarityTest, OnlyTheFirst1023UnitsTakePart) {
  std::u16string a(2000, u'x');
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char16_t>(u'a' + i % 26);
  std::u16string b = a;
  b.replace(1500, 100, std::u16string(100, u'#'));
  EXPECT_EQ(TilingSimilarity(a, b, 3), 100);  // the difference lies beyond the cut
  b.replace(10, 100, std::u16string(100, u'#'));
  EXPECT_LT(TilingSimilarity(a, b, 3), 100);
}

TEST(FieldSimilarityTest, EqualAndArticleOnlyDifferences) {
  EXPECT_EQ(Field("Lanterns", "Lanterns"), 100);
  EXPECT_EQ(Field("The Lanterns", "Lanterns"), 100);  // normalized equal, l = 200
  EXPECT_EQ(Field("", "Lanterns"), 0);
  EXPECT_EQ(Field("Lanterns", ""), 0);
}

TEST(FieldSimilarityTest, MissingNormalizedFormsAndTwoCharacterRule) {
  EXPECT_EQ(FieldSimilarity(u"abc", u"", u"abd", u""), 33);     // e = 67, everything else 0
  EXPECT_EQ(FieldSimilarity(u"ab", u"", u"ab", u""), 100);      // too short to tile, but equal
  EXPECT_EQ(FieldSimilarity(u"ab", u"", u"ac", u""), 25);       // e = 50, g = 0
  EXPECT_EQ(FieldSimilarity(u"AB", u"", u"ab", u""), 0);        // the rule is case-sensitive
  EXPECT_EQ(FieldSimilarity(u"A.", u"ab", u"a!", u"ab"), 100);  // applies to normalized too
}

TEST(FieldSimilarityTest, ContainmentRaisesToNinetyBelow180) {
  // Raw containment, l = 20 + 32 well below 180.
  EXPECT_EQ(Field("Love", "Love Me Do Remastered"), 90);
  // Too short for raw containment (3 characters) and for normalized containment: l / 2.
  EXPECT_EQ(Field("Lov", "Lov Me Do Remastered"), 20);
  // No raw containment (case differs), normalized containment of more than 5 characters.
  EXPECT_EQ(Field("LOVE STORY", "love story (live at the bowl)"), 90);
  // Normalized containment needs more than 5 characters on both sides.
  EXPECT_LT(Field("WORLD", "world peace now"), 90);
  EXPECT_EQ(Field("ORANGE", "orange peace now"), 90);
  // Containment with l >= 180 keeps l / 2.
  EXPECT_EQ(Field("The Lanterns", "Lanterns"), 100);
}

TEST(IsSameTitleTest, IgnoresCaseAccentsPunctuationAndArticles) {
  EXPECT_TRUE(IsSameTitle(u"Café del Mar!", u"CAFE DEL MAR"));
  EXPECT_TRUE(IsSameTitle(u"The Lanterns", u"lanterns"));
  EXPECT_FALSE(IsSameTitle(u"Lanterns", u"Lighthouse"));
  // Threshold: a difference of exactly 30 is not the same title, 20 is.
  EXPECT_FALSE(IsSameTitle(u"qwertyuiop", u"qwertyuxyz"));
  EXPECT_TRUE(IsSameTitle(u"qwertyuiop", u"qwertyuiyz"));
}

TEST(CaseFoldTest, SimpleFoldingOfTheBmp) {
  EXPECT_EQ(FoldCase(u'A'), u'a');
  EXPECT_EQ(FoldCase(u'z'), u'z');
  EXPECT_EQ(FoldCase(u'\u00C9'), u'\u00E9');
  EXPECT_EQ(FoldCase(u'\u00B5'), u'\u03BC');  // micro sign
  EXPECT_EQ(FoldCase(u'\u03A3'), u'\u03C3');
  EXPECT_EQ(FoldCase(u'\u03C2'), u'\u03C3');  // final sigma
  EXPECT_EQ(FoldCase(u'\u0416'), u'\u0436');
  EXPECT_EQ(FoldCase(u'\uFF21'), u'\uFF41');
  EXPECT_EQ(FoldCase(u'\u0130'), u'\u0130');  // only a full folding exists
  EXPECT_EQ(FoldCase(u'\u4E00'), u'\u4E00');
  EXPECT_TRUE(EqualsIgnoreCase(U("ÉCOLE Ωμέγα"), U("école ΩΜΈΓΑ")));
  EXPECT_FALSE(EqualsIgnoreCase(u"abc", u"abcd"));
  EXPECT_LT(CompareIgnoreCase(u"ABC", u"abd"), 0);
  EXPECT_GT(CompareIgnoreCase(u"b", u"A"), 0);
  EXPECT_LT(CompareIgnoreCase(u"ab", u"ABC"), 0);
}

}  // namespace
}  // namespace pelk::text
