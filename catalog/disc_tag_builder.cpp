#include "catalog/disc_tag_builder.h"

#include "catalog/catalog_disc.h"
#include "catalog/file_tag.h"
#include "runtime/bstr.h"

namespace pelk::catalog {
namespace {

class CatalogDiscTagBuilder final : public Object<CatalogDiscTagBuilder, Dual<IDiscTagBuilder>> {
 public:
  // Album, artist (the track's own on compilations), title, track identifier, track number,
  // genre, year and the disc number ("2/3", when the catalogue knows it) come from the disc;
  // "TLEN" carries the track length when it is known.
  HRESULT BuildTag(IDiscInfo* disc, int32_t track, IFileTag** tag) override {
    if (!tag) return E_POINTER;
    *tag = nullptr;
    ComPtr<CatalogDisc> impl = ImplOf<CatalogDisc>(disc);
    if (!impl) return E_INVALIDARG;
    const DiscPtr record = impl->Record();
    const TrackRecord* t = record->Track(track);
    if (!t) return E_INVALIDARG;
    ComPtr<IFileTag> built;
    HRESULT hr = CreateCatalogFileTag(false, IFileTag::kIid, built.OutVoid());
    if (FAILED(hr)) return hr;
    auto put = [&](HRESULT (IFileTag::*setter)(BSTR), const std::string& value) {
      if (SUCCEEDED(hr) && !value.empty()) hr = (built.Get()->*setter)(Bstr::FromUtf8(value).Get());
    };
    put(&IFileTag::put_AlbumTitle, record->album);
    put(&IFileTag::put_Artist, record->TrackArtist(*t));
    put(&IFileTag::put_Title, t->title);
    put(&IFileTag::put_Identifier, t->identifier);
    put(&IFileTag::put_TrackNumber, std::to_string(track));
    put(&IFileTag::put_Genre, record->genre);
    put(&IFileTag::put_Year, record->year ? std::to_string(record->year) : std::string());
    if (record->disc_number > 0) {
      put(&IFileTag::put_DiscNumber,
          std::to_string(record->disc_number) +
              (record->disc_count > 0 ? "/" + std::to_string(record->disc_count) : std::string()));
    }
    if (record->artist != record->TrackArtist(*t)) put(&IFileTag::put_AlbumArtist, record->artist);
    if (SUCCEEDED(hr) && t->length_ms > 0) {
      hr = built->PutField(Bstr(u"TLEN").Get(), Bstr::FromUtf8(std::to_string(t->length_ms)).Get());
    }
    if (FAILED(hr)) return hr;
    *tag = built.Detach();
    return S_OK;
  }
};

}  // namespace

HRESULT CreateCatalogDiscTagBuilder(REFIID iid, void** object) {
  return CatalogDiscTagBuilder::CreateInstance(nullptr, iid, object);
}

}  // namespace pelk::catalog
