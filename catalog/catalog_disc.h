// The catalogue's disc objects: a disc (answering DiscInfo, LegacyDisc and the data view), its
// tracks, its release facts and disc collections.
//
// A disc object holds a snapshot of one catalogue disc, which of its tracks is current, and
// whether it carries every track (a full disc) or only the current one (as lookups answer).
#pragma once

#include <memory>

#include "catalog/catalog_session.h"
#include "control/lookup_control.h"
#include "runtime/object.h"

namespace pelk::catalog {

class CatalogDisc final : public Object<CatalogDisc, Dual<ILegacyDisc>, Dual<IDiscData>> {
 public:
  static constexpr IID kImplIid = MakeGuid("9A3FF0F5-23AF-4CBA-8DF7-15278AB897F2");
  CatalogDisc(std::shared_ptr<CatalogSession> session, DiscPtr disc, int32_t track, bool full);

  HRESULT get_AlbumTitle(BSTR* title) override;
  HRESULT get_Artist(BSTR* artist) override;
  HRESULT get_TrackCount(int32_t* count) override;
  HRESULT GetTrackTitle(int32_t track, BSTR* title) override;
  HRESULT GetTrack(int32_t track, ITrackInfo** info) override;
  HRESULT get_CurrentTrack(int32_t* track) override;
  HRESULT put_CurrentTrack(int32_t track) override;
  HRESULT GetNamedText(BSTR name, BSTR* value) override;
  HRESULT get_Identifier(BSTR* identifier) override;
  HRESULT get_ReleaseRank(BSTR* rank) override;
  HRESULT get_Release(IReleaseInfo** release) override;
  HRESULT get_IsCompilation(int32_t* flag) override;
  HRESULT Copy(IDiscInfo** copy) override;
  // Refreshes the snapshot from the catalogue.
  HRESULT RetrieveData(int32_t options) override;

  DiscPtr Record() const;
  int32_t Current() const;
  bool Full() const;

 private:
  // The tracks this object carries: all of them when full, else only the current one.
  bool Carries(int32_t track) const;

  // Weak: the session keeps the last answer, which may be this disc.
  std::weak_ptr<CatalogSession> session_;
  mutable std::mutex mutex_;
  DiscPtr disc_;
  int32_t track_;
  bool full_;
};

class CatalogDiscList final : public Object<CatalogDiscList, Dual<IDiscList>> {
 public:
  explicit CatalogDiscList(std::vector<ComPtr<IDiscInfo>> discs) : discs_(std::move(discs)) {}
  HRESULT get_Count(int32_t* count) override;
  HRESULT get_Item(int32_t index, IDiscInfo** disc) override;

 private:
  std::vector<ComPtr<IDiscInfo>> discs_;
};

ComPtr<IDiscInfo> MakeCatalogDisc(std::shared_ptr<CatalogSession> session, DiscPtr disc,
                                  int32_t track, bool full);

}  // namespace pelk::catalog
