#include "xml/engine_xml.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "xml/query_xml.h"  // Equal(): both components share the tree type

namespace pelk::text {
namespace {

namespace xml = engine_xml;

std::unique_ptr<XmlElement> MustParse(const std::string& text) {
  std::unique_ptr<XmlElement> root;
  EXPECT_EQ(xml::Parse(text.c_str(), &root), xml::kOk) << text;
  return root;
}

std::string ValueOf(const XmlElement* root, std::string_view path) {
  return std::string(xml::Value(root, path).value_or("<none>"));
}

TEST(EngineXmlTest, ReadsSyntaxVariantsAndLooksValuesUp) {
  auto root = MustParse(
      "\xEF\xBB\xBF <?xml version='1.0'?>\n"
      "<FINGERPRINT ALG='Wavelattice' VERSION = \"1.1\">\n"
      "  <DATA COUNT=\"2\">1 -2</DATA>\n"
      "  <AUDIO><my-ns:x.y_z/><DURATION UNITS=\"ms\">900</DURATION>"
      "<CHANNELS>2</CHANNELS><CHANNELS>9</CHANNELS></AUDIO>\n"
      "  <ALG>shadowed by the attribute</ALG>\n"
      "</FINGERPRINT>\n");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT/ALG"), "Wavelattice");
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT/VERSION"), "1.1");
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT/DATA"), "1 -2");
  EXPECT_EQ(ValueOf(root.get(), "//FINGERPRINT//AUDIO/CHANNELS"), "2");  // first child wins
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT/AUDIO/DURATION/UNITS"), "ms");
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT/AUDIO/my-ns:x.y_z"), "<none>");  // no text
  EXPECT_EQ(ValueOf(root.get(), "AUDIO/CHANNELS"), "<none>");                 // root name required
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT/AUDIO/OFFSET"), "<none>");
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT"), "<none>");
}

TEST(EngineXmlTest, LaterTextRunReplacesEarlierAndKeepsTrailingSpace) {
  auto root = MustParse("<a>  first <b/> second  <c/>  \n</a>");
  EXPECT_EQ(root->text, "second  ");
  EXPECT_FALSE(MustParse("<a> \n\t </a>")->text.has_value());
}

TEST(EngineXmlTest, DecodesEntitiesAndNumericReferences) {
  struct Case {
    const char* encoded;
    std::string decoded;
  } cases[] = {
      {"&lt;&gt;&amp;&apos;&quot;", "<>&'\""},
      {"&#233;", "\xC3\xA9"},
      {"&#x41;&#x7FF;&#xFFFF;", "A\xDF\xBF\xEF\xBF\xBF"},
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
      {"&#x3FFFFFF;", "\xFB\xBF\xBF\xBF\xBF"},
      {"&#2147483647;", "\xFD\xBF\xBF\xBF\xBF\xBF"},
      // Anything else stays as written.
      {"&copy; &#2147483648; &#12 &#x; &#; &#0; &#X41; &LT;", ""},
  };
  cases[6].decoded = cases[6].encoded;
  for (const Case& c : cases) {
    auto root = MustParse(std::string("<a v=\"") + c.encoded + "\">" + c.encoded + "</a>");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text, c.decoded) << c.encoded;
    EXPECT_EQ(root->attributes[0].value, c.decoded) << c.encoded;
  }
}

TEST(EngineXmlTest, ReportsEachReaderError) {
  const std::pair<int32_t, std::vector<std::string>> groups[] = {
      {xml::kSyntaxError, {" \r\n\t", "", "text", "<?xsl?><a/>", "<a></b>", "<a/><b/>", "<a/>x"}},
      {xml::kUnexpectedEnd,
       {"<?xm", "<?xml v", "<?xml ?>", "<", "<a", "<a b='x", "<a>text", "<a><b/>", "<a></a",
        "<a/"}},
      {xml::kBadCharacter,
       {"<1a/>", "<a b=1/>", "<a b>", "<a/x>", "<a></a x>", "<a><!-- c --></a>"}},
  };
  for (const auto& [status, texts] : groups) {
    for (const std::string& text : texts) {
      std::unique_ptr<XmlElement> root;
      EXPECT_EQ(xml::Parse(text.c_str(), &root), status) << '"' << text << '"';
      EXPECT_EQ(root, nullptr);
    }
  }
  std::unique_ptr<XmlElement> root;
  EXPECT_EQ(xml::Parse(nullptr, &root), xml::kBadArgument);
  EXPECT_EQ(xml::Parse("<a/>", nullptr), xml::kBadArgument);
  // Reading stops at a NUL inside the given length.
  EXPECT_EQ(xml::Parse("<a/>\0<<", 7, &root), xml::kOk);
  EXPECT_EQ(xml::Parse("<a>\0</a>", 8, &root), xml::kUnexpectedEnd);
  std::string deep;
  for (int i = 0; i < kMaxXmlDepth + 1; ++i) deep += "<a>";
  EXPECT_EQ(xml::Parse(deep.c_str(), &root), xml::kSyntaxError);
}

TEST(EngineXmlTest, BuildersChainAndStopAtTheFirstFailure) {
  std::unique_ptr<XmlElement> root;
  XmlElement* audio = nullptr;
  int32_t st = xml::NewElement(xml::kOk, "FINGERPRINT", std::nullopt, &root);
  st = xml::SetAttribute(st, root.get(), "ALG", "Wavelattice");
  st = xml::SetAttributeInt(st, root.get(), "N", -5);
  st = xml::SetAttributeUint(st, root.get(), "ALG", 4294967295u);  // replaced in place
  st = xml::AddChild(st, root.get(), "AUDIO", std::nullopt, &audio);
  st = xml::AddChildInt(st, audio, "OFFSET", -40);
  st = xml::AddChildUint(st, audio, "RATE", 44100);
  std::unique_ptr<XmlElement> tail;
  st = xml::NewElement(st, "TAIL", "t", &tail);
  st = xml::AppendChild(st, root.get(), std::move(tail));
  ASSERT_EQ(st, xml::kOk);
  std::string text;
  ASSERT_EQ(xml::Write(root.get(), false, false, false, &text), xml::kOk);
  EXPECT_EQ(text,
            "<FINGERPRINT ALG=\"4294967295\" N=\"-5\"><AUDIO><OFFSET>-40</OFFSET>"
            "<RATE>44100</RATE></AUDIO><TAIL>t</TAIL></FINGERPRINT>");

  st = xml::AddChild(xml::kOk, root.get(), "bad name", "x", &audio);
  EXPECT_EQ(st, xml::kBadArgument);
  EXPECT_EQ(audio, nullptr);
  st = xml::SetText(st, root.get(), "ignored");
  st = xml::AddChildInt(st, root.get(), "SKIPPED", 1);
  EXPECT_EQ(st, xml::kBadArgument);
  EXPECT_EQ(xml::SetText(xml::kOutOfMemory, root.get(), "ignored"), xml::kOutOfMemory);
  EXPECT_EQ(xml::AppendChild(xml::kOk, nullptr, std::make_unique<XmlElement>("x")),
            xml::kBadArgument);
  std::string again;
  ASSERT_EQ(xml::Write(root.get(), false, false, false, &again), xml::kOk);
  EXPECT_EQ(again, text);
}

TEST(EngineXmlTest, WritesLayoutAndEngineEscaping) {
  auto root = MustParse(
      "<r q=\"&quot;&apos;&amp;&lt;&gt;\">&quot;&apos;&amp;&lt;&gt;<c><e/></c><d>x</d></r>");
  std::string text;
  ASSERT_EQ(xml::Write(root.get(), true, true, true, &text), xml::kOk);
  EXPECT_EQ(text,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
            "<r q=\"&quot;&apos;&amp;&lt;>\">\n"
            "  \"'&amp;&lt;>\n"
            "  <c>\n"
            "    <e></e>\n"
            "  </c>\n"
            "  <d>x</d>\n"
            "</r>\n");
  ASSERT_EQ(xml::Write(root.get(), false, true, false, &text), xml::kOk);
  EXPECT_EQ(text,
            "<r q=\"&quot;&apos;&amp;&lt;>\">  \"'&amp;&lt;>  <c>    <e></e>  </c>  <d>x</d></r>");
  EXPECT_EQ(xml::Write(nullptr, false, false, false, &text), xml::kBadArgument);
}

TEST(EngineXmlTest, RoundTripsUnderEveryWriterSwitch) {
  auto root = MustParse(
      "<FP a='1' b=\"&lt;&amp;&quot;'\"><DATA>1 -2 &#233;</DATA><AUDIO><C>2</C><E/></AUDIO>"
      "<Z y=\"2\" x=\"1\">&gt; \"q\"</Z></FP>");
  for (int flags = 0; flags < 8; ++flags) {
    std::string text;
    ASSERT_EQ(xml::Write(root.get(), flags & 1, flags & 2, flags & 4, &text), xml::kOk);
    EXPECT_TRUE(query_xml::Equal(MustParse(text).get(), root.get())) << text;
  }
  // Mixed content survives exactly without indentation and line feeds; leading space is lost.
  auto mixed = MustParse("<a>&#32; x <b/></a>");
  std::string text;
  ASSERT_EQ(xml::Write(mixed.get(), false, false, false, &text), xml::kOk);
  EXPECT_EQ(MustParse(text)->text, "x ");
}

TEST(EngineXmlTest, FreeIsSafeAndDeepTreesDoNotExhaustTheStack) {
  std::unique_ptr<XmlElement> root = std::make_unique<XmlElement>("a");
  XmlElement* tip = root.get();
  for (int i = 0; i < 200000; ++i) {
    ASSERT_EQ(xml::AddChild(xml::kOk, tip, "a", std::nullopt, &tip), xml::kOk);
  }
  xml::Free(root);
  EXPECT_EQ(root, nullptr);
  xml::Free(root);
}

// Freeing the tree of this document crashed once (a moved-out child was dereferenced).
TEST(EngineXmlTest, FuzzRegressionFreeingANestedTree) {
  std::ifstream file(SONQUIX_TEST_DATA_DIR "/engine_xml_free_crash.xml", std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  auto root = MustParse(content.str());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT/DATA"), "1 -2 3 & \xC3\xA9 \xF0\x9F\x8E\xB5 &copy;");
  EXPECT_EQ(ValueOf(root.get(), "FINGERPRINT/AUDIO/CHANNELS"), "2");
  xml::Free(root);
  EXPECT_EQ(root, nullptr);
}

}  // namespace
}  // namespace pelk::text
