// Fuzzy comparison of texts: an edit-difference percentage, a greedy-string-tiling similarity,
// the field similarity the track scorer grades with, and the title match of the result lists.
// Pure computation; safe from any thread. None of these fail: unusable input gives the values
// stated below.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelk::text {

// The distance EditDifference works with when its work area cannot be allocated.
constexpr int64_t kEditDistanceNoMemory = 10000000;

// Levenshtein distance of the two texts over Unicode code points (a surrogate pair is one code
// point, a lone surrogate counts as U+FFFD), as a percentage of the longer text's length in code
// points, rounded down: 0 for identical texts (and for two empty ones), 100 when nothing is
// shared. Memory is two rows of the shorter text's length.
int32_t EditDifference(std::u16string_view a, std::u16string_view b);

// Greedy string tiling on UTF-16 code units: 200 x (code units covered by common substrings of
// at least `minimum` units) / (length a + length b). -1 when a or b is empty; 0 when either is
// shorter than `minimum`. Only the first 1023 code units of each text take part, and the
// lengths in the ratio are those of the parts that took part.
int32_t TilingSimilarity(std::u16string_view a, std::u16string_view b, int32_t minimum);

// Grades a text from the file's side against one from the disc's side, 0-100, from the raw and
// normalized forms of both (an empty normalized form counts as missing).
int32_t FieldSimilarity(std::u16string_view file_raw, std::u16string_view file_normalized,
                        std::u16string_view reference_raw,
                        std::u16string_view reference_normalized);

// True when the standard normalizations of a and b (cut to 1023 code units, empty when
// normalization fails) differ by less than 30 percent.
bool IsSameTitle(std::u16string_view a, std::u16string_view b);

}  // namespace pelk::text
