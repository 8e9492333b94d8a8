// The fuzzy measures against plain textbook versions of themselves on generated texts: the fast
// paths (common ends dropped, bit-parallel distance, tiling by table rows, equal-text shortcuts)
// must give every value the plain algorithms give.
#include <gtest/gtest.h>

#include <string>

#include "runtime/utf.h"
#include "tests/support/plain_similarity.h"
#include "tests/support/random_titles.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace pelk::text {
namespace {

using testing::PlainEditDifference;
using testing::PlainField;
using testing::PlainTiling;

std::string Show(std::u16string_view text) { return Utf16ToUtf8(text); }

TEST(SimilarityReferenceTest, PlainAlgorithmsAgreeOnThePlainCases) {
  // The references themselves, on the values the measures' own tests pin down.
  EXPECT_EQ(PlainEditDifference(u"kitten", u"sitting"), 42);
  EXPECT_EQ(PlainTiling(u"abcd xyz", u"xyz abcd", 3), 87);
  EXPECT_EQ(PlainTiling(u"aaaa", u"aaa", 3), 85);
}

TEST(SimilarityReferenceTest, EveryValueEqualsThePlainAlgorithms) {
  testing::RandomTitles titles(20261208);
  int compared = 0;
  for (int i = 0; i < 4000; ++i) {
    const std::u16string a = titles.Text();
    const std::u16string b = titles.Variant(a);
    SCOPED_TRACE("a = \"" + Show(a) + "\", b = \"" + Show(b) + "\"");
    ASSERT_EQ(EditDifference(a, b), PlainEditDifference(a, b));
    const int32_t minimum = static_cast<int32_t>(titles.Below(5));
    ASSERT_EQ(TilingSimilarity(a, b, minimum), PlainTiling(a, b, minimum)) << minimum;
    const std::u16string na = StandardNormalized(a), nb = StandardNormalized(b);
    ASSERT_EQ(FieldSimilarity(a, na, b, nb), PlainField(a, na, b, nb));
    ASSERT_EQ(FieldSimilarity(b, nb, a, u""), PlainField(b, nb, a, u""));
    ++compared;
  }
  EXPECT_EQ(compared, 4000);
}

TEST(SimilarityReferenceTest, EditDifferenceAroundTheWordSize) {
  // Patterns of 63, 64 and 65 characters after the common ends are dropped, with repeats, so the
  // bit-parallel distance and the table meet at their border.
  testing::RandomTitles titles(7);
  for (size_t length : {1, 2, 63, 64, 65, 66, 130}) {
    for (int i = 0; i < 40; ++i) {
      std::u16string a, b;
      for (size_t k = 0; k < length; ++k) a += static_cast<char16_t>(u'a' + titles.Below(3));
      for (size_t k = 0; k < length + titles.Below(3); ++k) {
        b += static_cast<char16_t>(titles.Chance(10) ? u'東' : u'a' + titles.Below(3));
      }
      ASSERT_EQ(EditDifference(a, b), PlainEditDifference(a, b)) << Show(a) << " / " << Show(b);
      ASSERT_EQ(EditDifference(b, a), PlainEditDifference(b, a)) << Show(a) << " / " << Show(b);
    }
  }
}

TEST(SimilarityReferenceTest, TilingAroundTheWordSize) {
  // b of 63, 64 and 65 units (the word-wide rows and the table rows meet there), from small
  // alphabets so that runs repeat, tie in length and overlap, over a of every length around it.
  testing::RandomTitles titles(11);
  for (size_t b_length : {1, 2, 3, 31, 63, 64, 65, 100}) {
    for (int i = 0; i < 30; ++i) {
      const size_t letters = 2 + titles.Below(3);
      std::u16string a, b;
      for (size_t k = 0; k < b_length; ++k)
        b += static_cast<char16_t>(u'a' + titles.Below(letters));
      const size_t a_length = titles.Chance(50) ? b_length : 1 + titles.Below(2 * b_length + 8);
      for (size_t k = 0; k < a_length; ++k) {
        a += titles.Chance(30) && k < b.size()
                 ? b[k]
                 : static_cast<char16_t>(u'a' + titles.Below(letters));
      }
      for (int32_t minimum : {1, 2, 3, 5}) {
        ASSERT_EQ(TilingSimilarity(a, b, minimum), PlainTiling(a, b, minimum))
            << Show(a) << " / " << Show(b) << " minimum " << minimum;
      }
    }
  }
}

}  // namespace
}  // namespace pelk::text
