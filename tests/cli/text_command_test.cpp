#include "cli/commands/text_command.h"

#include <gtest/gtest.h>

#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "tests/cli/cli_runner.h"

namespace pelk::cli {
namespace {

Outcome RunSonquix(std::vector<std::string> args) {
  return RunCommand(AddTextCommand, std::move(args));
}

int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(TextCommandTest, NormalizePrintsOneLinePerText) {
  const Outcome r = RunSonquix({"text", "normalize", "The Lanterns", "Ｃａ＄ｈ", "Of The"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "lantern\ncash\nof the\n");
  EXPECT_EQ(r.err, "");
}

TEST(TextCommandTest, NormalizeFailureGivesEmptyLineAndOneLineError) {
  const Outcome r = RunSonquix({"text", "normalize", "a", "  ", "b"});
  EXPECT_NE(r.code, 0);
  EXPECT_EQ(r.out, "a\n\nb\n");
  EXPECT_EQ(Lines(r.err), 1);
  EXPECT_NE(r.err.find("text 2"), std::string::npos) << r.err;
}

TEST(TextCommandTest, NormalizeFlags) {
  EXPECT_EQ(RunSonquix({"text", "normalize", "--flags", "0x120", "1,000"}).out, "one thousand\n");
  EXPECT_EQ(RunSonquix({"text", "normalize", "--flags", "0", "A.B"}).out, "a.b\n");
  for (const char* bad : {"0x200", "12z", "-1", "0x", "0x1FFFFFFFFF"}) {
    const Outcome r = RunSonquix({"text", "normalize", "--flags", bad, "x"});
    EXPECT_NE(r.code, 0) << bad;
    EXPECT_EQ(r.out, "") << bad;
    EXPECT_EQ(Lines(r.err), 1) << bad << ": " << r.err;
  }
}

TEST(TextCommandTest, CompareAsJson) {
  const Outcome r = RunSonquix({"text", "compare", "--json", "The Lanterns", "Lanterns"});
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j.at("edit_difference"), 33);
  EXPECT_EQ(j.at("tiling_similarity"), 80);
  EXPECT_EQ(j.at("field_similarity"), 100);
  EXPECT_EQ(j.at("same_title"), true);
  EXPECT_EQ(j.size(), 4u);
}

TEST(TextCommandTest, CompareForPeopleAndBadInput) {
  const Outcome r = RunSonquix({"text", "compare", "abc", "abd"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("edit difference    33\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("same title         no\n"), std::string::npos) << r.out;

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"text", "compare", "only-one"},
        std::vector<std::string>{"text", "compare", "a", "\xff\xfe"},
        std::vector<std::string>{"text", "frobnicate"}, std::vector<std::string>{}}) {
    const Outcome bad = RunSonquix(args);
    EXPECT_NE(bad.code, 0);
    EXPECT_EQ(Lines(bad.err), 1) << bad.err;
  }
}

}  // namespace
}  // namespace pelk::cli
