// Album identification: AlbumID and its core, which the library queue also runs per folder.
// Every file is identified on its own keeping all candidates; the candidates are collected per
// file in a query-result collection and grouped into albums by the album engine. The answer is
// either every candidate list (all-candidates mode) or one list per file, with the albums that
// are large enough accepted greedily (single-answer mode). In single-answer mode files that
// score well against the disc two neighbouring files share are not looked up at all
// (album_association.cpp).
//
// Every file given comes back exactly once in single-answer mode (in an accepted album, in a
// list of its own candidates, or among the unidentified rest) and at least once among the
// candidate lists in all-candidates mode; the album engine keeps that rule for what it groups,
// and a list the query-result collection cannot hold is handed back as it is.
#include <vector>

#include "control/tag_utils.h"
#include "manager/album_sink.h"
#include "manager/result_records.h"
#include "manager/sonquix_manager.h"
#include "model/file_info.h"
#include "model/file_info_list.h"
#include "model/file_info_lists.h"
#include "runtime/bstr.h"
#include "runtime/thread.h"

namespace pelk {
namespace {

int32_t CountOf(IPelkFileInfoList* list) {
  int32_t count = 0;
  return list && SUCCEEDED(list->get_Count(&count)) ? count : 0;
}

// Lookup results of these facilities mean the control can no longer answer: the call stops.
bool StopsTheCall(HRESULT hr) {
  const int32_t facility = (static_cast<uint32_t>(hr) >> 16) & 0x7FF;
  return facility >= 0x2FA && facility <= 0x2FD;
}

// A compilation needs more files before it counts as the album of a folder.
bool IsCompilation(IDiscInfo* disc) {
  if (!disc) return false;
  int32_t flag = 0;
  if (SUCCEEDED(disc->get_IsCompilation(&flag)) && flag == 1) return true;
  Bstr artist;
  return SUCCEEDED(disc->get_Artist(artist.Out())) && artist.View() == u"Various Artists";
}

int32_t MinimumAlbumSize(IPelkFileInfoList* album) {
  ComPtr<IPelkFileInfo> first;
  ComPtr<IDiscInfo> disc;
  if (SUCCEEDED(album->GetFileInfo(1, first.Out())) && first) first->get_Disc(disc.Out());
  return IsCompilation(disc.Get()) ? 5 : 3;
}

// The list standing for a file whose identification failed.
ComPtr<CPelkFileInfoList> ErrorList(BSTR file_name) {
  ComPtr<CPelkFileInfoList> list = MakeObject<CPelkFileInfoList>();
  list->SetListMatchCode(LIST_MATCH_ERROR);
  list->AddFileInfoFields(file_name, nullptr, 0, 0, nullptr, nullptr, SONQUIX_MATCH_ERROR);
  return list;
}

}  // namespace

HRESULT CPELKSonquixManager::AlbumID(IPelkFileInfoList* list_in, int32_t options,
                                     int32_t* match_code, IPelkFileInfoLists** lists_out) {
  if (!list_in) return E_INVALIDARG;
  int32_t count = 0;
  list_in->get_Count(&count);
  if (count == 0) return E_INVALIDARG;
  // Identification reorders the list and keeps its state on the records, which only this
  // module's lists and records carry.
  ComPtr<CPelkFileInfoList> list = ImplOf<CPelkFileInfoList>(list_in);
  if (!list) return E_INVALIDARG;
  if (FAILED(NormaliseIdentificationOptions(&options))) return E_INVALIDARG;
  for (const ComPtr<IPelkFileInfo>& entry : list->Records()) {
    ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get());
    if (!record) return E_INVALIDARG;
    HRESULT hr = record->set_Options(options);
    if (FAILED(hr)) return hr;
  }
  WaitForBackgroundWork();

  if (!(options & SONQUIX_LOOKUP_ASYNC)) {
    return AlbumIDCore(list.Get(), options, match_code, lists_out);
  }
  albumid_thread_ = StartWorker([list, options](CPELKSonquixManager& manager) {
    manager.AlbumIDCore(list.Get(), options, nullptr, nullptr);
  });
  return albumid_thread_ ? S_OK : E_FAIL;
}

