// Catalogue signatures drawn like real ones, for the waveform benchmarks: the engine's ladders of
// synthesized music (rung 0, the audio quieter, later starts), each catalogue track one item's
// ladder moved by its own offset (zero-sum in each half, as real signatures keep their sums).
// Copies are the engine's signatures of real copies of an item (quieter, trimmed, with leading
// silence, under noise), moved by the same track's offset; tracks not in the catalogue come from
// items held out.
#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "bench/study_audio.h"
#include "catalog/catalog_store.h"

namespace pelk::bench {

using catalog::Signature;

struct StudyItem {
  std::vector<Signature> ladder;  // rung 0 first, distinct rungs
  std::vector<Signature> copies;  // signatures of copies
};

inline study::Pcm Quieter(study::Pcm pcm, double db) {
  const double gain = std::pow(10.0, db / 20);
  for (int16_t& v : pcm.samples) v = study::Clamp(v * gain);
  return pcm;
}

inline study::Pcm Trimmed(const study::Pcm& pcm, double seconds) {
  study::Pcm out = pcm;
  const size_t drop = static_cast<size_t>(seconds * pcm.rate) * pcm.channels;
  out.samples.erase(out.samples.begin(), out.samples.begin() + static_cast<ptrdiff_t>(std::min(
                                                                   drop, pcm.samples.size())));
  return out;
}

inline study::Pcm WithLeadIn(const study::Pcm& pcm, double seconds) {
  study::Pcm out = pcm;
  out.samples.insert(out.samples.begin(), static_cast<size_t>(seconds * pcm.rate) * pcm.channels,
                     0);
  return out;
}

inline study::Pcm Noisy(study::Pcm pcm, double dbfs, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0, 32768 * std::pow(10.0, dbfs / 20));
  for (int16_t& v : pcm.samples) v = study::Clamp(v + noise(rng));
  return pcm;
}

inline StudyItem MakeStudyItem(uint32_t seed) {
  const study::Pcm pcm = study::MakeMusic(seed);
  StudyItem item;
  const auto keep = [&](const std::optional<Signature>& s) {
    if (!s) return;
    for (const Signature& k : item.ladder)
      if (k == *s) return;
    item.ladder.push_back(*s);
  };
  keep(study::Fingerprint(pcm));
  if (item.ladder.empty()) return item;
  for (double db : {-10.0, -20.0, -30.0}) keep(study::Fingerprint(Quieter(pcm, db)));
  for (double s : {0.5, 1.0, 2.0, 3.0, 4.0}) keep(study::Fingerprint(Trimmed(pcm, s)));
  for (const auto& copy : {Quieter(pcm, -6), Trimmed(pcm, 1.0), WithLeadIn(pcm, 2.0),
                           Noisy(pcm, -30, seed), Trimmed(Quieter(pcm, -8), 0.5)}) {
    if (auto s = study::Fingerprint(copy)) item.copies.push_back(*s);
  }
  return item;
}

// A zero-sum offset in each half of a signature, normal with the given spread per value.
inline std::array<int32_t, catalog::kSignatureValues> Offset(std::mt19937& rng, double spread) {
  std::normal_distribution<double> normal(0, spread);
  std::array<int32_t, catalog::kSignatureValues> offset{};
  for (size_t half = 0; half < 2; ++half) {
    int32_t sum = 0;
    for (size_t i = 0; i < 15; ++i)
      sum += offset[half * 15 + i] = static_cast<int32_t>(normal(rng));
    offset[half * 15 + static_cast<size_t>(rng() % 15)] -= sum;
  }
  return offset;
}

inline Signature Moved(const Signature& s,
                       const std::array<int32_t, catalog::kSignatureValues>& d) {
  Signature out{};
  for (size_t i = 0; i < catalog::kSignatureValues; ++i) {
    out[i] = static_cast<int16_t>(std::clamp(int32_t{s[i]} + d[i], 0, 32767));
  }
  return out;
}

// The items the catalogue benchmarks draw from; the last kHeldOutItems are never catalogued.
constexpr size_t kStudyItems = 120, kHeldOutItems = 20;
// Per-value spread of a catalogue track's offset from its item.
constexpr double kTrackSpread = 450;

namespace internal {

inline void WriteItems(const std::filesystem::path& path, const std::vector<StudyItem>& items) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  for (const StudyItem& item : items) {
    for (const auto* list : {&item.ladder, &item.copies}) {
      const uint32_t n = static_cast<uint32_t>(list->size());
      std::fwrite(&n, sizeof n, 1, f);
      std::fwrite(list->data(), sizeof(Signature), n, f);
    }
  }
  std::fclose(f);
}

inline std::vector<StudyItem> ReadItems(const std::filesystem::path& path) {
  std::vector<StudyItem> items;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return items;
  for (;;) {
    StudyItem item;
    bool whole = true;
    for (auto* list : {&item.ladder, &item.copies}) {
      uint32_t n = 0;
      if (std::fread(&n, sizeof n, 1, f) != 1 || n > 64) {
        whole = false;
        break;
      }
      list->resize(n);
      if (std::fread(list->data(), sizeof(Signature), n, f) != n) whole = false;
    }
    if (!whole) break;
    items.push_back(std::move(item));
  }
  std::fclose(f);
  return items;
}

}  // namespace internal

// kStudyItems items with a ladder each. They take minutes to fingerprint, so they are kept
// between runs in the temporary folder.
inline std::vector<StudyItem> StudyItems() {
  const auto cache = std::filesystem::temp_directory_path() / "pelk-waveform-index-items.bin";
  std::vector<StudyItem> items = internal::ReadItems(cache);
  if (items.size() == kStudyItems) return items;
  items.clear();
  for (uint32_t seed = 1; items.size() < kStudyItems; ++seed) {
    StudyItem item = MakeStudyItem(seed);
    if (!item.ladder.empty()) items.push_back(std::move(item));
  }
  internal::WriteItems(cache, items);
  return items;
}

// Catalogue tracks drawn like real ones: each one catalogued item's ladder moved by the track's
// own offset; lookups are copies of the item moved the same way, or items never catalogued.
class SignatureDraw {
 public:
  using Offset = std::array<int32_t, catalog::kSignatureValues>;
  struct Track {
    uint32_t item = 0;
    Offset offset{};
    std::vector<Signature> rungs;  // rung 0 first
  };

  SignatureDraw() : items_(StudyItems()) {}

  Track Next(std::mt19937& rng) const {
    Track t;
    t.item = static_cast<uint32_t>(rng() % (items_.size() - kHeldOutItems));
    t.offset = pelk::bench::Offset(rng, kTrackSpread);
    for (const Signature& rung : items_[t.item].ladder) t.rungs.push_back(Moved(rung, t.offset));
    return t;
  }
  // What a lookup of a copy of the track computes (rung 0 when its item has no copies).
  Signature Copy(uint32_t item, const Offset& offset, std::mt19937& rng) const {
    const StudyItem& it = items_[item];
    return Moved(it.copies.empty() ? it.ladder[0] : it.copies[rng() % it.copies.size()], offset);
  }
  // A copy of a recording the catalogue does not hold.
  Signature Stranger(std::mt19937& rng) const {
    const uint32_t item =
        static_cast<uint32_t>(items_.size() - kHeldOutItems + rng() % kHeldOutItems);
    return Copy(item, pelk::bench::Offset(rng, kTrackSpread), rng);
  }
  const std::vector<StudyItem>& items() const { return items_; }

 private:
  std::vector<StudyItem> items_;
};

}  // namespace pelk::bench
