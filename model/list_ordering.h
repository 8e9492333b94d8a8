// The orderings of record lists: by track number, match type, folder, metadata (album, artist,
// file-name start) and match quality (best candidate first), each a "comes before" test on two
// records, and the stable merge sort the lists sort with.
//
// A test reads record properties through the records' own operations (each under the record's
// lock); the caller holds the list's lock. Values that cannot be read take defaults (TrackNum 0,
// MatchType 14, empty sort keys, score 0 for a failed score, no disc, no element), so ordering
// never fails. An entry without a record comes after every entry with one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/disc_info.h"
#include "runtime/com_ptr.h"

namespace pelk {

class CPelkFileInfo;

// True when the disc reports itself as a compilation or its artist is exactly
// "Various Artists". False for a null disc.
bool IsVariousArtistsDisc(IDiscInfo* disc);

// What the orderings read of one record. Each value is read on first use and then kept, so a
// sort reads every property of a record at most once however often the record is compared.
// REQUIRES: the record outlives the facts; one thread uses them.
class OrderingFacts {
 public:
  explicit OrderingFacts(CPelkFileInfo* record) : record_(record) {}

  bool HasRecord() const { return record_ != nullptr; }
  int32_t TrackNum();
  int32_t MatchType();
  // The record score (-1 without a disc, 0 when scoring fails).
  int32_t Score();
  bool HighConfidence();
  bool HasDisc();
  bool VariousArtists();
  // The disc's "certified_level" named text as a decimal value (empty: 0).
  int32_t CertifiedLevel();
  // The disc's release rank as a decimal value (empty: 0).
  int32_t ReleaseRank();
  // The data-list element of list 1, level 0: 0 none, 1 one whose first value is 0, 2 one whose
  // first value is non-zero.
  int32_t ElementRank();
  // Sort keys as the fixed buffers of the comparisons hold them: folder up to 259 characters,
  // album and artist up to 127, the file name's first 4.
  std::u16string_view SortFolder();
  std::u16string_view SortAlbum();
  std::u16string_view SortArtist();
  std::u16string_view SortFilenamePrefix();

 private:
  IDiscInfo* Disc();

