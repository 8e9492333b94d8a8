#include "model/file_info.h"

#include <algorithm>

#include "control/control_objects.h"
#include "control/current_control.h"
#include "control/tag_utils.h"
#include "model/file_info_list.h"
#include "model/track_scorer.h"
#include "model/waveform_hints.h"

namespace pelk {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr std::u16string_view kSeparators = u"\\/";

std::u16string_view UpToNul(std::u16string_view text) {
  return text.substr(0, std::min(text.find(u'\0'), text.size()));
}

template <class I>
HRESULT OutObject(const ComPtr<I>& held, I** out) {
  if (!out) return E_POINTER;
  held.CopyTo(out);
  return S_OK;
}

HRESULT OutValue(int32_t held, int32_t* out) {
  if (!out) return E_POINTER;
  *out = held;
  return S_OK;
}

// Writes a sort key into a caller's buffer; an empty key leaves the buffer as it is.
void WriteSortKey(const std::optional<std::u16string>& key, char16_t* buffer, size_t size) {
  if (!key || key->empty() || size == 0) return;
  std::fill_n(buffer, size, u'\0');
  std::copy_n(key->data(), std::min(key->size(), size - 1), buffer);
}

}  // namespace

// --- IPelkFileInfo ---

HRESULT CPelkFileInfo::get_Filename(BSTR* value) {
  Lock lock(mutex_);
  if (!value) return E_POINTER;
  *value = nullptr;
  if (!filename_.Get()) return S_OK;
  *value = filename_.Copy().Detach();
  return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT CPelkFileInfo::put_Filename(BSTR value) {
  Lock lock(mutex_);
  Bstr copy;
  if (value) {
    copy = Bstr(BstrView(value));
    if (!copy.Get()) return E_OUTOFMEMORY;
  }
  filename_ = std::move(copy);
  cached_score_ = -1;
  return S_OK;
}

HRESULT CPelkFileInfo::get_Fingerprint(IPelkSonquixFingerprint** value) {
  Lock lock(mutex_);
  return OutObject(fingerprint_, value);
}

HRESULT CPelkFileInfo::put_Fingerprint(IPelkSonquixFingerprint* value) {
  Lock lock(mutex_);
  fingerprint_ = value;
  fingerprint_acquired_ = true;
  return S_OK;
}

HRESULT CPelkFileInfo::get_TrackNum(int32_t* value) {
  Lock lock(mutex_);
  return OutValue(track_num_, value);
}

HRESULT CPelkFileInfo::put_TrackNum(int32_t value) {
  Lock lock(mutex_);
  track_num_ = value;
  cached_score_ = -1;
  return S_OK;
}

HRESULT CPelkFileInfo::get_TrackCount(int32_t* value) {
  Lock lock(mutex_);
  return OutValue(track_count_, value);
}

HRESULT CPelkFileInfo::put_TrackCount(int32_t value) {
  Lock lock(mutex_);
  track_count_ = value;
  return S_OK;
}

HRESULT CPelkFileInfo::get_Tag(IFileTag** value) {
  Lock lock(mutex_);
  return OutObject(tag_, value);
}

HRESULT CPelkFileInfo::put_Tag(IFileTag* value) {
  Lock lock(mutex_);
  tag_ = value;
  tag_acquired_ = true;
  return S_OK;
}

HRESULT CPelkFileInfo::get_Disc(IDiscInfo** value) {
  Lock lock(mutex_);
  return OutObject(disc_, value);
}

HRESULT CPelkFileInfo::put_Disc(IDiscInfo* value) {
  Lock lock(mutex_);
  disc_ = value;
  cached_score_ = -1;
  return S_OK;
}

HRESULT CPelkFileInfo::get_SonquixMatchCode(int32_t* value) {
  Lock lock(mutex_);
  return OutValue(sonquix_match_code_, value);
}

HRESULT CPelkFileInfo::put_SonquixMatchCode(int32_t value) {
  Lock lock(mutex_);
  sonquix_match_code_ = value;
  return S_OK;
}

// --- IPelkFileInfo2 ---

HRESULT CPelkFileInfo::GetExtDataLocked(ComPtr<IExtData>* ext_data) {
  *ext_data = nullptr;
  if (ext_data_) {
    *ext_data = ext_data_;
    return S_OK;
  }
  if (!disc_) return S_OK;
  ComPtr<IExtData> created;
  if (FAILED(CreateControlObject(CLSID_PelkExtData, created.Out())) || !created) return S_OK;
  // Extended data that cannot be initialised is dropped, so a later call tries again.
  if (FAILED(created->InitFromDisc(disc_.Get(), 1, track_num_))) return S_OK;
  ext_data_ = created;
  *ext_data = std::move(created);
  return S_OK;
}

HRESULT CPelkFileInfo::GetExtData(IExtData** ext_data) {
  Lock lock(mutex_);
  if (!ext_data) return E_POINTER;
  *ext_data = nullptr;
  ComPtr<IExtData> held;
  const HRESULT hr = GetExtDataLocked(&held);
  if (FAILED(hr)) return hr;
  *ext_data = held.Detach();
  return S_OK;
}

HRESULT CPelkFileInfo::PutExtData(IExtData* ext_data) {
  Lock lock(mutex_);
  ext_data_ = ext_data;
  return S_OK;
}

HRESULT CPelkFileInfo::GetDataListElement(int32_t list_id, int32_t level,
                                          IDataListElement** element) {
  Lock lock(mutex_);
  if (!element) return E_POINTER;
  *element = nullptr;
  if (!disc_) return TYPE_E_ELEMENTNOTFOUND;
  ComPtr<IExtData> ext_data;
  const HRESULT hr = GetExtDataLocked(&ext_data);
  if (FAILED(hr)) return hr;
  if (!ext_data) return S_OK;
  if (list_id == 0) return E_INVALIDARG;
  ComPtr<ILookupControl> control = CurrentLookupControl();
  if (!control) return E_NOTIMPL;
  return control->GetDataListElement(list_id, level, ext_data.Get(), element);
}

HRESULT CPelkFileInfo::GetExtDataSerialized(BSTR* text) {
  Lock lock(mutex_);
  if (!text) return E_POINTER;
  ComPtr<IExtData> ext_data;
  const HRESULT hr = GetExtDataLocked(&ext_data);
  if (FAILED(hr)) return hr;
  if (!ext_data) return E_FAIL;
  return ext_data->Serialize(text);
}

HRESULT CPelkFileInfo::PutExtDataSerialized(BSTR text) {
  Lock lock(mutex_);
  ComPtr<IExtData> created;
  if (SUCCEEDED(CreateControlObject(CLSID_PelkExtData, created.Out())) && created &&
      SUCCEEDED(created->Deserialize(text))) {
    ext_data_ = std::move(created);
  }
  return S_OK;
}

// --- IPelkFileInfo2_6 ---

HRESULT CPelkFileInfo::get_MatchType(int32_t* value) {
  Lock lock(mutex_);
  return OutValue(match_type_, value);
}

HRESULT CPelkFileInfo::RetrieveData(int32_t data_options) {
  Lock lock(mutex_);
  if (!disc_) return E_INVALIDARG;
  ComPtr<IDiscData> data = disc_.As<IDiscData>();
  if (!data) return E_FAIL;
  HRESULT hr = data->RetrieveData(data_options);
  if (FAILED(hr)) return hr;
  ComPtr<IFileTag> tag;
  hr = TagFromDisc(BstrView(filename_.Get()), disc_.Get(), track_num_, tag.Out());
  if (FAILED(hr)) return hr;
  return put_Tag(tag.Get());
}

HRESULT CPelkFileInfo::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IPelkFileInfo::kIid ? S_OK : S_FALSE;
}

