#include "catalog/catalog_disc.h"

#include "runtime/bstr.h"
#include "runtime/utf.h"

namespace pelk::catalog {
namespace {

HRESULT OutText(std::string_view utf8, BSTR* out) {
  if (!out) return E_POINTER;
  *out = AllocBstrUtf8(utf8);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT OutNumber(int32_t value, int32_t* out) {
  if (!out) return E_POINTER;
  *out = value;
  return S_OK;
}

class CatalogTrack final : public Object<CatalogTrack, Dual<ITrackInfo>> {
 public:
  CatalogTrack(DiscPtr disc, const TrackRecord* track) : disc_(std::move(disc)), track_(track) {}
  HRESULT get_Artist(BSTR* out) override { return OutText(disc_->TrackArtist(*track_), out); }
  HRESULT get_Title(BSTR* out) override { return OutText(track_->title, out); }
  HRESULT get_Number(int32_t* out) override { return OutNumber(track_->number, out); }
  HRESULT get_Length(int32_t* out) override { return OutNumber(track_->length_ms, out); }
  HRESULT get_Identifier(BSTR* out) override { return OutText(track_->identifier, out); }

 private:
  DiscPtr disc_;                // keeps track_ alive
  const TrackRecord* track_;
};

class CatalogRelease final : public Object<CatalogRelease, Dual<IReleaseInfo>> {
 public:
  explicit CatalogRelease(int32_t year) : year_(year) {}
  HRESULT get_Year(int32_t* out) override { return OutNumber(year_, out); }

 private:
  int32_t year_;
};

}  // namespace

CatalogDisc::CatalogDisc(std::shared_ptr<CatalogSession> session, DiscPtr disc, int32_t track,
                         bool full)
    : session_(std::move(session)), disc_(std::move(disc)), track_(track), full_(full) {}

DiscPtr CatalogDisc::Record() const {
  std::lock_guard lock(mutex_);
  return disc_;
}

int32_t CatalogDisc::Current() const {
  std::lock_guard lock(mutex_);
  return track_;
}

bool CatalogDisc::Full() const {
  std::lock_guard lock(mutex_);
  return full_;
}

bool CatalogDisc::Carries(int32_t track) const {
  if (!disc_->Track(track)) return false;
  return full_ || track == track_;
}

HRESULT CatalogDisc::get_AlbumTitle(BSTR* out) { return OutText(Record()->album, out); }

HRESULT CatalogDisc::get_Artist(BSTR* out) { return OutText(Record()->artist, out); }

HRESULT CatalogDisc::get_TrackCount(int32_t* out) {
  std::lock_guard lock(mutex_);
  // The album's count, which covers every track number the disc holds (numbers may have gaps).
  return OutNumber(full_ ? disc_->SoundTrackCount() : 1, out);
}

HRESULT CatalogDisc::GetTrackTitle(int32_t track, BSTR* out) {
  if (!out) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (!Carries(track)) return E_INVALIDARG;
  return OutText(disc_->Track(track)->title, out);
}

HRESULT CatalogDisc::GetTrack(int32_t track, ITrackInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::lock_guard lock(mutex_);
  if (!Carries(track)) return E_INVALIDARG;
  return MakeObject<CatalogTrack>(disc_, disc_->Track(track))
      ->QueryInterface(ITrackInfo::kIid, reinterpret_cast<void**>(out));
}

HRESULT CatalogDisc::get_CurrentTrack(int32_t* out) { return OutNumber(Current(), out); }

HRESULT CatalogDisc::put_CurrentTrack(int32_t track) {
  std::lock_guard lock(mutex_);
  // 0 clears the selection; otherwise the disc must hold the track (a partial disc only
  // answers for the track it carries, so selecting another one needs the full disc).
  if (track != 0 && !Carries(track)) return E_INVALIDARG;
  track_ = track;
  return S_OK;
}

HRESULT CatalogDisc::GetNamedText(BSTR name, BSTR* out) {
  const std::u16string_view key = BstrView(name);
  const DiscPtr disc = Record();
  if (key == u"track_count") return OutText(std::to_string(disc->track_count), out);
  if (key == u"certified_level") return OutText(std::to_string(disc->certified_level), out);
  if (key == u"genre") return OutText(disc->genre, out);
  if (key == u"year") return OutText(disc->year ? std::to_string(disc->year) : "", out);
  return OutText("", out);
}

HRESULT CatalogDisc::get_Identifier(BSTR* out) { return OutText(Record()->identifier, out); }

HRESULT CatalogDisc::get_ReleaseRank(BSTR* out) {
  const int32_t rank = Record()->release_rank;
  return OutText(rank ? std::to_string(rank) : "", out);
}

HRESULT CatalogDisc::get_Release(IReleaseInfo** out) {
  if (!out) return E_POINTER;
  return MakeObject<CatalogRelease>(Record()->year)
      ->QueryInterface(IReleaseInfo::kIid, reinterpret_cast<void**>(out));
}

HRESULT CatalogDisc::get_IsCompilation(int32_t* out) {
  return OutNumber(Record()->compilation ? 1 : 0, out);
}

HRESULT CatalogDisc::Copy(IDiscInfo** out) {
  if (!out) return E_POINTER;
  std::lock_guard lock(mutex_);
  *out = MakeCatalogDisc(session_.lock(), disc_, track_, full_).Detach();
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CatalogDisc::RetrieveData(int32_t) {
  const std::shared_ptr<CatalogSession> session = session_.lock();
  CatalogStore* store = session ? session->Store() : nullptr;
  if (!store) return E_FAIL;
  DiscPtr fresh = store->DiscById(Record()->id);
  if (!fresh) return E_FAIL;  // the disc left the catalogue
  std::lock_guard lock(mutex_);
  disc_ = std::move(fresh);
  if (track_ != 0 && !disc_->Track(track_)) track_ = 0;
  return S_OK;
}

HRESULT CatalogDiscList::get_Count(int32_t* out) {
  return OutNumber(static_cast<int32_t>(discs_.size()), out);
}

HRESULT CatalogDiscList::get_Item(int32_t index, IDiscInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index < 1 || index > static_cast<int32_t>(discs_.size())) return E_INVALIDARG;
  discs_[static_cast<size_t>(index - 1)].CopyTo(out);
  return S_OK;
}

ComPtr<IDiscInfo> MakeCatalogDisc(std::shared_ptr<CatalogSession> session, DiscPtr disc,
                                  int32_t track, bool full) {
  if (!disc) return nullptr;
  return MakeObject<CatalogDisc>(std::move(session), std::move(disc), track, full)
      .As<IDiscInfo>();
}

}  // namespace pelk::catalog
