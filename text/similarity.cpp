#include "text/similarity.h"

#include <algorithm>
#include <array>
#include <bit>
#include <initializer_list>
#include <new>
#include <span>
#include <vector>

#include "text/normalize.h"

namespace pelk::text {
namespace {

constexpr size_t kTilingLimit = 1023;
// Texts whose shorter side (after the common ends are dropped) fits one machine word take the
// bit-parallel distance; longer ones the two-row table.
constexpr size_t kWordBits = 64;

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// True when some text holds a surrogate. Texts whose units all lie below the surrogates (most
// text) are told apart without a branch per unit.
bool HasSurrogate(std::initializer_list<std::u16string_view> texts) {
  char16_t bits = 0;
  for (const std::u16string_view text : texts) {
    for (const char16_t c : text) bits |= c;
  }
  if (bits < 0xD800) return false;
  return std::any_of(texts.begin(), texts.end(), [](std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), IsSurrogate);
  });
}

std::u32string CodePoints(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (IsSurrogate(c)) {
      out.push_back(0xFFFD);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// The match masks of the bit-parallel measures: bit i of Mask(c) is set when pattern[i] == c.
// ASCII characters find their mask through a small index table, the pattern's other characters
// (at most 64) through a short list.
template <class Char>
class PatternMasks {
 public:
  explicit PatternMasks(std::basic_string_view<Char> pattern) {
    ascii_slot_.fill(0);
    masks_[0] = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
      const Char c = pattern[i];
      size_t slot;
      if (c < 128) {
        slot = ascii_slot_[c];
        if (slot == 0) ascii_slot_[c] = static_cast<uint8_t>(slot = NewSlot(c));
      } else {
        slot = OtherSlot(c);
        if (slot == 0) slot = NewSlot(c);
      }
      masks_[slot] |= uint64_t{1} << i;
    }
  }

  uint64_t Mask(Char c) const { return masks_[c < 128 ? ascii_slot_[c] : OtherSlot(c)]; }

 private:
  size_t NewSlot(Char c) {
    ++used_;
    chars_[used_] = c;
    masks_[used_] = 0;
    return used_;
  }

  // The slot of a non-ASCII character of the pattern, 0 when absent.
  size_t OtherSlot(Char c) const {
    for (size_t k = 1; k <= used_; ++k) {
      if (chars_[k] == c) return k;
    }
    return 0;
  }

  std::array<uint8_t, 128> ascii_slot_;  // 0: not in the pattern
  std::array<Char, kWordBits + 1> chars_;
  std::array<uint64_t, kWordBits + 1> masks_;  // slot 0 matches nothing
  size_t used_ = 0;
};

// Levenshtein distance with a pattern of at most 64 characters, one column of the table per
// step as bit vectors of vertical deltas (Myers; Hyyrö's formulation for the whole-text
// distance, where the top row grows by one per column). Step takes the text's characters in
// order.
template <class Char>
class BitParallelRun {
 public:
  // REQUIRES: 1 <= pattern.size() <= 64.
  explicit BitParallelRun(std::basic_string_view<Char> pattern)
      : masks_(pattern),
        last_(uint64_t{1} << (pattern.size() - 1)),
        distance_(static_cast<int64_t>(pattern.size())) {}

  void Step(Char c) {
    const uint64_t eq = masks_.Mask(c);
    const uint64_t xv = eq | minus_;
    const uint64_t xh = (((eq & plus_) + plus_) ^ plus_) | eq;
    uint64_t hplus = minus_ | ~(xh | plus_);
    uint64_t hminus = plus_ & xh;
    distance_ +=
        static_cast<int64_t>((hplus & last_) != 0) - static_cast<int64_t>((hminus & last_) != 0);
    hplus = (hplus << 1) | 1;
    hminus <<= 1;
    plus_ = hminus | ~(xv | hplus);
    minus_ = hplus & xv;
  }

  int64_t distance() const { return distance_; }

 private:
  const PatternMasks<Char> masks_;
  const uint64_t last_;
  uint64_t plus_ = ~uint64_t{0};  // vertical +1 deltas
  uint64_t minus_ = 0;            // vertical -1 deltas
  int64_t distance_;
};

// Levenshtein distance with unit costs, keeping two rows over the shorter text.
template <class Char>
int64_t TableDistance(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  std::vector<uint32_t> prev(b.size() + 1);
  std::vector<uint32_t> cur(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = static_cast<uint32_t>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = static_cast<uint32_t>(i);
    for (size_t j = 1; j <= b.size(); ++j) {
      const uint32_t substitution = prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, substitution});
    }
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

// Two texts with their common prefix and suffix dropped (they never change the distance), the
// longer first.
template <class Char>
struct Trimmed {
  std::basic_string_view<Char> longer;
  std::basic_string_view<Char> shorter;

  // The shorter text fits the bit-parallel distance's word.
  bool InWord() const { return !shorter.empty() && shorter.size() <= kWordBits; }
};

template <class Char>
Trimmed<Char> DropCommonEnds(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  const size_t prefix = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
  a.remove_prefix(prefix);
  b.remove_prefix(prefix);
  const size_t suffix =
      std::mismatch(a.rbegin(), a.rend(), b.rbegin(), b.rend()).first - a.rbegin();
  a.remove_suffix(suffix);
  b.remove_suffix(suffix);
  if (a.size() < b.size()) std::swap(a, b);
  return {a, b};
}

// Levenshtein distance with unit costs.
template <class Char>
int64_t Levenshtein(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  const Trimmed<Char> t = DropCommonEnds(a, b);
  if (t.shorter.empty()) return static_cast<int64_t>(t.longer.size());
  if (t.InWord()) {
    BitParallelRun<Char> run(t.shorter);
    for (const Char c : t.longer) run.Step(c);
    return run.distance();
  }
  return TableDistance(t.longer, t.shorter);
}

// A distance as a percentage of the longer text's length. REQUIRES: longer > 0.
int32_t Percent(int64_t distance, int64_t longer) {
  return static_cast<int32_t>(std::min<int64_t>(distance * 100 / longer, INT32_MAX));
}

struct Match {
  size_t a;
  size_t b;
  size_t length;
};

// One row of the tiling table, for unit `unit` of a: row[t + 1] is the length of the common run
// of uncovered units ending at `unit` and b[t] (live[t] is all ones while b[t] is uncovered, 0
// once covered); prev is the row of the previous unit of a. Returns the row's greatest value.
// Written without branches so that the compiler can use vector instructions.
uint16_t TilingRow(char16_t unit, const char16_t* __restrict b, const uint16_t* __restrict live,
                   size_t size, const uint16_t* __restrict prev, uint16_t* __restrict row) {
  uint16_t greatest = 0;
  for (size_t t = 0; t < size; ++t) {
    const uint16_t equal = b[t] == unit ? 0xFFFF : 0;
    const uint16_t value = static_cast<uint16_t>((prev[t] + 1) & equal & live[t]);
    row[t + 1] = value;
    greatest = std::max(greatest, value);
  }
  return greatest;
}

// The matches of one tiling round, in the order they are tiled. One list per thread, kept
// between calls so that rounds do not allocate.
std::vector<Match>& RoundMatches() {
  thread_local std::vector<Match> matches;
  constexpr size_t kKeptCapacity = 4096;
  if (matches.capacity() > kKeptCapacity) std::vector<Match>().swap(matches);
  matches.clear();
  return matches;
}

// Lays the round's tiles: the matches in order, each unless it overlaps a tile laid before it.
// `b_free(m)` tells whether m's units of b are all uncovered, `cover_b(m)` covers them. Returns
// the units tiled.
template <class BFree, class CoverB>
size_t LayTiles(const std::vector<Match>& matches, std::span<bool> covered_a, BFree b_free,
                CoverB cover_b) {
  size_t tiled = 0;
  for (const Match& m : matches) {
    const auto a_tiles = covered_a.begin() + m.a;
    if (std::find(a_tiles, a_tiles + m.length, true) != a_tiles + m.length || !b_free(m)) {
      continue;  // overlaps a tile laid earlier in this round
    }
    std::fill_n(a_tiles, m.length, true);
    cover_b(m);
    tiled += m.length;
  }
  return tiled;
}

// Greedy string tiling: returns the number of code units of `a` covered by tiles.
// REQUIRES: a and b hold at most kTilingLimit code units; minimum >= 1.
//
// Each round finds every maximal common run of uncovered units through the table of run
// lengths ending at (p, t), one row at a time. A run of the greatest length ends where the
// table holds that length, and the ends of equally long runs come in the same order as their
// starts, so the runs are tiled in the order a left-to-right search for their starts finds them.
size_t TiledLength(std::u16string_view a, std::u16string_view b, size_t minimum) {
  // Rows are computed over b padded to whole vectors (padding is never live), so that no
  // scalar tail runs per row.
  constexpr size_t kLanes = 8;
  constexpr size_t kPadded = (kTilingLimit + kLanes - 1) / kLanes * kLanes;
  static constexpr std::array<uint16_t, kPadded + 1> kZeroRow{};
  const size_t width = (b.size() + kLanes - 1) / kLanes * kLanes;
  std::array<bool, kTilingLimit> covered_a;
  std::array<char16_t, kPadded> b_units;
  std::array<uint16_t, kPadded> live_b;
  std::array<uint16_t, kPadded + 1> rows[2];
  std::fill_n(covered_a.begin(), a.size(), false);
  std::copy(b.begin(), b.end(), b_units.begin());
  std::fill_n(b_units.begin() + b.size(), width - b.size(), char16_t{0});
  std::fill_n(live_b.begin(), b.size(), uint16_t{0xFFFF});
  std::fill_n(live_b.begin() + b.size(), width - b.size(), uint16_t{0});
  rows[0][0] = rows[1][0] = 0;
  // A unit of a whose bit is clear here occurs nowhere in b: its row is all zeros.
  uint64_t in_b = 0;
  for (const char16_t unit : b) in_b |= uint64_t{1} << (unit & 63);

  const size_t shorter = std::min(a.size(), b.size());
  size_t tiled = 0;
  std::vector<Match>& matches = RoundMatches();
  size_t longest;
  do {
    longest = minimum;
    matches.clear();
    const uint16_t* prev_row = kZeroRow.data();
    uint16_t* row = rows[0].data();
    for (size_t p = 0; p < a.size(); ++p) {
      if (covered_a[p] || !((in_b >> (a[p] & 63)) & 1)) {
        prev_row = kZeroRow.data();
        continue;
      }
      if (TilingRow(a[p], b_units.data(), live_b.data(), width, prev_row, row) >= longest) {
        for (size_t t = 0; t < b.size(); ++t) {
          const size_t length = row[t + 1];
          if (length < longest) continue;
          if (length > longest) {
            matches.clear();
            longest = length;
          }
          matches.push_back({p + 1 - length, t + 1 - length, length});
        }
      }
      prev_row = row;
      row = row == rows[0].data() ? rows[1].data() : rows[0].data();
    }
    tiled += LayTiles(
        matches, std::span(covered_a.data(), a.size()),
        [&](const Match& m) {
          const auto b_tiles = live_b.begin() + m.b;
          return std::find(b_tiles, b_tiles + m.length, 0) == b_tiles + m.length;
        },
        [&](const Match& m) { std::fill_n(live_b.begin() + m.b, m.length, uint16_t{0}); });
  } while (longest > minimum && tiled < shorter);
  return tiled;
}

uint64_t LowBits(size_t count) {
  return count >= kWordBits ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

// The same tiling for a b of at most 64 units, with each row of the run-length table held as
// bit vectors of its levels: bit t of level k is set when the run ending at (p, t) is at least
// k units long. Level 1 is where b holds a[p] (uncovered units only); level k is level 1 and
// the previous row's level k-1 moved on by one unit. A row stops at its first empty level, so it
// costs as many steps as its longest run (a unit or two for most rows of unrelated titles)
// instead of a pass over b. The row's greatest length is its number of levels, and the cells
// holding it are the bits of its last level, in the order of the table search.
// REQUIRES: as TiledLength; 1 <= b.size() <= 64.
size_t TiledLengthInWord(std::u16string_view a, std::u16string_view b, size_t minimum) {
  const PatternMasks<char16_t> masks(b);
  std::array<bool, kTilingLimit> covered_a;
  std::fill_n(covered_a.begin(), a.size(), false);
  uint64_t live_b = LowBits(b.size());
  std::array<uint64_t, kWordBits> levels[2];

  const size_t shorter = std::min(a.size(), b.size());
  size_t tiled = 0;
  std::vector<Match>& matches = RoundMatches();
  size_t longest;
  do {
    longest = minimum;
    matches.clear();
    uint64_t* prev = levels[0].data();
    uint64_t* row = levels[1].data();
    size_t prev_count = 0;
    for (size_t p = 0; p < a.size(); ++p) {
      const uint64_t first = covered_a[p] ? 0 : masks.Mask(a[p]) & live_b;
      size_t count = 0;
      if (first != 0) {
        row[count++] = first;
        while (count <= prev_count && count < kWordBits) {
          const uint64_t next = first & (prev[count - 1] << 1);
          if (next == 0) break;
          row[count++] = next;
        }
      }
      if (count >= longest) {
        if (count > longest) {
          matches.clear();
          longest = count;
        }
        for (uint64_t ends = row[count - 1]; ends != 0; ends &= ends - 1) {
          const size_t t = static_cast<size_t>(std::countr_zero(ends));
          matches.push_back({p + 1 - count, t + 1 - count, count});
        }
      }
      std::swap(prev, row);
      prev_count = count;
    }
    tiled += LayTiles(
        matches, std::span(covered_a.data(), a.size()),
        [&](const Match& m) {
          const uint64_t units = LowBits(m.length) << m.b;
          return (live_b & units) == units;
        },
        [&](const Match& m) { live_b &= ~(LowBits(m.length) << m.b); });
  } while (longest > minimum && tiled < shorter);
  return tiled;
}

// A tiling value usable as a grade: out-of-range values (-1 included) count as 0, and two equal
// texts of exactly 2 code units, too short to tile, count as alike.
int32_t TilingGrade(std::u16string_view x, std::u16string_view y) {
  int32_t g = TilingSimilarity(x, y, 3);
  if (g < 0 || g > 100) g = 0;
  if (g == 0 && x.size() == 2 && y.size() == 2 && x == y) g = 100;
  return g;
}

int32_t EditGrade(int32_t difference) { return difference > 100 ? 0 : 100 - difference; }

int32_t EditGrade(std::u16string_view x, std::u16string_view y) {
  return EditGrade(EditDifference(x, y));
}

// The edit grades of two pairs of texts (raw and normalized forms): when both pairs take the
// bit-parallel distance, the two run side by side, each step of one independent of the other's,
// so that the processor overlaps them.
void EditGrades(std::u16string_view x1, std::u16string_view y1, std::u16string_view x2,
                std::u16string_view y2, int32_t* grade1, int32_t* grade2) {
  if (!HasSurrogate({x1, y1, x2, y2})) {
    const Trimmed<char16_t> t1 = DropCommonEnds(x1, y1);
    const Trimmed<char16_t> t2 = DropCommonEnds(x2, y2);
    if (t1.InWord() && t2.InWord()) {
      BitParallelRun<char16_t> run1(t1.shorter);
      BitParallelRun<char16_t> run2(t2.shorter);
      const size_t both = std::min(t1.longer.size(), t2.longer.size());
      for (size_t i = 0; i < both; ++i) {
        run1.Step(t1.longer[i]);
        run2.Step(t2.longer[i]);
      }
      for (size_t i = both; i < t1.longer.size(); ++i) run1.Step(t1.longer[i]);
      for (size_t i = both; i < t2.longer.size(); ++i) run2.Step(t2.longer[i]);
      // Both pairs hold a character, so neither longer length is 0.
      *grade1 =
          EditGrade(Percent(run1.distance(), static_cast<int64_t>(std::max(x1.size(), y1.size()))));
      *grade2 =
          EditGrade(Percent(run2.distance(), static_cast<int64_t>(std::max(x2.size(), y2.size()))));
      return;
    }
  }
  *grade1 = EditGrade(x1, y1);
  *grade2 = EditGrade(x2, y2);
}

bool EitherContains(std::u16string_view x, std::u16string_view y) {
  return x.find(y) != std::u16string_view::npos || y.find(x) != std::u16string_view::npos;
}

}  // namespace

int32_t EditDifference(std::u16string_view a, std::u16string_view b) {
  int64_t distance;
  int64_t longer;
  try {
    if (!HasSurrogate({a, b})) {
      // Every code unit is a code point.
      longer = static_cast<int64_t>(std::max(a.size(), b.size()));
      if (longer == 0) return 0;
      distance = Levenshtein(a, b);
    } else {
      const std::u32string ca = CodePoints(a);
      const std::u32string cb = CodePoints(b);
      longer = static_cast<int64_t>(std::max(ca.size(), cb.size()));
      if (longer == 0) return 0;
      distance = Levenshtein(std::u32string_view(ca), std::u32string_view(cb));
    }
  } catch (const std::bad_alloc&) {
    longer = static_cast<int64_t>(std::max(a.size(), b.size()));
    if (longer == 0) return 0;
    distance = kEditDistanceNoMemory;
  }
  return Percent(distance, longer);
}

int32_t TilingSimilarity(std::u16string_view a, std::u16string_view b, int32_t minimum) {
  if (a.empty() || b.empty()) return -1;
  const size_t min_length = static_cast<size_t>(std::max(minimum, 1));
  if (a.size() < min_length || b.size() < min_length) return 0;
  a = a.substr(0, kTilingLimit);
  b = b.substr(0, kTilingLimit);
  // Equal texts tile whole in the first round.
  if (a == b) return 100;
  size_t tiled;
  try {
    tiled =
        b.size() <= kWordBits ? TiledLengthInWord(a, b, min_length) : TiledLength(a, b, min_length);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return static_cast<int32_t>(200 * tiled / (a.size() + b.size()));
}

int32_t FieldSimilarity(std::u16string_view file_raw, std::u16string_view file_normalized,
                        std::u16string_view reference_raw,
                        std::u16string_view reference_normalized) {
  if (file_raw.empty() || reference_raw.empty()) return 0;
  const bool have_normalized = !file_normalized.empty() && !reference_normalized.empty();
  // Equal forms of two or more units grade 100 by both measures, so l = 200 whatever the
  // other pair gives.
  if ((file_raw.size() >= 2 && file_raw == reference_raw) ||
      (have_normalized && file_normalized.size() >= 2 && file_normalized == reference_normalized)) {
    return 100;
  }
  int32_t e;
  int32_t f = 0;
  if (have_normalized) {
    EditGrades(file_raw, reference_raw, file_normalized, reference_normalized, &e, &f);
  } else {
    e = EditGrade(file_raw, reference_raw);
  }
  const int32_t g = TilingGrade(file_raw, reference_raw);
  const int32_t h = have_normalized ? TilingGrade(file_normalized, reference_normalized) : 0;
  const bool raw_containment =
      file_raw.size() >= 4 && reference_raw.size() >= 4 && EitherContains(file_raw, reference_raw);
  const bool normalized_containment = file_normalized.size() > 5 &&
                                      reference_normalized.size() > 5 &&
                                      EitherContains(file_normalized, reference_normalized);
  const int32_t l = std::max(e, f) + std::max(g, h);
  if ((!raw_containment && !normalized_containment) || l >= 180) return l / 2;
  return 90;
}

bool IsSameTitle(std::u16string_view a, std::u16string_view b) {
  return EditDifference(StandardNormalized(a), StandardNormalized(b)) < 30;
}

}  // namespace pelk::text