// --- internal operations ---

HRESULT CPelkFileInfo::put_MatchType(int32_t value) {
  Lock lock(mutex_);
  match_type_ = value;
  return S_OK;
}

HRESULT CPelkFileInfo::get_PELKMatchCode(int32_t* value) {
  Lock lock(mutex_);
  return OutValue(pelk_match_code_, value);
}

HRESULT CPelkFileInfo::put_PELKMatchCode(int32_t value) {
  Lock lock(mutex_);
  pelk_match_code_ = value;
  return S_OK;
}

HRESULT CPelkFileInfo::set_Options(int32_t value) {
  Lock lock(mutex_);
  options_ = value;
  return S_OK;
}

HRESULT CPelkFileInfo::get_Options(int32_t* value) {
  if (!value) return E_POINTER;
  Lock lock(mutex_);
  *value = options_;
  return S_OK;
}

HRESULT CPelkFileInfo::get_OrigTag(IFileTag** value) {
  Lock lock(mutex_);
  return OutObject(orig_tag_, value);
}

HRESULT CPelkFileInfo::put_OrigTag(IFileTag* value) {
  Lock lock(mutex_);
  orig_tag_ = value;
  cached_score_ = -1;
  return S_OK;
}

HRESULT CPelkFileInfo::GetWFList(IPelkFileInfoList** list) {
  Lock lock(mutex_);
  return OutObject(wf_list_, list);
}

