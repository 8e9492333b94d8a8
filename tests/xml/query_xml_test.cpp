#include "xml/query_xml.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/hr_matchers.h"

namespace pelk::text {
namespace {

namespace xml = query_xml;

constexpr const char* kTemplate =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<KZFPX_FP_QUERY VERSION=\"1.0\">\n"
    "  <ALGORITHM>\n"
    "    <NAME>Wavelattice</NAME>\n"
    "    <VERSION>1.1</VERSION>\n"
    "    <QUERY>Wavelattice&quot;1.1</QUERY>\n"
    "  </ALGORITHM>\n"
    "  <FP_BLOCKS>\n"
    "    <FP_BLOCK TYPE=\"SIGNED_INT_16\" COUNT=\"30\" ENCODING=\"ASCII\" SEPARATOR=\" \">0"
    "</FP_BLOCK>\n"
    "  </FP_BLOCKS>\n"
    "</KZFPX_FP_QUERY>\n";

std::unique_ptr<XmlElement> MustParse(const std::string& text) {
  std::unique_ptr<XmlElement> root;
  EXPECT_HR(S_OK, xml::Parse(text.c_str(), &root)) << text;
  return root;
}

std::string TextOf(const XmlElement* root, std::string_view path) {
  return std::string(xml::TextAt(root, path).value_or("<none>"));
}

TEST(QueryXmlTest, FindsByPathBelowTheElement) {
  auto root = MustParse(kTemplate);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(TextOf(root.get(), "ALGORITHM/QUERY"), "Wavelattice\"1.1");
  EXPECT_EQ(TextOf(root.get(), "FP_BLOCKS/FP_BLOCK"), "0");
  EXPECT_EQ(TextOf(root.get(), "KZFPX_FP_QUERY/ALGORITHM/NAME"), "<none>");  // own name excluded
  EXPECT_EQ(TextOf(root.get(), "ALGORITHM/NAM"), "<none>");                  // exact names only
  EXPECT_EQ(TextOf(root.get(), "ALGORITHM"), "<none>");                      // found, but no text
  EXPECT_EQ(xml::Find(root.get(), "ALGORITHM/VERSION"), root->children[0]->children[1].get());
  EXPECT_EQ(xml::Find(root.get(), ""), nullptr);
  auto digits = MustParse("<1a><2_b>x</2_b></1a>");  // names may start with a digit
  EXPECT_EQ(TextOf(digits.get(), "2_b"), "x");
}

TEST(QueryXmlTest, ReportsEachReaderError) {
  const std::pair<HRESULT, std::vector<std::string>> groups[] = {
      {xml::kMalformed, {"\xEF\xBB\xBF<a/>", " \n\t ", "<a>x<b/>y</a>", "<a></b>"}},
      {xml::kBadCharacter, {"<a b='x'/>", "<a-b/>", "<a:b/>", "<a b.c=\"1\"/>"}},
      {xml::kUnexpectedEnd, {"<a", "<a b=\"1", "<a>x", "<?xml"}},
  };
  for (const auto& [code, texts] : groups) {
    for (const std::string& text : texts) {
      std::unique_ptr<XmlElement> root;
      EXPECT_HR(code, xml::Parse(text.c_str(), &root)) << '"' << text << '"';
      EXPECT_EQ(root, nullptr);
    }
  }
  std::unique_ptr<XmlElement> root;
  EXPECT_HR(xml::kBadArgument, xml::Parse(nullptr, &root));
  EXPECT_HR(xml::kBadArgument, xml::Parse("<a/>", nullptr));
  // One run, however it is spread around children, is allowed.
  EXPECT_EQ(MustParse("<a> <b/> x <c/> </a>")->text, "x ");
}

TEST(QueryXmlTest, SetsTextByPathWithAndWithoutCreation) {
  auto root = MustParse(kTemplate);
  EXPECT_HR(S_OK, xml::SetTextByPath(root.get(), "ALGORITHM/NAME", "Other", false));
  EXPECT_EQ(TextOf(root.get(), "ALGORITHM/NAME"), "Other");

  EXPECT_HR(xml::kNotFound, xml::SetTextByPath(root.get(), "ALGORITHM/X/Y", "v", false));
  EXPECT_EQ(xml::Find(root.get(), "ALGORITHM/X"), nullptr);  // nothing created on the way
  EXPECT_HR(S_OK, xml::SetTextByPathUint(root.get(), "ALGORITHM/X/Y", 4294967295u, true));
  EXPECT_EQ(TextOf(root.get(), "ALGORITHM/X/Y"), "4294967295");
  EXPECT_EQ(root->children[0]->children.back()->name, "X");  // appended last

  for (const char* bad : {"", "/ALGORITHM", "ALGORITHM//NAME", "ALGORITHM/", "A-B"}) {
    EXPECT_HR(xml::kBadArgument, xml::SetTextByPath(root.get(), bad, "v", true)) << bad;
  }
  EXPECT_HR(xml::kBadArgument, xml::SetTextByPath(nullptr, "A", "v", true));
}

TEST(QueryXmlTest, SetAttributeMovesTheAttributeLastAndEmptyValueRemoves) {
  auto root = MustParse("<a x=\"1\" y=\"2\" z=\"3\"/>");
  EXPECT_HR(S_OK, xml::SetAttribute(root.get(), "x", "9"));
  EXPECT_HR(S_OK, xml::SetAttribute(root.get(), "y", ""));
  EXPECT_HR(xml::kBadArgument, xml::SetAttribute(root.get(), "b-c", "1"));
  std::string text;
  ASSERT_HR(S_OK, xml::Write(root.get(), false, false, false, &text));
  EXPECT_EQ(text, "<a z=\"3\" x=\"9\"></a>");
}

TEST(QueryXmlTest, WritesTheTemplateBackWithQueryEscaping) {
  auto root = MustParse(kTemplate);
  std::string text;
  ASSERT_HR(S_OK, xml::Write(root.get(), true, true, true, &text));
  EXPECT_EQ(text, kTemplate);
  ASSERT_HR(S_OK, xml::SetTextByPath(root.get(), "ALGORITHM/NAME", "\"'&<>", false));
  ASSERT_HR(S_OK, xml::SetAttribute(root.get(), "VERSION", "\"'&<>"));
  ASSERT_HR(S_OK, xml::Write(root.get(), false, false, false, &text));
  EXPECT_NE(text.find("<KZFPX_FP_QUERY VERSION=\"&quot;&apos;&amp;&lt;&gt;\">"), std::string::npos);
  EXPECT_NE(text.find("<NAME>&quot;&apos;&amp;&lt;&gt;</NAME>"), std::string::npos);
}

TEST(QueryXmlTest, RoundTripsUnderEveryWriterSwitch) {
  auto root = MustParse(kTemplate);
  for (int flags = 0; flags < 8; ++flags) {
    std::string text;
    ASSERT_HR(S_OK, xml::Write(root.get(), flags & 1, flags & 2, flags & 4, &text));
    EXPECT_TRUE(xml::Equal(MustParse(text).get(), root.get())) << text;
  }
}

TEST(QueryXmlTest, EqualComparesNamesTextsAttributesAndChildrenInOrder) {
  const std::string base = "<a p=\"1\" q=\"2\"><b>t</b><c/></a>";
  auto a = MustParse(base);
  EXPECT_TRUE(xml::Equal(a.get(), MustParse(base).get()));
  EXPECT_TRUE(xml::Equal(a.get(), MustParse("<a p=\"1\" q=\"2\"><b>t</b><c></c></a>").get()));
  for (const char* other :
       {"<A p=\"1\" q=\"2\"><b>t</b><c/></A>", "<a p=\"1\" q=\"2\"><b>u</b><c/></a>",
        "<a q=\"2\" p=\"1\"><b>t</b><c/></a>", "<a p=\"1\" q=\"3\"><b>t</b><c/></a>",
        "<a p=\"1\" q=\"2\"><c/><b>t</b></a>", "<a p=\"1\" q=\"2\"><b>t</b></a>"}) {
    auto b = MustParse(other);
    EXPECT_FALSE(xml::Equal(a.get(), b.get())) << other;
  }
  EXPECT_TRUE(xml::Equal(nullptr, nullptr));
  EXPECT_FALSE(xml::Equal(a.get(), nullptr));
  xml::Free(a);
  xml::Free(a);
  EXPECT_EQ(a, nullptr);
}

// Freeing the tree of this document crashed once (a moved-out child was dereferenced).
TEST(QueryXmlTest, FuzzRegressionFreeingANestedTree) {
  std::ifstream file(SONQUIX_TEST_DATA_DIR "/query_xml_free_crash.xml", std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  auto root = MustParse(content.str());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(TextOf(root.get(), "FP_BLOCKS/FP_BLOCK"), "0 A B");
  xml::Free(root);
  EXPECT_EQ(root, nullptr);
}

}  // namespace
}  // namespace pelk::text
