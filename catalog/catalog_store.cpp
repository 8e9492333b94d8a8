#include "catalog/catalog_store.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <unordered_set>

#include "catalog/postgres_catalog_store.h"
#include "catalog/signature_index.h"
#include "catalog/sqlite_catalog_store.h"

namespace pelk::catalog {

std::optional<Signature> ParseSignature(std::string_view text) {
  Signature s{};
  size_t count = 0;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    while (p < end && *p == ' ') ++p;
    if (p == end) break;
    if (count == kSignatureValues) return std::nullopt;
    int value = 0;
    auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || value < -32768 || value > 32767 || (next < end && *next != ' ')) {
      return std::nullopt;
    }
    s[count++] = static_cast<int16_t>(value);
    p = next;
  }
  if (count != kSignatureValues) return std::nullopt;
  return s;
}

std::string FormatSignature(const Signature& signature) {
  std::string text;
  for (size_t i = 0; i < kSignatureValues; ++i) {
    if (i) text += ' ';
    text += std::to_string(signature[i]);
  }
  return text;
}

const TrackRecord* DiscRecord::Track(int32_t number) const {
  for (const TrackRecord& t : tracks) {
    if (t.number == number) return &t;
  }
  return nullptr;
}

int32_t DiscRecord::HighestTrack() const {
  int32_t highest = 0;
  for (const TrackRecord& t : tracks) highest = std::max(highest, t.number);
  return highest;
}

int32_t DiscRecord::SoundTrackCount() const {
  return std::max({track_count, HighestTrack(), static_cast<int32_t>(tracks.size())});
}

// "Artist - Album, disc 2 of 3 (D-...)": a disc named in words for messages.
std::string DiscInWords(std::string_view identifier, std::string_view artist,
                        std::string_view album, int64_t number, int64_t count) {
  std::string words = std::string(artist) + " - " + std::string(album);
  if (number > 0) {
    words += ", disc " + std::to_string(number);
    if (count > 0) words += " of " + std::to_string(count);
  }
  return words + " (" + std::string(identifier) + ")";
}

std::string CatalogStore::DefaultLocation() {
  if (const char* explicit_location = std::getenv("PELK_CATALOG");
      explicit_location && *explicit_location) {
    return explicit_location;
  }
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
    return (std::filesystem::path(data) / "pelk" / "catalog.db").string();
  }
  const char* home = std::getenv("HOME");
  return (std::filesystem::path(home && *home ? home : ".") / ".local" / "share" / "pelk" /
          "catalog.db")
      .string();
}

bool CatalogStore::IsServerLocation(std::string_view location) {
  return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::unique_ptr<CatalogStore> CatalogStore::Open(const std::string& location, OpenMode mode,
                                                 std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (IsServerLocation(location)) return OpenPostgresCatalog(location, mode, error);
  return SqliteCatalogStore::Open(location, mode, error);
}

CatalogStore::CatalogStore(std::string location) : location_(std::move(location)) {}

CatalogStore::~CatalogStore() = default;

void CatalogStore::LoadSignatures() {
  signature_owners_.clear();
  std::vector<Signature> signatures;
  std::vector<uint32_t> owners;
  ReadAllRungs([&](int64_t disc_id, int32_t track, const Signature& signature) {
    if (signature_owners_.empty() || signature_owners_.back() != std::make_pair(disc_id, track)) {
      signature_owners_.emplace_back(disc_id, track);
    }
    signatures.push_back(signature);
    owners.push_back(static_cast<uint32_t>(signature_owners_.size() - 1));
  });
  signature_index_ =
      std::make_unique<SignatureIndex>(index_options_ ? *index_options_ : SignatureIndexOptions{});
  signature_index_->Build(signatures, owners);
  signatures_loaded_ = true;
}

void CatalogStore::ReadyIndex() {
  if (signatures_loaded_) CatchUpRungs();  // which may drop the index
  if (!signatures_loaded_) LoadSignatures();
}

void CatalogStore::RemoveIndexedDiscs(const std::vector<int64_t>& disc_ids) {
  if (disc_ids.empty()) return;
  const std::unordered_set<int64_t> gone(disc_ids.begin(), disc_ids.end());
  for (size_t owner = 0; owner < signature_owners_.size(); ++owner) {
    if (gone.count(signature_owners_[owner].first)) {
      signature_index_->RemoveOwner(static_cast<uint32_t>(owner));
    }
  }
}

void CatalogStore::IndexTrack(int64_t disc_id, const TrackRecord& track) {
  if (!track.signature) return;
  const auto owner = static_cast<uint32_t>(signature_owners_.size());
  signature_owners_.emplace_back(disc_id, track.number);
  signature_index_->Add(*track.signature, owner);
  for (const Signature& rung : track.ladder) signature_index_->Add(rung, owner);
}

void CatalogStore::SetSignatureIndexOptions(const SignatureIndexOptions& options) {
  std::lock_guard lock(mutex_);
  index_options_ = std::make_unique<SignatureIndexOptions>(options);
  signatures_loaded_ = false;
}

std::vector<TrackHit> CatalogStore::RankedHits(
    const std::vector<std::pair<uint32_t, int64_t>>& near, size_t limit) const {
  std::vector<TrackHit> hits;
  hits.reserve(near.size());
  for (const auto& [owner, d] : near) {
    hits.push_back(TrackHit{signature_owners_[owner].first, signature_owners_[owner].second, d});
  }
  std::sort(hits.begin(), hits.end(), [](const TrackHit& a, const TrackHit& b) {
    if (a.distance != b.distance) return a.distance < b.distance;
    return a.disc_id != b.disc_id ? a.disc_id < b.disc_id : a.track < b.track;
  });
  if (hits.size() > limit) hits.resize(limit);
  return hits;
}

std::vector<TrackHit> CatalogStore::NearestSignatures(const Signature& signature,
                                                      int64_t max_distance, size_t limit) {
  std::lock_guard lock(mutex_);
  ReadyIndex();
  return RankedHits(signature_index_->Within(signature, max_distance), limit);
}

std::vector<TrackHit> CatalogStore::NearestSignaturesByScan(const Signature& signature,
                                                            int64_t max_distance, size_t limit) {
  std::lock_guard lock(mutex_);
  ReadyIndex();
  return RankedHits(signature_index_->ScanWithin(signature, max_distance), limit);
}

}  // namespace pelk::catalog
