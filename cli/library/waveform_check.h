// How close a file's fingerprint lies to the catalogue track it was matched with: the sum of
// absolute differences against the track's nearest stored signature, set beside the distance
// under which the catalogue accepts a waveform match, and whether the catalogue sees that track
// as the one clear winner (no other track near). This is what a person can read for a waveform
// match of a file without tags, where the record's text score means nothing.
//
// The check reads the catalogue through a store of its own (the control's lookup engine keeps a
// current answer that a host must not disturb during a run). Thread safety: the store takes its
// own lock; Check may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "catalog/catalog_store.h"
#include "catalog/matching.h"

namespace pelk::cli {

struct WaveformCloseness {
  int64_t distance = 0;       // to the matched track's nearest signature
  int64_t max_distance = 0;   // the catalogue's acceptance threshold
  bool clear_winner = false;  // the catalogue's one clear answer is that very track
};

class WaveformCheck {
 public:
  // Null when the catalogue cannot be opened (the check is then left out).
  static std::unique_ptr<WaveformCheck> Open(const std::string& catalog_path);

  // The closeness of signature (the FINGERPRINT signature text) to the track of the disc with
  // that identifier; nullopt when the signature is unreadable or the track is not within the
  // threshold.
  std::optional<WaveformCloseness> Check(const std::string& signature,
                                         const std::string& disc_identifier, int32_t track);

 private:
  explicit WaveformCheck(std::unique_ptr<catalog::CatalogStore> store) : store_(std::move(store)) {}
  std::unique_ptr<catalog::CatalogStore> store_;
  catalog::WaveformThresholds thresholds_;
};

}  // namespace pelk::cli
