#include "cli/commands/text_command.h"

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "runtime/utf.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace pelk::cli {
namespace {

struct NormalizeOptions {
  std::vector<std::string> texts;
  std::string flags;
  CLI::Option* flags_option = nullptr;
};

struct CompareOptions {
  std::string a;
  std::string b;
  bool json = false;
};

void RunNormalize(const NormalizeOptions& options) {
  const uint32_t flags = options.flags.empty() ? text::kStandardNormalizeFlags
                                               : ParseNumber(options.flags, 0x1FF, "--flags");
  std::vector<std::u16string> texts;
  for (size_t i = 0; i < options.texts.size(); ++i) {
    texts.push_back(ArgumentText(options.texts[i], "text " + std::to_string(i + 1)));
  }
  std::string failures;
  int32_t last_error = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    std::u16string normalized;
    const int32_t rc = text::Normalize(texts[i], flags, &normalized);
    if (rc != text::kNormalizeOk) {
      failures += (failures.empty() ? "" : ", ") + std::to_string(i + 1);
      last_error = rc;
      normalized.clear();
    }
    std::cout << Utf16ToUtf8(normalized) << '\n';
  }
  if (!failures.empty()) {
    Fail("cannot normalize text " + failures + " (error " + std::to_string(last_error) +
         ": nothing is left of it)");
  }
}

void RunCompare(const CompareOptions& options) {
  const std::u16string a = ArgumentText(options.a, "A");
  const std::u16string b = ArgumentText(options.b, "B");
  const std::u16string normalized_a = text::StandardNormalized(a);
  const std::u16string normalized_b = text::StandardNormalized(b);
  const int32_t edit = text::EditDifference(a, b);
  const int32_t tiling = text::TilingSimilarity(a, b, 3);
  const int32_t field = text::FieldSimilarity(a, normalized_a, b, normalized_b);
  const bool same = text::IsSameTitle(a, b);
  if (options.json) {
    const nlohmann::json result = {{"edit_difference", edit},
                                   {"tiling_similarity", tiling},
                                   {"field_similarity", field},
                                   {"same_title", same}};
    std::cout << result.dump() << '\n';
    return;
  }
  std::cout << "normalized A       " << Utf16ToUtf8(normalized_a) << '\n'
            << "normalized B       " << Utf16ToUtf8(normalized_b) << '\n'
            << "edit difference    " << edit << '\n'
            << "tiling similarity  " << tiling << '\n'
            << "field similarity   " << field << '\n'
            << "same title         " << (same ? "yes" : "no") << '\n';
}

}  // namespace

void AddTextCommand(CLI::App& app) {
  CLI::App* text = app.add_subcommand("text", "Normalize and compare titles, artists and albums");
  text->require_subcommand(1);

  auto normalize_options = std::make_shared<NormalizeOptions>();
  CLI::App* normalize = text->add_subcommand(
      "normalize",
      "Print the canonical form of each TEXT on its own line (an empty line and "
      "a non-zero exit for a text of which nothing is left)");
  normalize->add_option("TEXT", normalize_options->texts, "Texts to normalize")->required();
  normalize_options->flags_option =
      normalize->add_option("--flags", normalize_options->flags,
                            "Normalization flags, decimal or 0x hexadecimal (default 0x1DF, the "
                            "standard set; 0x20 spells numbers)");
  normalize->callback([normalize_options] { RunNormalize(*normalize_options); });

  auto compare_options = std::make_shared<CompareOptions>();
  CLI::App* compare = text->add_subcommand(
      "compare",
      "Compare two texts: edit difference, tiling similarity (minimum 3), field "
      "similarity and whether they are the same title");
  compare->add_option("A", compare_options->a, "First text")->required();
  compare->add_option("B", compare_options->b, "Second text")->required();
  compare->add_flag("--json", compare_options->json, "Print a JSON object");
  compare->callback([compare_options] { RunCompare(*compare_options); });
}

}  // namespace pelk::cli
