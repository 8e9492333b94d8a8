#include <gtest/gtest.h>

#include <cstring>

#include "runtime/bstr.h"
#include "runtime/guid.h"
#include "runtime/utf.h"

namespace pelk {
namespace {

TEST(BstrTest, LayoutIsLengthPrefixedAndTerminated) {
  BSTR s = SysAllocString(u"abc");
  ASSERT_NE(s, nullptr);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 6u);  // bytes, not characters
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[3], u'\0');
  SysFreeString(s);
}

TEST(BstrTest, EmbeddedNulAndNullHandling) {
  const char16_t text[] = {u'a', 0, u'b'};
  BSTR s = SysAllocStringLen(text, 3);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(s[2], u'b');
  SysFreeString(s);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);  // allowed

  BSTR zeroed = SysAllocStringLen(nullptr, 2);
  EXPECT_EQ(SysStringLen(zeroed), 2u);
  EXPECT_EQ(zeroed[0], 0);
  SysFreeString(zeroed);
}

TEST(BstrTest, RaiiOwnershipAndOutParameters) {
  Bstr a = Bstr::FromUtf8("Café");
  EXPECT_EQ(a.Length(), 4u);
  EXPECT_EQ(a.Utf8(), "Café");
  Bstr b = a.Copy();
  EXPECT_NE(a.Get(), b.Get());
  Bstr c = std::move(a);
  EXPECT_EQ(a.Get(), nullptr);
  EXPECT_TRUE(a.Empty());
  BSTR* slot = c.Out();
  EXPECT_EQ(*slot, nullptr);
  *slot = SysAllocString(u"x");
  EXPECT_EQ(c.View(), u"x");
  EXPECT_EQ(BstrView(nullptr), u"");
}

TEST(UtfTest, RoundTripsAllPlanes) {
  const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x8E\xB5";  // a é 中 🎵
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0xE9, 0x4E2D, 0xD83C, 0xDFB5}));
  EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(UtfTest, LoneSurrogatesBecomeReplacement) {
  const std::u16string lone_high{u'a', 0xD800, u'b'};
  EXPECT_EQ(Utf16ToUtf8(lone_high), "a\xEF\xBF\xBD" "b");
  const std::u16string lone_low{0xDC00};
  EXPECT_EQ(Utf16ToUtf8(lone_low), "\xEF\xBF\xBD");
  const std::u16string reversed{0xDC00, 0xD800};
  EXPECT_EQ(Utf16ToUtf8(reversed), "\xEF\xBF\xBD\xEF\xBF\xBD");
  const std::u16string high_at_end{u'x', 0xDBFF};
  EXPECT_EQ(Utf16ToUtf8(high_at_end), "x\xEF\xBF\xBD");
}

TEST(UtfTest, InvalidUtf8BecomesReplacement) {
  EXPECT_EQ(Utf8ToUtf16("\xFF"), u"\xFFFD");
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\xFFFD");            // truncated sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\xFFFD\xFFFD");     // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\xFFFD\xFFFD\xFFFD");  // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8z"), u"\xFFFDz");         // resyncs at the bad byte
}

TEST(GuidTest, ParsesAndFormats) {
  constexpr GUID g = MakeGuid("1CF2B120-547D-101B-8E65-08002B2BD119");
  EXPECT_EQ(g.Data1, 0x1CF2B120u);
  EXPECT_EQ(g.Data4[7], 0x19);
  EXPECT_EQ(GuidToString(g), "{1CF2B120-547D-101B-8E65-08002B2BD119}");
  EXPECT_EQ(GuidFromString("{1cf2b120-547d-101b-8e65-08002b2bd119}"), g);
  EXPECT_EQ(GuidFromString("1CF2B120-547D-101B-8E65-08002B2BD119"), g);
  EXPECT_FALSE(GuidFromString("{1CF2B120-547D-101B-8E65-08002B2BD11}").has_value());
  EXPECT_FALSE(GuidFromString("1CF2B120x547D-101B-8E65-08002B2BD119").has_value());
  EXPECT_FALSE(GuidFromString("1CF2B120-547D-101B-8E65-08002B2BD11G").has_value());
}

}  // namespace
}  // namespace pelk
