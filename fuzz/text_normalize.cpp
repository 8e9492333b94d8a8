// Any UTF-16 input (lone surrogates, NULs, controls) through every flag combination of the
// normalizer and the measures: no crash, no hang, results within their stated ranges.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/normalize.h"
#include "text/similarity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t flags = (data[0] | (data[1] << 8)) & 0x1FF;
  std::u16string text((size - 2) / 2, u'\0');
  std::memcpy(text.data(), data + 2, text.size() * 2);

  std::u16string out;
  const int32_t rc = pelk::text::Normalize(text, flags, &out);
  if (rc == 0 && out.empty()) std::abort();
  if (rc != 0 && rc != 28) std::abort();

  const std::u16string_view a = std::u16string_view(text).substr(0, text.size() / 2);
  const std::u16string_view b = std::u16string_view(text).substr(text.size() / 2);
  const int32_t edit = pelk::text::EditDifference(a, b);
  const int32_t tiling = pelk::text::TilingSimilarity(a, b, 3);
  const int32_t field = pelk::text::FieldSimilarity(a, pelk::text::StandardNormalized(a), b,
                                                    pelk::text::StandardNormalized(b));
  if (edit < 0 || edit > 100 || tiling < -1 || tiling > 100 || field < 0 || field > 100) {
    std::abort();
  }
  pelk::text::IsSameTitle(a, b);
  return 0;
}
