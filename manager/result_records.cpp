#include "manager/result_records.h"

#include <algorithm>

#include "control/tag_utils.h"
#include "manager/shared_control.h"
#include "manager/sonquix_manager.h"
#include "model/disc_comparer.h"
#include "runtime/bstr.h"
#include "runtime/decimal.h"

namespace pelk {
namespace {

// The album's track count a disc states in its "track_count" text; 0 when empty or unreadable.
int32_t NamedTrackCount(IDiscInfo* disc) {
  Bstr text;
  if (FAILED(disc->GetNamedText(Bstr(u"track_count").Get(), text.Out()))) return 0;
  return DecimalValue(text.View());
}

int32_t CurrentTrackOf(IDiscInfo* disc) {
  int32_t track = 0;
  return SUCCEEDED(disc->get_CurrentTrack(&track)) ? track : 0;
}

// A new list, handed out before it is filled.
ComPtr<CPelkFileInfoList> NewList(ComPtr<CPelkFileInfoList>* list) {
  *list = MakeObject<CPelkFileInfoList>();
  return *list;
}

// The record that says "no match" for file_name, and the list code that goes with it.
HRESULT AddNoMatchRecord(std::u16string_view file_name, CPelkFileInfoList* list) {
  ComPtr<CPelkFileInfo> none = MakeObject<CPelkFileInfo>();
  HRESULT hr = none->put_Filename(Bstr(file_name).Get());
  if (SUCCEEDED(hr)) hr = none->put_MatchType(MATCH_TYPE_NONE);
  if (SUCCEEDED(hr)) hr = none->put_SonquixMatchCode(SONQUIX_MATCH_NONE);
  if (SUCCEEDED(hr)) hr = list->AddFileInfo(none.Get());
  list->SetListMatchCode(LIST_MATCH_NONE);
  return hr;
}

// Gives a list that holds records `filled_code`; an empty one gets the no-match record instead.
// hr is the result of the last step that filled the list.
HRESULT FinishList(std::u16string_view file_name, CPelkFileInfoList* list, int32_t filled_code,
                   HRESULT hr) {
  int32_t count = 0;
  list->get_Count(&count);
  if (count == 0) return AddNoMatchRecord(file_name, list);
  list->SetListMatchCode(filled_code);
  return hr;
}

// Builds disc's record and gives it the match values; added to list on success.
HRESULT AddRecordForDisc(CPELKSonquixManager& manager, std::u16string_view file_name,
                         CPelkFileInfo* source, IDiscInfo* disc, CPelkFileInfoList* list,
                         int32_t pelk_code, int32_t sonquix_code, int32_t match_type,
                         bool fetch_full) {
  ComPtr<CPelkFileInfo> record;
  HRESULT hr = BuildRecordForDisc(manager, file_name, source, disc, &record, fetch_full);
  if (SUCCEEDED(hr)) hr = record->put_Filename(Bstr(file_name).Get());
  if (SUCCEEDED(hr)) hr = record->put_MatchType(match_type);
  if (SUCCEEDED(hr)) hr = record->put_PELKMatchCode(pelk_code);
  if (SUCCEEDED(hr)) hr = record->put_SonquixMatchCode(sonquix_code);
  if (SUCCEEDED(hr)) hr = list->AddFileInfo(record.Get());
  return hr;
}

}  // namespace

HRESULT ResultsToList(CPELKSonquixManager& manager, std::u16string_view file_name,
                      CPelkFileInfo* record, int32_t result_kind, int32_t match_type,
                      int32_t text_flag, ComPtr<CPelkFileInfoList>* list) {
  if (!record) return E_INVALIDARG;
  if (!list) return E_POINTER;
  ComPtr<ILookupControl> control = SharedControlState::Instance().Control();
  ComPtr<IDiscInfo> disc;
  ComPtr<IDiscList> discs;
  if (control) {
    if (result_kind == kLookupOne) {
      if (FAILED(control->GetSingleMatch(disc.Out()))) disc.Reset();
    } else if (result_kind == kLookupSeveral || result_kind == kLookupSeveralClose) {
      if (FAILED(control->GetMatchCollection(discs.Out()))) discs.Reset();
    }
  }
  if (!disc && discs) {
    return DiscListToList(manager, file_name, record, discs.Get(), list, result_kind,
                          SONQUIX_MATCH_EXACT, match_type, false, text_flag);
  }
  return SingleDiscToList(manager, file_name, record, disc.Get(), list, result_kind,
                          SONQUIX_MATCH_EXACT, match_type, false);
}

HRESULT SingleDiscToList(CPELKSonquixManager& manager, std::u16string_view file_name,
                         CPelkFileInfo* record, IDiscInfo* disc, ComPtr<CPelkFileInfoList>* list,
                         int32_t pelk_code, int32_t sonquix_code, int32_t match_type,
                         bool fetch_full) {
  if (!list) return E_POINTER;
  ComPtr<CPelkFileInfoList> result = NewList(list);
  HRESULT hr = S_OK;
  if (disc) {
    hr = AddRecordForDisc(manager, file_name, record, disc, result.Get(), pelk_code, sonquix_code,
                          match_type, fetch_full);
  }
  return FinishList(file_name, result.Get(), LIST_MATCH_TRACK_SINGLE, hr);
}

HRESULT DiscListToList(CPELKSonquixManager& manager, std::u16string_view file_name,
                       CPelkFileInfo* record, IDiscList* discs, ComPtr<CPelkFileInfoList>* list,
                       int32_t pelk_code, int32_t sonquix_code, int32_t match_type, bool fetch_full,
                       int32_t text_flag) {
  if (!list) return E_POINTER;
  ComPtr<CPelkFileInfoList> result = NewList(list);
  HRESULT hr = S_OK;
  int32_t n = 0;
  if (discs) hr = discs->get_Count(&n);
  for (int32_t i = 1; SUCCEEDED(hr) && i <= n; ++i) {
    ComPtr<IDiscInfo> disc;
    hr = discs->get_Item(i, disc.Out());
    if (FAILED(hr)) break;
    int32_t type = match_type;
    int32_t code = sonquix_code;
    if (IsAlbumLevelMatch(discs, i)) {
      if (type == MATCH_TYPE_TXT_HINT || type == MATCH_TYPE_TXT) type = MATCH_TYPE_TXT_ALBUM_LEVEL;
      if (text_flag == 0) code = SONQUIX_MATCH_NONE;
    }
    hr = AddRecordForDisc(manager, file_name, record, disc.Get(), result.Get(), pelk_code, code,
                          type, fetch_full);
  }
  return FinishList(file_name, result.Get(), LIST_MATCH_TRACK_MULTIPLE, hr);
}

bool IsAlbumLevelMatch(IDiscList* discs, int32_t index) {
  if (!discs) return false;
  int32_t n = 0;
  if (FAILED(discs->get_Count(&n)) || n <= 2 || index < 1 || index > n) return false;
  ComPtr<IDiscInfo> disc;
  if (FAILED(discs->get_Item(index, disc.Out())) || !disc) return false;
  const int32_t track = CurrentTrackOf(disc.Get());
  if (track == 0) return false;

  // Positions that could hold neighbouring tracks of the same disc: at most three either side,
  // and none before track 1 or past the album's last track.
  int32_t lower = std::max(index - 3, 1);
  int32_t upper = std::min(index + 3, n);
  const int32_t track_count = NamedTrackCount(disc.Get());
  if (track - 1 < index - lower) lower = index - track + 1;
  if (track_count - track < upper - index) upper = track_count + index - track;
  if (upper - lower + 1 < 3) return false;

  DiscComparer comparer;
  int32_t run = 1;
  for (int32_t j = lower; j <= upper; ++j) {
    if (j == index) continue;
    ComPtr<IDiscInfo> other;
    if (FAILED(discs->get_Item(j, other.Out())) || !other) continue;
    const int32_t other_track = CurrentTrackOf(other.Get());
    if (other_track == 0 || track - other_track != index - j) continue;
    bool same = false;
    if (SUCCEEDED(comparer.IsSameDisc(disc.Get(), other.Get(), &same)) && same && ++run > 2) {
      return true;
    }
  }
  return false;
}

HRESULT BuildRecordForDisc(CPELKSonquixManager& manager, std::u16string_view file_name,
                           CPelkFileInfo* source, IDiscInfo* disc, ComPtr<CPelkFileInfo>* record,
                           bool fetch_full) {
  if (!disc || !record) return E_INVALIDARG;
  ComPtr<IDiscInfo> used(disc);
  int32_t track_count = 0;
  HRESULT hr = S_OK;
  if (fetch_full) {
    ComPtr<IDiscInfo> full;
    hr = manager.GetFullDisc(disc, full.Out());
    if (FAILED(hr)) return hr;
    used = full;
    hr = used->get_TrackCount(&track_count);
    if (FAILED(hr)) return hr;
  } else {
    track_count = NamedTrackCount(disc);
  }
  int32_t track = 0;
  hr = used->get_CurrentTrack(&track);
  if (FAILED(hr)) return hr;

  ComPtr<CPelkFileInfo> built = MakeObject<CPelkFileInfo>();
  *record = built;
  Bstr name(file_name);
  built->put_Filename(name.Get());
  built->put_Disc(used.Get());
  built->put_TrackNum(track);
  built->put_TrackCount(track_count);
  built->put_MatchType(MATCH_TYPE_UNKNOWN);

  ComPtr<IFileTag> tag;
  hr = TagFromDisc(file_name, used.Get(), track, tag.Out());
  if (FAILED(hr)) return hr;
  built->put_Tag(tag.Get());
  int32_t options = SONQUIX_DEFAULT_OPTIONS;
  if (source) {
    ComPtr<IFileTag> orig_tag;
    if (SUCCEEDED(source->get_OrigTag(orig_tag.Out())) && orig_tag) {
      built->put_OrigTag(orig_tag.Get());
    }
    ComPtr<IPelkFileInfoList> waveform_list;
    if (SUCCEEDED(source->GetWFList(waveform_list.Out())) && waveform_list) {
      built->PutWFList(waveform_list.Get());
    }
    if (FAILED(source->get_Options(&options))) options = SONQUIX_DEFAULT_OPTIONS;
  }
  built->set_Options(options);
  return hr;
}

HRESULT EnsureTrackSelected(std::u16string_view file_name, IFileTag* tag, IDiscInfo* disc) {
  if (!disc) return E_POINTER;
  int32_t current = 0;
  HRESULT hr = disc->get_CurrentTrack(&current);
  if (FAILED(hr)) return hr;
  if (current != 0) return S_OK;

  // The scorer needs a current track to start from; every track is then tried.
  hr = disc->put_CurrentTrack(1);
  if (FAILED(hr)) return hr;
  ComPtr<CPelkFileInfo> file = MakeObject<CPelkFileInfo>();
  file->put_Filename(Bstr(file_name).Get());
  if (tag) file->put_OrigTag(tag);
  int32_t best = 0, score = 0;
  hr = file->GetBestTrackNumForDisc(disc, &best, &score);
  if (FAILED(hr)) return hr;
  return best > 1 ? disc->put_CurrentTrack(best) : S_OK;
}

HRESULT CompleteResultDiscs(CPELKSonquixManager& manager, CPelkFileInfoList* list) {
  if (!list) return E_INVALIDARG;
  int32_t code = 0;
  list->GetListMatchCode(&code);
  if (code != LIST_MATCH_TRACK_SINGLE && code != LIST_MATCH_TRACK_MULTIPLE) return S_FALSE;
  for (const ComPtr<IPelkFileInfo>& entry : list->Records()) {
    ComPtr<IDiscInfo> disc;
    if (FAILED(entry->get_Disc(disc.Out())) || !disc) continue;
    ComPtr<IDiscInfo> full;
    manager.GetFullDisc(disc.Get(), full.Out());
    if (!full) continue;
    entry->put_Disc(full.Get());
    Bstr file_name;
    int32_t track = 0;
    entry->get_Filename(file_name.Out());
    entry->get_TrackNum(&track);
    ComPtr<IFileTag> tag;
    if (SUCCEEDED(TagFromDisc(file_name.View(), full.Get(), track, tag.Out()))) {
      entry->put_Tag(tag.Get());
    }
  }
  return S_OK;
}

HRESULT PickSingleResult(CPelkFileInfoList* candidates, ComPtr<CPelkFileInfoList>* list) {
  if (!candidates) return E_INVALIDARG;
  if (!list) return E_POINTER;
  ComPtr<IPelkFileInfo> entry;
  HRESULT hr = candidates->GetFileInfo(1, entry.Out());
  if (FAILED(hr)) return hr;
  ComPtr<CPelkFileInfo> best = ImplOf<CPelkFileInfo>(entry.Get());
  if (!best) return E_FAIL;
  bool high_confidence = false;
  int32_t match_type = MATCH_TYPE_NONE;
  best->get_MatchType(&match_type);
  if (SUCCEEDED(best->IsHighConfidence(&high_confidence)) && high_confidence) {
    best->put_SonquixMatchCode(SONQUIX_MATCH_EXACT);
  } else {
    best->put_SonquixMatchCode(match_type == MATCH_TYPE_NONE ? SONQUIX_MATCH_NONE
                                                             : SONQUIX_MATCH_FUZZY);
  }
  ComPtr<CPelkFileInfoList> single = MakeObject<CPelkFileInfoList>();
  hr = single->AddFileInfo(best.Get());
  if (FAILED(hr)) return hr;
  single->SetListMatchCode(LIST_MATCH_TRACK_SINGLE);
  *list = single;
  return S_OK;
}

}  // namespace pelk