HRESULT CPelkFileInfo::PutWFList(IPelkFileInfoList* list) {
  if (!list) return E_INVALIDARG;
  ComPtr<CPelkFileInfoList> hints;
  const HRESULT hr = WaveformHints(list, hints.Out());
  Bstr artist, title;
  if (SUCCEEDED(hr) && hints) {
    ComPtr<IFileTag> tag;
    if (SUCCEEDED(hints->GetFileInfoFields(1, nullptr, nullptr, nullptr, nullptr, tag.Out(),
                                           nullptr, nullptr)) &&
        tag) {
      if (FAILED(tag->get_Artist(artist.Out()))) artist.Reset();
      if (FAILED(tag->get_Title(title.Out()))) title.Reset();
    }
  }
  Lock lock(mutex_);
  wf_list_ = list;
  if (!UpToNul(artist.View()).empty()) wf_artist_ = UpToNul(artist.View());
  if (!UpToNul(title.View()).empty()) wf_title_ = UpToNul(title.View());
  return hr;
}

std::u16string CPelkFileInfo::WFArtist() {
  Lock lock(mutex_);
  return wf_artist_;
}

std::u16string CPelkFileInfo::WFTitle() {
  Lock lock(mutex_);
  return wf_title_;
}

HRESULT CPelkFileInfo::GetTagForScore(IFileTag** tag) {
  Lock lock(mutex_);
  if (!tag) return E_POINTER;
  *tag = nullptr;
  ComPtr<IFileTag> built;
  HRESULT hr = CreateControlObject(CLSID_PelkFileTag, built.Out());
  if (FAILED(hr)) return hr;
  if (!built) return E_FAIL;
  if (orig_tag_) CopyTagFields(built.Get(), orig_tag_.Get());
  // A pure waveform match is scored against the file's own tag only.
  if (match_type_ != MATCH_TYPE_WF) {
    using Getter = HRESULT (IFileTag::*)(BSTR*);
    using Putter = HRESULT (IFileTag::*)(BSTR);
    const struct {
      Getter get;
      Putter put;
      const std::u16string& hint;
    } fills[] = {{&IFileTag::get_Artist, &IFileTag::put_Artist, wf_artist_},
                 {&IFileTag::get_Title, &IFileTag::put_Title, wf_title_}};
    for (const auto& fill : fills) {
      Bstr value;
      hr = (built.Get()->*fill.get)(value.Out());
      if (FAILED(hr)) return hr;
      if (!UpToNul(value.View()).empty() || fill.hint.empty()) continue;
      Bstr hint(fill.hint);
      hr = (built.Get()->*fill.put)(hint.Get());
      if (FAILED(hr)) return hr;
    }
  }
  *tag = built.Detach();
  return S_OK;
}