  CPelkFileInfo* record_;
  std::optional<int32_t> track_num_, match_type_, score_, certified_level_, release_rank_,
      element_rank_;
  std::optional<bool> high_confidence_, various_artists_;
  bool disc_read_ = false;
  ComPtr<IDiscInfo> disc_;
  std::optional<std::u16string> folder_, album_, artist_, filename_prefix_;
};

// A comes before B when its TrackNum is smaller.
bool TrackNumBefore(OrderingFacts& a, OrderingFacts& b);
// A comes before B when its MatchType is smaller (identifier matches first, no match last).
bool MatchTypeBefore(OrderingFacts& a, OrderingFacts& b);
// A comes before B when its SortFolder is smaller ignoring case.
bool FolderBefore(OrderingFacts& a, OrderingFacts& b);
// By SortAlbum, then SortArtist, then the first 4 characters of SortFilename; an empty text
// after a non-empty one, otherwise ignoring case.
bool MetadataBefore(OrderingFacts& a, OrderingFacts& b);

// The match-quality ordering, best first: the first of thirteen rules that separates A and B
// decides. Facts is OrderingFacts, or any type with the same readers.
template <class Facts>
bool MatchQualityBefore(Facts& a, Facts& b) {
  if (!a.HasRecord()) return false;
  if (!b.HasRecord()) return true;
  const auto identifier = [](int32_t t) { return t == 1 || t == 2; };
  const auto waveform = [](int32_t t) { return t >= 4 && t <= 6; };
  // Either side: decided when exactly one side has the property, or by score when both do.
  enum Verdict { kA, kB, kNext };
  const auto by = [](bool pa, bool pb) { return pa == pb ? kNext : (pa ? kA : kB); };

  const int32_t ta = a.MatchType(), tb = b.MatchType();
  if (identifier(ta)) return true;  // 1: tag and iTunes identifier matches
  if (identifier(tb)) return false;
  if (ta == 14) return false;  // 2: no match last
  if (tb == 14) return true;
  if (Verdict v = by(tb == 12, ta == 12); v != kNext) return v == kA;  // 3: album-level text
  if (Verdict v = by(waveform(ta), waveform(tb)); v != kNext) return v == kA;  // 4

  const int32_t sa = a.Score(), sb = b.Score();
  const bool ha = a.HighConfidence(), hb = b.HighConfidence();  // 5
  if (Verdict v = by(ha, hb); v != kNext) return v == kA;
  if (ha && sa != sb) return sa > sb;
  const bool ga = !a.VariousArtists() && sa >= 60, gb = !b.VariousArtists() && sb >= 60;  // 6
  if (Verdict v = by(ga, gb); v != kNext) return v == kA;
  if (ga && sa != sb) return sa > sb;
  const bool fa = sa >= 55, fb = sb >= 55;  // 7
  if (Verdict v = by(fa, fb); v != kNext) return v == kA;
  if (fa && sa != sb) return sa > sb;

  if (!a.HasDisc()) return false;  // 8
  if (!b.HasDisc()) return true;
  if (Verdict v = by(!a.VariousArtists(), !b.VariousArtists()); v != kNext) return v == kA;  // 9
  const int32_t ca = a.CertifiedLevel(), cb = b.CertifiedLevel();  // 10: higher first
  if (ca != cb) return ca > cb;
  const int32_t ra = a.ReleaseRank(), rb = b.ReleaseRank();  // 11: non-zero, then smaller
  if (Verdict v = by(ra != 0, rb != 0); v != kNext) return v == kA;
  if (ra != rb && ra != 0) return ra < rb;
  const int32_t ea = a.ElementRank(), eb = b.ElementRank();  // 12
  if (ea != eb) return ea > eb;
  return sa > sb;  // 13
}

namespace ordering_detail {

// Merges the sorted runs [lo, mid) and [mid, hi) of items, moving the shorter run into buffer
// (which holds at least half the items), so that equal items keep their order.
template <class T, class Less>
void MergeRuns(std::vector<T>& items, size_t lo, size_t mid, size_t hi, std::vector<T>& buffer,
               Less& less) {
  const size_t left = mid - lo, right = hi - mid;
  if (left <= right) {
    std::move(items.begin() + lo, items.begin() + mid, buffer.begin());
    size_t i = 0, j = mid, k = lo;
    while (i < left && j < hi) {
      items[k++] = less(items[j], buffer[i]) ? std::move(items[j++]) : std::move(buffer[i++]);
    }
    while (i < left) items[k++] = std::move(buffer[i++]);
  } else {
    std::move(items.begin() + mid, items.begin() + hi, buffer.begin());
    size_t i = mid, j = right, k = hi;
    while (i > lo && j > 0) {
      items[--k] =
          less(buffer[j - 1], items[i - 1]) ? std::move(items[--i]) : std::move(buffer[--j]);
    }
    while (j > 0) items[--k] = std::move(buffer[--j]);
  }
}

}  // namespace ordering_detail

// Stable sort: runs of 32 items sorted by insertion, then merged pairwise with a buffer of half
// the items. less(a, b) is "a comes before b"; items neither of which comes before the other
// keep their relative order.
template <class T, class Less>
void StableMergeSort(std::vector<T>& items, Less less) {
  constexpr size_t kRun = 32;
  const size_t n = items.size();
  for (size_t lo = 0; lo < n; lo += kRun) {
    const size_t hi = std::min(lo + kRun, n);
    for (size_t i = lo + 1; i < hi; ++i) {
      T value = std::move(items[i]);
      size_t j = i;
      for (; j > lo && less(value, items[j - 1]); --j) items[j] = std::move(items[j - 1]);
      items[j] = std::move(value);
    }
  }
  if (n <= kRun) return;
  std::vector<T> buffer((n + 1) / 2);
  for (size_t width = kRun; width < n; width *= 2) {
    for (size_t lo = 0; lo + width < n; lo += 2 * width) {
      const size_t mid = lo + width, hi = std::min(lo + 2 * width, n);
      // Runs already in order need no merge.
      if (less(items[mid], items[mid - 1])) {
        ordering_detail::MergeRuns(items, lo, mid, hi, buffer, less);
      }
    }
  }
}

}  // namespace pelk
