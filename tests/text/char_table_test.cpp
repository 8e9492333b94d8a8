#include "text/char_table.h"

#include <gtest/gtest.h>

#include <string>

namespace pelk::text {
namespace {

struct Row {
  char16_t c;
  int char_class;
  int action;
  std::u16string_view replacement;
};

void ExpectRows(std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    const CharEntry e = LookupChar(row.c);
    EXPECT_EQ(static_cast<int>(e.char_class), row.char_class) << std::hex << "U+" << int(row.c);
    EXPECT_EQ(static_cast<int>(e.action), row.action) << std::hex << "U+" << int(row.c);
    EXPECT_EQ(e.replacement, row.replacement) << std::hex << "U+" << int(row.c);
  }
}

// The first and last code unit of every row of the Latin-1 block.
TEST(CharTableTest, Latin1BlockRows) {
  ExpectRows({
      {0x00, 0, 0, u""},        {0x01, 4, 1, u""},          {0x08, 4, 1, u""},
      {0x0E, 4, 1, u""},        {0x1F, 4, 1, u""},          {0x7F, 4, 1, u""},
      {0x9F, 4, 1, u""},        {0x09, 0, 2, u""},          {0x0D, 0, 2, u""},
      {0x20, 0, 2, u""},        {0xA0, 0, 2, u""},          {0x21, 3, 2, u""},
      {0x23, 3, 2, u""},        {0x28, 3, 2, u""},          {0x2B, 3, 2, u""},
      {0x2D, 3, 2, u""},        {0x2F, 3, 2, u""},          {0x3A, 3, 2, u""},
      {0x40, 3, 2, u""},        {0x5B, 3, 2, u""},          {0x5F, 3, 2, u""},
      {0x7B, 3, 2, u""},        {0x7E, 3, 2, u""},          {0xA1, 3, 2, u""},
      {0xA2, 3, 2, u""},        {0xA4, 3, 2, u""},          {0xA7, 3, 2, u""},
      {0xAB, 3, 2, u""},        {0xAC, 3, 2, u""},          {0xAE, 3, 2, u""},
      {0xAF, 3, 2, u""},        {0xB1, 3, 2, u""},          {0xB6, 3, 2, u""},
      {0xB7, 3, 2, u""},        {0xBB, 3, 2, u""},          {0xBE, 3, 2, u""},
      {0xBF, 3, 2, u""},        {0xD7, 3, 2, u""},          {0xF7, 3, 2, u""},
      {0x24, 3, 5, u"s"},       {0xA3, 3, 5, u"l"},         {0x25, 3, 4, u"percent"},
      {0x26, 3, 4, u"and"},     {0xA9, 3, 4, u"copyright"}, {0xB0, 3, 4, u"degree"},
      {0xBC, 3, 4, u"quarter"}, {0xBD, 3, 4, u"half"},      {0x27, 3, 1, u""},
      {0x60, 3, 1, u""},        {0xA8, 3, 1, u""},          {0xAD, 3, 1, u""},
      {0xB4, 3, 1, u""},        {0x2A, 3, 6, u"e"},         {0x2C, 3, 7, u""},
      {0x2E, 3, 7, u""},        {0x30, 2, 0, u""},          {0x39, 2, 0, u""},
      {0x41, 1, 3, u"a"},       {0x5A, 1, 3, u"z"},         {0x61, 1, 0, u""},
      {0x7A, 1, 0, u""},        {0xAA, 1, 1, u""},          {0xB8, 1, 1, u""},
      {0xBA, 1, 1, u""},        {0xB2, 3, 3, u"2"},         {0xB3, 3, 3, u"3"},
      {0xB9, 3, 3, u"1"},       {0xB5, 3, 3, u"mu"},        {0xC0, 1, 3, u"a"},
      {0xC5, 1, 3, u"a"},       {0xE0, 1, 3, u"a"},         {0xE5, 1, 3, u"a"},
      {0xC6, 1, 3, u"ae"},      {0xE6, 1, 3, u"ae"},        {0xC7, 1, 3, u"c"},
      {0xE7, 1, 3, u"c"},       {0xC8, 1, 3, u"e"},         {0xEB, 1, 3, u"e"},
      {0xCC, 1, 3, u"i"},       {0xEF, 1, 3, u"i"},         {0xD0, 1, 3, u"eth"},
      {0xF0, 1, 3, u"eth"},     {0xD1, 1, 3, u"n"},         {0xF1, 1, 3, u"n"},
      {0xD2, 1, 3, u"o"},       {0xD6, 1, 3, u"o"},         {0xD8, 1, 3, u"o"},
      {0xF2, 1, 3, u"o"},       {0xF6, 1, 3, u"o"},         {0xF8, 1, 3, u"o"},
      {0xD9, 1, 3, u"u"},       {0xFC, 1, 3, u"u"},         {0xDD, 1, 3, u"y"},
      {0xFD, 1, 3, u"y"},       {0xFF, 1, 3, u"y"},         {0xDE, 1, 3, u"th"},
      {0xFE, 1, 3, u"th"},      {0xDF, 1, 3, u"ss"},
  });
}

TEST(CharTableTest, GeneratedBlocksFollowTheScheme) {
  ExpectRows({
      {0x0100, 1, 3, u"a"},
      {0x0141, 1, 3, u"l"},
      {0x01F6, 5, 0, u""},
      {0x0218, 5, 0, u""},
      {0x02AF, 5, 0, u""},
      {0x02B0, 1, 1, u""},
      {0x02D8, 3, 2, u""},
      {0x02DD, 3, 2, u""},
      {0x02DE, 1, 1, u""},
      {0x0300, 1, 1, u""},
      {0x0345, 1, 1, u""},
      {0x0361, 1, 1, u""},
      {0x0386, 1, 3, u"\u03B1"},
      {0x03B1, 1, 0, u""},
      {0x037E, 3, 2, u""},
      {0x0400, 1, 3, u"\u0435"},
      {0x0439, 1, 3, u"\u0438"},
      {0x0430, 1, 0, u""},
      {0x0531, 1, 3, u"\u0561"},
      {0x0589, 3, 2, u""},
      {0x05D0, 5, 0, u""},
      {0x2000, 0, 2, u""},
      {0x200B, 0, 2, u""},
      {0x2014, 3, 2, u""},
      {0x2019, 3, 1, u""},
      {0x2026, 3, 2, u""},
      {0x202A, 0, 0, u""},
      {0x202E, 0, 0, u""},
      {0x204D, 3, 2, u""},
      {0x20A0, 3, 5, u"e"},
      {0x20A1, 3, 1, u""},
      {0x20AB, 3, 1, u""},
      {0x3000, 0, 2, u""},
      {0x303F, 0, 2, u""},
      {0x300C, 3, 2, u""},
      {0x30FC, 1, 1, u""},
      {0x309B, 1, 1, u""},
      {0x3042, 1, 3, u"\u30A2"},
      {0x3041, 1, 0, u""},
      {0x30A2, 1, 0, u""},
      {0x3006, 1, 3, u"\u30B7\u30E1"},
      {0x303C, 1, 3, u"\u30DE\u30B9"},
      {0x4E00, 2, 3, u"1"},
      {0x4E5D, 2, 3, u"9"},
      {0x6771, 1, 3, u"\u4E1C"},
      {0x9F8D, 1, 3, u"\u9F99"},
      {0x4EBA, 5, 0, u""},
      {0xFB00, 1, 3, u"ff"},
      {0xFB03, 1, 3, u"ffi"},
      {0xFB06, 1, 3, u"st"},
      {0xFEFF, 4, 1, u""},
      {0xFF04, 3, 5, u"s"},
      {0xFF05, 3, 4, u"percent"},
      {0xFF06, 3, 4, u"and"},
      {0xFF0C, 3, 7, u""},
      {0xFF10, 2, 3, u"0"},
      {0xFF21, 1, 3, u"a"},
      {0xFF41, 1, 3, u"a"},
      {0xFF76, 1, 3, u"\u30AB"},
      {0xE000, 5, 0, u""},
      {0xD800, 5, 0, u""},
  });
}

TEST(CharTableTest, TwentyFiveHalfwidthVoicedPairs) {
  char16_t composed = 0;
  ASSERT_TRUE(LookupPair(0xFF76, 0xFF9E, &composed));
  EXPECT_EQ(composed, 0x30AC);
  ASSERT_TRUE(LookupPair(0xFF8E, 0xFF9F, &composed));
  EXPECT_EQ(composed, 0x30DD);
  EXPECT_FALSE(LookupPair(0xFF76, 0xFF9F, &composed));  // ka has no semi-voiced form
  EXPECT_FALSE(LookupPair(0x30AB, 0xFF9E, &composed));  // full-width base
  int pairs = 0;
  for (char16_t c = 0xFF00; c < 0xFFF0; ++c) {
    pairs += LookupPair(c, 0xFF9E, &composed) + LookupPair(c, 0xFF9F, &composed);
  }
  EXPECT_EQ(pairs, 25);
}

}  // namespace
}  // namespace pelk::text