HRESULT CPELKSonquixManager::AlbumIDCore(CPelkFileInfoList* list, int32_t options,
                                         int32_t* match_code, IPelkFileInfoLists** lists_out) {
  if (match_code) *match_code = 1;
  if (!list) return E_INVALIDARG;
  const bool single = options & SONQUIX_RETURN_SINGLE;
  int32_t failures = 0;
  HRESULT last = S_OK;
  bool aborted = false;
  // Status 1 and a completion without results; the first failure of a file, an abort or a
  // shut-down outranks the cause.
  auto failure_end = [&](HRESULT cause) {
    events_.AlbumIDStatusUpdate(STATUS_SONQUIX_Error, u"", 0, 0);
    events_.AlbumIDComplete(1, list, nullptr);
    if (FAILED(last)) return last;
    if (aborted || !IsInitialized()) return E_ABORT;
    return FAILED(cause) ? cause : E_FAIL;
  };

  int32_t n = 0;
  HRESULT hr = list->get_Count(&n);
  if (FAILED(hr) || n <= 0) return failure_end(FAILED(hr) ? hr : E_INVALIDARG);

  if (single) {
    for (const ComPtr<IPelkFileInfo>& entry : list->Records()) {
      if (ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get())) {
        AcquireTag(record.Get(), options);
      }
    }
    WaveformPreQuery(list, options);
    // Files of one album become neighbours, which the album association relies on.
    list->SortItemsByMetadata();
  }

  ComPtr<CPelkFileInfoLists> query_results = MakeObject<CPelkFileInfoLists>();
  StartPrefetch(list, options);
  const int32_t track_options = (options | SONQUIX_RETURN_ALL) & ~SONQUIX_RETURN_SINGLE;
  const int32_t mode = single ? 4 : 3;
  std::vector<ComPtr<IPelkFileInfoList>> unplaced;
  for (int32_t i = 1; i <= n; ++i) {
    ComPtr<IPelkFileInfo> entry;
    list->GetFileInfo(i, entry.Out());
    ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entry.Get());
    Bstr file_name;
    if (record) record->get_Filename(file_name.Out());
    if (!file_name.Empty()) {
      // Covered by the album association of an earlier file: no lookup.
      ComPtr<IPelkFileInfoList> held;
      if (SUCCEEDED(query_results->GetFileInfoListByFilename(file_name.View(), held.Out())) &&
          held) {
        continue;
      }
    }
    if (events_.AlbumIDStatusUpdate(STATUS_ALBUMID_Querying, file_name.View(), i, n) != 0) {
      aborted = true;
      break;
    }
    ComPtr<IPelkFileInfoList> found;
    HRESULT identified = E_FAIL;
    if (IsInitialized()) {
      identified = record ? TrackIDBody(record.Get(), track_options, nullptr, found.Out(), mode)
                          : E_INVALIDARG;
      last = identified;
      if (FAILED(identified)) ++failures;
      if (StopsTheCall(identified) ||
          events_.AlbumIDStatusUpdate(STATUS_ALBUMID_Queried, file_name.View(), i, n) != 0) {
        aborted = true;
      }
      if (aborted) break;
    }
    if (!IsInitialized()) break;
    if (FAILED(identified) || !found) found = ErrorList(file_name.Get());

    hr = query_results->AddTrackIDResult(found.Get());
    // A list the collection cannot hold (a file without a name) still comes back, as it is.
    if (FAILED(hr)) unplaced.push_back(found);
    if (single && SUCCEEDED(hr)) {
      ComPtr<CPelkFileInfoLists> associated;
      if (SUCCEEDED(AssociateAlbum(list, i, query_results.Get(), &associated)) && associated) {
        query_results->AddTrackIDResults(associated.Get());
      }
    }
  }
  StopPrefetch();
  if (aborted || !IsInitialized()) return failure_end(E_ABORT);

  ComPtr<CPelkFileInfoLists> albums = MakeObject<CPelkFileInfoLists>();
  hr = albums->SetResultLists(query_results.Get());
  if (SUCCEEDED(hr)) hr = albums->BuildAlbumLists(album_sink_.get());
  if (FAILED(hr)) return hr;

  int32_t code = 2;
  ComPtr<CPelkFileInfoLists> selected;
  if (single) {
    code = 3;
    hr = SelectSingleAnswers(list, options, query_results.Get(), albums.Get(), &selected);
  } else {
    if (options & SONQUIX_HIGH_CONFIDENCE_RESULTS) hr = albums->HighConfidenceResults();
    selected = albums;
  }
  for (const ComPtr<IPelkFileInfoList>& rest : unplaced) {
    if (SUCCEEDED(hr)) hr = selected->AddFileInfoList(rest.Get());
  }
  if (FAILED(hr)) return failure_end(hr);
  int32_t result_count = 0;
  hr = selected->get_Count(&result_count);
  if (FAILED(hr)) return failure_end(hr);

  bool identified_any = false;
  for (const ComPtr<IPelkFileInfoList>& result : selected->Lists()) {
    if (!result) continue;
    CompleteAlbumDiscs(result.Get());
    if (!identified_any) {
      int32_t list_code = LIST_MATCH_NONE;
      if (FAILED(result->GetListMatchCode(&list_code))) list_code = LIST_MATCH_NONE;
      identified_any = list_code != LIST_MATCH_ERROR && list_code != LIST_MATCH_NONE;
    }
  }
  if (result_count == 0 || !identified_any) code = 1;

  if (lists_out) *lists_out = ComPtr<IPelkFileInfoLists>(selected.Get()).Detach();
  if (match_code) *match_code = code;
  events_.AlbumIDComplete(code, list, selected.Get());
  return FAILED(last) && failures == n ? last : S_OK;
}