std::u16string_view CPelkFileInfo::NameText() const {
  if (options_ & SONQUIX_DISABLE_FILENAME_PARSING) return {};
  return BstrView(filename_.Get());
}

HRESULT CPelkFileInfo::GetScore(int32_t* score) {
  Lock lock(mutex_);
  if (!score) return E_POINTER;
  *score = 0;
  if (cached_score_ != -1 || !disc_) {
    *score = cached_score_;
    return S_OK;
  }
  ComPtr<IFileTag> tag;
  HRESULT hr = GetTagForScore(tag.Out());
  if (FAILED(hr)) return hr;
  text::TrackScorer scorer;
  hr = scorer.Prepare(disc_.Get(), NameText(), tag.Get());
  if (FAILED(hr)) return hr;
  int32_t value = 0;
  hr = scorer.Score(&value);
  if (FAILED(hr)) return hr;
  cached_score_ = value;
  *score = value;
  return S_OK;
}

HRESULT CPelkFileInfo::IsHighConfidence(bool* flag) {
  Lock lock(mutex_);
  if (!flag) return E_POINTER;
  int32_t score = 0;
  const HRESULT hr = GetScore(&score);
  if (FAILED(hr)) return hr;
  switch (match_type_) {
    case MATCH_TYPE_TAGID:
    case MATCH_TYPE_ITUNESID:
      *flag = true;
      break;
    case MATCH_TYPE_WF_HINT:
    case MATCH_TYPE_WF:
    case MATCH_TYPE_TXT_ON_WF:
      *flag = score >= 80;
      break;
    case MATCH_TYPE_NONE:
      *flag = false;
      break;
    default:
      // Text kinds (7 through 13) need 90; the album-associated kind and unknown values keep
      // what the caller passed in.
      if (match_type_ >= MATCH_TYPE_TXT_HINT && match_type_ <= MATCH_TYPE_UNKNOWN) {
        *flag = score >= 90;
      }
      break;
  }
  return S_OK;
}

HRESULT CPelkFileInfo::GetBestTrackNumForDisc(IDiscInfo* disc, int32_t* track, int32_t* score) {
  Lock lock(mutex_);
  if (!disc) return E_INVALIDARG;
  if (!track || !score) return E_POINTER;
  int32_t count = 0;
  HRESULT hr = disc->get_TrackCount(&count);
  if (FAILED(hr)) return hr;
  if (count <= 0) return E_INVALIDARG;

  ComPtr<IFileTag> tag;
  hr = GetTagForScore(tag.Out());
  if (FAILED(hr)) return hr;
  text::TrackScorer scorer;
  hr = scorer.Prepare(disc, NameText(), tag.Get());
  if (FAILED(hr)) return hr;

  const int32_t hint = text::GetTrackHint(BstrView(filename_.Get()), orig_tag_.Get());
  int32_t best = 0, best_score = 0;
  auto score_track = [&](int32_t i, int32_t* value) {
    const HRESULT set = scorer.SetTrack(i);
    return FAILED(set) ? set : scorer.Score(value);
  };
  // A number the disc does not hold (a gap in its numbering) is E_INVALIDARG and is passed
  // over; any other failure ends the search.
  if (hint > 0 && hint <= count) {
    hr = score_track(hint, &best_score);
    if (FAILED(hr) && hr != E_INVALIDARG) return hr;
    if (SUCCEEDED(hr)) {
      best = hint;
    } else {
      best_score = 0;
    }
  }
  for (int32_t i = 1; i <= count && best_score < 100; ++i) {
    if (i == hint) continue;
    int32_t value = 0;
    hr = score_track(i, &value);
    if (hr == E_INVALIDARG) continue;
    if (FAILED(hr)) return hr;
    if (value > best_score) {
      best = i;
      best_score = value;
    }
  }
  *track = best;
  *score = best_score;
  return S_OK;
}

