#include "control/tag_utils.h"

#include "control/control_objects.h"
#include "pelk/manager_interfaces.h"
#include "runtime/bstr.h"
#include "runtime/com_ptr.h"
#include "runtime/decimal.h"

namespace pelk {
namespace {

using TagGetter = HRESULT (IFileTag::*)(BSTR*);
using TagPutter = HRESULT (IFileTag::*)(BSTR);
using ExtGetter = HRESULT (IFileTagExtended::*)(BSTR*);
using ExtPutter = HRESULT (IFileTagExtended::*)(BSTR);

// The tag's own property order.
constexpr std::pair<TagGetter, TagPutter> kTagTexts[] = {
    {&IFileTag::get_AlbumTitle, &IFileTag::put_AlbumTitle},
    {&IFileTag::get_Artist, &IFileTag::put_Artist},
    {&IFileTag::get_Title, &IFileTag::put_Title},
    {&IFileTag::get_Identifier, &IFileTag::put_Identifier},
    {&IFileTag::get_TrackNumber, &IFileTag::put_TrackNumber},
    {&IFileTag::get_Genre, &IFileTag::put_Genre},
    {&IFileTag::get_Year, &IFileTag::put_Year},
    {&IFileTag::get_Comment, &IFileTag::put_Comment},
    {&IFileTag::get_Composer, &IFileTag::put_Composer},
    {&IFileTag::get_AlbumArtist, &IFileTag::put_AlbumArtist},
    {&IFileTag::get_DiscNumber, &IFileTag::put_DiscNumber},
    {&IFileTag::get_Lyricist, &IFileTag::put_Lyricist},
    {&IFileTag::get_Publisher, &IFileTag::put_Publisher},
};

constexpr std::pair<ExtGetter, ExtPutter> kExtendedTexts[] = {
    {&IFileTagExtended::get_Conductor, &IFileTagExtended::put_Conductor},
    {&IFileTagExtended::get_Copyright, &IFileTagExtended::put_Copyright},
    {&IFileTagExtended::get_EncodedBy, &IFileTagExtended::put_EncodedBy},
    {&IFileTagExtended::get_Isrc, &IFileTagExtended::put_Isrc},
    {&IFileTagExtended::get_Mood, &IFileTagExtended::put_Mood},
    {&IFileTagExtended::get_Bpm, &IFileTagExtended::put_Bpm},
    {&IFileTagExtended::get_SortArtist, &IFileTagExtended::put_SortArtist},
    {&IFileTagExtended::get_SortAlbum, &IFileTagExtended::put_SortAlbum},
    {&IFileTagExtended::get_SortTitle, &IFileTagExtended::put_SortTitle},
};

template <class I, class Pairs>
void CopyTexts(I* destination, I* source, const Pairs& pairs) {
  for (const auto& [get, put] : pairs) {
    Bstr value;
    if (SUCCEEDED((source->*get)(value.Out())) && !value.Empty()) (destination->*put)(value.Get());
  }
}

}  // namespace

HRESULT TagFromDisc(std::u16string_view file_name, IDiscInfo* disc, int32_t track,
                    IFileTag** tag) {
  if (!disc || track == 0 || !tag) return E_INVALIDARG;
  *tag = nullptr;
  ComPtr<IDiscTagBuilder> builder;
  HRESULT hr = CreateControlObject(CLSID_PelkDiscTagBuilder, builder.Out());
  if (FAILED(hr)) return hr;
  ComPtr<IFileTag> built;
  hr = builder->BuildTag(disc, track, built.Out());
  if (FAILED(hr)) return hr;
  if (!built) return E_FAIL;
  if (HasExtension(file_name, u".wma") || HasExtension(file_name, u".asf")) {
    ComPtr<IMediaFileTag> media;
    hr = CreateControlObject(CLSID_PelkMediaFileTag, media.Out());
    if (FAILED(hr)) return hr;
    Bstr name(file_name);
    hr = media->AttachToFile(name.Get(), 0);
    if (FAILED(hr)) return hr;
    hr = CopyTagFields(media.Get(), built.Get());
    if (FAILED(hr)) return hr;
    *tag = media.Detach();
    return S_OK;
  }
  *tag = built.Detach();
  return S_OK;
}

HRESULT CopyTagFields(IFileTag* destination, IFileTag* source) {
  if (!destination || !source) return E_INVALIDARG;
  CopyTexts(destination, source, kTagTexts);
  ComPtr<IFileTagExtended> to = ComPtr<IFileTag>(destination).As<IFileTagExtended>();
  ComPtr<IFileTagExtended> from = ComPtr<IFileTag>(source).As<IFileTagExtended>();
  if (to && from) CopyTexts(to.Get(), from.Get(), kExtendedTexts);
  return S_OK;
}

HRESULT ParseITunesIds(std::u16string_view file_name, IFileTag* tag, std::u16string* first_out,
                       size_t first_size, std::u16string* second_out, size_t second_size,
                       int32_t* track) {
  if (!tag || !track || file_name.empty() || !first_out || !second_out) return E_INVALIDARG;
  Bstr track_text;
  HRESULT hr = tag->get_TrackNumber(track_text.Out());
  if (FAILED(hr)) return hr;

  Bstr field_name(u"iTunes_PELK_IDs");
  Bstr value;
  if (HasExtension(file_name, u".mp3")) {
    ComPtr<IMp3Fields> mp3 = ComPtr<IFileTag>(tag).As<IMp3Fields>();
    if (!mp3) return PELKSonquix_PELKControlVersion;
    hr = mp3->GetMp3Field(field_name.Get(), value.Out());
  } else {
    hr = tag->GetField(field_name.Get(), value.Out());
  }
  if (FAILED(hr)) return hr;

  const std::u16string_view text = value.View();
  const size_t plus1 = text.find(u'+');
  const size_t plus2 = plus1 == std::u16string_view::npos ? plus1 : text.find(u'+', plus1 + 1);
  if (text.empty() || plus2 == std::u16string_view::npos) return E_FAIL;
  const std::u16string_view count_text = text.substr(0, plus1);
  const std::u16string_view first_id = text.substr(plus1 + 1, plus2 - plus1 - 1);
  const std::u16string_view second_id = text.substr(plus2 + 1);
  auto cut = [](std::u16string_view s, size_t size) {
    return std::u16string(s.substr(0, size > 0 ? size - 1 : 0));
  };
  *first_out = cut(second_id, first_size);
  *second_out = cut(first_id, second_size);

  const int32_t count = DecimalValue(count_text);
  const int32_t number = DecimalValue(track_text.View());
  *track = (count >= 1 && number >= 1 && number <= count) ? number : 0;
  return S_OK;
}

bool HasExtension(std::u16string_view file_name, std::u16string_view extension) {
  const size_t dot = file_name.rfind(u'.');
  if (dot == std::u16string_view::npos) return false;
  const std::u16string_view tail = file_name.substr(dot);
  if (tail.size() != extension.size()) return false;
  auto lower = [](char16_t c) -> char16_t { return (c >= u'A' && c <= u'Z') ? c + 32 : c; };
  for (size_t i = 0; i < tail.size(); ++i) {
    if (lower(tail[i]) != lower(extension[i])) return false;
  }
  return true;
}

bool HasExtension(const char16_t* file_name, const char16_t* extension) {
  if (!file_name || !extension) return false;
  return HasExtension(std::u16string_view(file_name), std::u16string_view(extension));
}

}  // namespace pelk