HRESULT CPELKSonquixManager::SelectSingleAnswers(CPelkFileInfoList* list, int32_t options,
                                                 CPelkFileInfoLists* query_results,
                                                 CPelkFileInfoLists* albums,
                                                 ComPtr<CPelkFileInfoLists>* selected) {
  if (!list || !query_results || !albums) return E_INVALIDARG;
  if (!selected) return E_POINTER;
  ComPtr<CPelkFileInfoLists> result = MakeObject<CPelkFileInfoLists>();
  for (;;) {
    int32_t remaining = 0;
    HRESULT hr = albums->get_Count(&remaining);
    if (FAILED(hr)) return hr;
    if (remaining == 0) break;
    ComPtr<IPelkFileInfoList> album;
    hr = albums->GetFileInfoList(1, album.Out());
    if (FAILED(hr)) return hr;
    int32_t code = LIST_MATCH_ERROR;
    if (FAILED(album->GetListMatchCode(&code))) code = LIST_MATCH_ERROR;
    const int32_t size = CountOf(album.Get());

    if (code == LIST_MATCH_ERROR || size >= MinimumAlbumSize(album.Get())) {
      if (code != LIST_MATCH_ERROR) {
        album->SetListMatchCode(LIST_MATCH_ALBUM_SINGLE);
        std::vector<ComPtr<IPelkFileInfo>> records;
        hr = RecordsOf(album.Get(), &records);
        if (FAILED(hr)) return hr;
        for (const ComPtr<IPelkFileInfo>& record : records) {
          int32_t sonquix_code = SONQUIX_MATCH_NONE;
          if (SUCCEEDED(record->get_SonquixMatchCode(&sonquix_code)) &&
              sonquix_code == SONQUIX_MATCH_ALL) {
            record->put_SonquixMatchCode(SONQUIX_MATCH_EXACT);
          }
        }
      }
      hr = result->AddFileInfoList(album.Get());
      if (FAILED(hr)) return hr;
    } else {
      // Too small to be the folder's album: each of its files gets its own best answer.
      std::vector<ComPtr<IPelkFileInfo>> records;
      hr = RecordsOf(album.Get(), &records);
      if (FAILED(hr)) return hr;
      for (const ComPtr<IPelkFileInfo>& record : records) {
        Bstr file_name;
        hr = record->get_Filename(file_name.Out());
        if (FAILED(hr)) return hr;
        if (file_name.Empty()) return E_INVALIDARG;
        ComPtr<IPelkFileInfoList> own;
        hr = query_results->GetFileInfoListByFilename(file_name.View(), own.Out());
        if (FAILED(hr)) return hr;
        ComPtr<CPelkFileInfoList> candidates = ImplOf<CPelkFileInfoList>(own.Get());
        if (!candidates) return E_INVALIDARG;
        bool queried = false;
        hr = candidates->HasQueryResults(&queried);
        if (FAILED(hr)) return hr;
        if (!queried) {
          // Only album-associated guesses: the file is looked up after all.
          ComPtr<IPelkFileInfo> input;
          hr = list->GetFileInfoByFilename(file_name.View(), input.Out());
          if (FAILED(hr)) return hr;
          ComPtr<CPelkFileInfo> input_record = ImplOf<CPelkFileInfo>(input.Get());
          if (!input_record) return E_INVALIDARG;
          ComPtr<CPelkFileInfoList> again;
          HRESULT lookup_result = S_OK;
          hr = IdentifyFile(input_record.Get(), &again, &lookup_result, options, 2);
          if (!again) return E_FAIL;
          if (FAILED(hr)) return hr;
          if (CountOf(again.Get()) == 0) {
            ComPtr<CPelkFileInfo> copy = MakeObject<CPelkFileInfo>();
            hr = input_record->CopyPropertiesTo(copy.Get());
            if (SUCCEEDED(hr)) hr = again->AddFileInfo(copy.Get());
            if (FAILED(hr)) return hr;
            again->SetListMatchCode(LIST_MATCH_NONE);
          }
          candidates = again;
        }
        ComPtr<CPelkFileInfoList> answer;
        hr = PickSingleResult(candidates.Get(), &answer);
        if (SUCCEEDED(hr)) hr = result->AddFileInfoList(answer.Get());
        if (FAILED(hr)) return hr;
      }
    }

    hr = albums->SetOwnerManager(album_sink_);
    if (SUCCEEDED(hr)) hr = albums->RemoveMatchAndFiles(1);
    if (FAILED(hr)) return hr;
    // An empty list is left in place by the acceptance; take it out so the walk always ends.
    int32_t left = 0;
    if (SUCCEEDED(albums->get_Count(&left)) && left >= remaining) {
      hr = albums->RemoveFileInfoList(album.Get());
      if (FAILED(hr)) return hr;
    }
  }
  *selected = result;
  return S_OK;
}