HRESULT CPelkFileInfo::get_SortFolder(char16_t* buffer, size_t size) {
  Lock lock(mutex_);
  if (!buffer) return E_POINTER;
  const std::u16string_view name = UpToNul(BstrView(filename_.Get()));
  if (!sort_folder_ && !name.empty()) {
    const std::u16string_view work = name.substr(0, kSortFolderSize - 1);
    sort_folder_ = work.substr(0, std::min(work.find_last_of(kSeparators), work.size()));
  }
  WriteSortKey(sort_folder_, buffer, size);
  return S_OK;
}

HRESULT CPelkFileInfo::get_SortAlbum(char16_t* buffer, size_t size) {
  Lock lock(mutex_);
  if (!buffer) return E_POINTER;
  if (!sort_album_ && tag_) {
    Bstr album;
    if (FAILED(tag_->get_AlbumTitle(album.Out()))) album.Reset();
    sort_album_ = UpToNul(album.View());
  }
  WriteSortKey(sort_album_, buffer, size);
  return S_OK;
}

HRESULT CPelkFileInfo::get_SortArtist(char16_t* buffer, size_t size) {
  Lock lock(mutex_);
  if (!buffer) return E_POINTER;
  if (!sort_artist_) {
    Bstr artist;
    if (tag_ && FAILED(tag_->get_Artist(artist.Out()))) artist.Reset();
    sort_artist_ = UpToNul(artist.View());
    if (sort_artist_->empty()) sort_artist_ = wf_artist_;
  }
  WriteSortKey(sort_artist_, buffer, size);
  return S_OK;
}

HRESULT CPelkFileInfo::get_SortFilename(char16_t* buffer, size_t size) {
  Lock lock(mutex_);
  if (!buffer) return E_POINTER;
  const std::u16string_view name = UpToNul(BstrView(filename_.Get()));
  if (!sort_filename_ && !name.empty()) {
    const size_t last = name.find_last_of(kSeparators);
    sort_filename_ = last == std::u16string_view::npos ? name : name.substr(last + 1);
  }
  WriteSortKey(sort_filename_, buffer, size);
  return S_OK;
}

HRESULT CPelkFileInfo::CopyPropertiesTo(CPelkFileInfo* target) {
  Lock lock(mutex_);
  if (!target) return E_INVALIDARG;
  HRESULT hr;
  if (FAILED(hr = target->put_Filename(filename_.Get()))) return hr;
  if (FAILED(hr = target->put_Fingerprint(fingerprint_.Get()))) return hr;
  if (FAILED(hr = target->put_TrackNum(track_num_))) return hr;
  if (FAILED(hr = target->put_TrackCount(track_count_))) return hr;
  if (FAILED(hr = target->put_Tag(tag_.Get()))) return hr;
  if (FAILED(hr = target->put_Disc(disc_.Get()))) return hr;
  if (FAILED(hr = target->put_SonquixMatchCode(sonquix_match_code_))) return hr;
  if (FAILED(hr = target->put_MatchType(match_type_))) return hr;
  if (FAILED(hr = target->put_PELKMatchCode(pelk_match_code_))) return hr;
  if (FAILED(hr = target->set_Options(options_))) return hr;
  target->SetTaken(taken_);
  return S_OK;
}

bool CPelkFileInfo::Taken() {
  Lock lock(mutex_);
  return taken_;
}

void CPelkFileInfo::SetTaken(bool taken) {
  Lock lock(mutex_);
  taken_ = taken;
}

bool CPelkFileInfo::TagAcquired() {
  Lock lock(mutex_);
  return tag_acquired_;
}

bool CPelkFileInfo::FingerprintAcquired() {
  Lock lock(mutex_);
  return fingerprint_acquired_;
}

void CPelkFileInfo::SetTagAcquired() {
  Lock lock(mutex_);
  tag_acquired_ = true;
}

void CPelkFileInfo::SetFingerprintAcquired() {
  Lock lock(mutex_);
  fingerprint_acquired_ = true;
}

}  // namespace pelk
