// Any UTF-16 path (lone surrogates, NULs, runs of separators and dashes) through the file-name
// parsing of the text lookup, then the parsed fields as a text lookup against a small
// catalogue: no crash, fields without separators or edge blanks, a track number of at most three
// digits, answers of the documented kinds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "catalog/catalog_store.h"
#include "catalog/matching.h"

namespace {

using namespace pelk::catalog;

CatalogStore& Catalogue() {
  static std::unique_ptr<CatalogStore> store = [] {
    std::string error;
    auto s = CatalogStore::Open(":memory:", CatalogStore::OpenMode::kCreate, &error);
    if (!s) std::abort();
    std::vector<DiscRecord> discs(2);
    discs[0] = DiscRecord{.identifier = "D-1", .album = "Blue Horizons", .artist = "The Tones"};
    discs[1] =
        DiscRecord{.identifier = "D-2", .album = "Caf\xc3\xa9 \"Quotes\"", .artist = "AC/DC"};
    const char* titles[] = {"Morning Light", "Night \"Drive\"", "01 Intro",
                            "\xe4\xb8\xad\xe6\x96\x87"};
    int n = 0;
    for (DiscRecord& d : discs) {
      for (int t = 1; t <= 4; ++t) {
        d.tracks.push_back(TrackRecord{
            .number = t, .title = titles[(t + n) % 4], .identifier = "T-" + std::to_string(++n)});
      }
    }
    if (!s->AddDiscs(discs, &error)) std::abort();
    return s;
  }();
  return *store;
}

bool Clean(const std::u16string& field) {
  if (field.find(u'/') != std::u16string::npos || field.find(u'\\') != std::u16string::npos) {
    return false;
  }
  auto blank = [](char16_t c) { return c == u' ' || c == u'_' || c == u'\t'; };
  return field.empty() || (!blank(field.front()) && !blank(field.back()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string path(size / 2, u'\0');
  std::memcpy(path.data(), data, path.size() * 2);
  const ParsedFileName parsed = ParseFileName(path);
  if (parsed.track < 0 || parsed.track > 999) std::abort();
  if (!Clean(parsed.artist) || !Clean(parsed.album) || !Clean(parsed.title)) std::abort();

  TextQuery query;
  query.file_name = path;
  const MatchAnswer answer = MatchText(Catalogue(), query);
  if (answer.kind != 1 && answer.kind != 2 && answer.kind != 3) std::abort();
  if ((answer.kind == 1) != answer.matches.empty()) std::abort();
  if (answer.kind == 3 && answer.matches.size() != 1) std::abort();
  for (const Match& m : answer.matches) {
    if (m.score < 0 || m.score > 100) std::abort();
  }
  return 0;
}