HRESULT CPELKSonquixManager::CompleteAlbumDiscs(IPelkFileInfoList* list) {
  if (!list) return E_INVALIDARG;
  int32_t code = LIST_MATCH_NONE;
  list->GetListMatchCode(&code);
  if (code == LIST_MATCH_ERROR || code == LIST_MATCH_NONE) return S_FALSE;
  std::vector<ComPtr<IPelkFileInfo>> records;
  HRESULT hr = RecordsOf(list, &records);
  if (FAILED(hr) || records.empty()) return hr;

  // The first disc that knows the whole album, else the first record's disc fetched in full.
  ComPtr<IDiscInfo> full;
  for (const ComPtr<IPelkFileInfo>& record : records) {
    ComPtr<IDiscInfo> disc;
    int32_t tracks = 0;
    if (SUCCEEDED(record->get_Disc(disc.Out())) && disc &&
        SUCCEEDED(disc->get_TrackCount(&tracks)) && tracks > 1) {
      full = disc;
      break;
    }
  }
  if (!full) {
    ComPtr<IDiscInfo> first;
    records.front()->get_Disc(first.Out());
    if (!first) return S_FALSE;
    GetFullDisc(first.Get(), full.Out());
    if (!full) return S_FALSE;
  }

  for (const ComPtr<IPelkFileInfo>& record : records) {
    int32_t track = 0;
    if (FAILED(record->get_TrackNum(&track)) || track == 0) continue;
    ComPtr<IDiscInfo> copy;
    if (FAILED(full->Copy(copy.Out())) || !copy) continue;
    if (FAILED(copy->put_CurrentTrack(track)) || FAILED(record->put_Disc(copy.Get()))) continue;
    Bstr file_name;
    record->get_Filename(file_name.Out());
    ComPtr<IFileTag> tag;
    if (SUCCEEDED(TagFromDisc(file_name.View(), copy.Get(), track, tag.Out()))) {
      record->put_Tag(tag.Get());
    }
  }
  return S_OK;
}

}  // namespace pelk
