#include "cli/library/waveform_check.h"

namespace pelk::cli {

std::unique_ptr<WaveformCheck> WaveformCheck::Open(const std::string& catalog_path) {
  const std::string location =
      catalog_path.empty() ? catalog::CatalogStore::DefaultLocation() : catalog_path;
  std::string error;
  std::unique_ptr<catalog::CatalogStore> store =
      catalog::CatalogStore::Open(location, catalog::CatalogStore::OpenMode::kExisting, &error);
  if (!store) return nullptr;
  return std::unique_ptr<WaveformCheck>(new WaveformCheck(std::move(store)));
}

std::optional<WaveformCloseness> WaveformCheck::Check(const std::string& signature,
                                                      const std::string& disc_identifier,
                                                      int32_t track) {
  const std::optional<catalog::Signature> parsed = catalog::ParseSignature(signature);
  if (!parsed) return std::nullopt;
  const catalog::DiscPtr disc = store_->DiscByIdentifier(disc_identifier);
  if (!disc) return std::nullopt;
  std::optional<WaveformCloseness> closeness;
  // Every signature of the ladders within the threshold; the matched track's nearest counts.
  for (const catalog::TrackHit& hit :
       store_->NearestSignatures(*parsed, thresholds_.max_distance, 64)) {
    if (hit.disc_id == disc->id && hit.track == track) {
      closeness = WaveformCloseness{hit.distance, thresholds_.max_distance, false};
      break;
    }
  }
  if (!closeness) return std::nullopt;
  const catalog::MatchAnswer answer = catalog::MatchWaveform(*store_, *parsed, thresholds_);
  closeness->clear_winner = answer.kind == 3 && !answer.matches.empty() &&
                            answer.matches[0].disc_id == disc->id &&
                            answer.matches[0].track == track;
  return closeness;
}

}  // namespace pelk::cli
