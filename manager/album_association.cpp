// The two single-answer helpers of album identification that save lookups:
//  - the waveform pre-query gives files without a usable tag a waveform hint (artist and
//    title), so that ordering the list by metadata puts the files of one album side by side;
//  - the album association: when the two latest files share a disc, the other files of the
//    list are scored against its tracks, and those that fit join the album without a lookup
//    of their own.
#include <string>
#include <utility>
#include <vector>

#include "control/tag_utils.h"
#include "manager/result_records.h"
#include "manager/sonquix_manager.h"
#include "model/file_info.h"
#include "model/file_info_list.h"
#include "model/file_info_lists.h"
#include "runtime/bstr.h"

namespace pelk {
namespace {

constexpr size_t kIdentifierBufferSize = 1024;
// A file joins an album at this track score.
constexpr int32_t kAssociationScore = 80;
// The walk gives up below 30 per cent associated after 6 files, or after 21 misses in a row.
constexpr int32_t kMinTried = 6;
constexpr int32_t kMinAverage = 30;
constexpr int32_t kMaxMissesInARow = 20;
// An album's associations are kept while its average record score is 80 or more.
constexpr int32_t kGoodListScore = 800000;

bool IsFullDisc(IDiscInfo* disc) {
  int32_t tracks = 0;
  return disc && SUCCEEDED(disc->get_TrackCount(&tracks)) && tracks > 1;
}

// A copy of disc whose current track is track; null when either step fails.
ComPtr<IDiscInfo> DiscAtTrack(IDiscInfo* disc, int32_t track) {
  ComPtr<IDiscInfo> copy;
  if (FAILED(disc->Copy(copy.Out())) || !copy) return nullptr;
  if (FAILED(copy->put_CurrentTrack(track))) return nullptr;
  return copy;
}

// When exactly one of the two records' discs is full, the other record moves to a copy of it
// at its own track; otherwise both keep their discs.
void ShareFullDisc(IPelkFileInfo* first, IPelkFileInfo* second) {
  ComPtr<IDiscInfo> first_disc, second_disc;
  first->get_Disc(first_disc.Out());
  second->get_Disc(second_disc.Out());
  const bool first_full = IsFullDisc(first_disc.Get());
  const bool second_full = IsFullDisc(second_disc.Get());
  if (first_full == second_full) return;
  IPelkFileInfo* target = first_full ? second : first;
  IDiscInfo* full = first_full ? first_disc.Get() : second_disc.Get();
  int32_t track = 0;
  target->get_TrackNum(&track);
  if (ComPtr<IDiscInfo> copy = DiscAtTrack(full, track)) target->put_Disc(copy.Get());
}

// Whether the tag already names the file well enough for its own lookups: an identifier, the
// store identifiers with a track, or both artist and title.
bool TagIdentifiesFile(std::u16string_view file_name, IFileTag* tag) {
  Bstr identifier;
  if (SUCCEEDED(tag->get_Identifier(identifier.Out())) && !identifier.Empty()) return true;
  std::u16string first, second;
  int32_t track = 0;
  if (SUCCEEDED(ParseITunesIds(file_name, tag, &first, kIdentifierBufferSize, &second,
                               kIdentifierBufferSize, &track)) &&
      !first.empty() && !second.empty() && track != 0) {
    return true;
  }
  Bstr artist, title;
  return SUCCEEDED(tag->get_Artist(artist.Out())) && !artist.Empty() &&
         SUCCEEDED(tag->get_Title(title.Out())) && !title.Empty();
}

}  // namespace

HRESULT CPELKSonquixManager::WaveformPreQuery(CPelkFileInfoList* list, int32_t options) {
  if (!list) return E_INVALIDARG;
  if (options & SONQUIX_DISABLE_WF_QUERIES) return S_OK;
  StartPrefetch(list, options);
  const std::vector<ComPtr<IPelkFileInfo>> entries = list->Records();
  const int32_t n = static_cast<int32_t>(entries.size());
  HRESULT hr = S_OK;
  for (int32_t i = 1; i <= n && SUCCEEDED(hr); ++i) {
    ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(entries[i - 1].Get());
    ComPtr<IFileTag> tag;
    if (record) record->get_Tag(tag.Out());
    if (!tag) {
      hr = E_FAIL;
      break;
    }
    Bstr file_name;
    record->get_Filename(file_name.Out());
    if (TagIdentifiesFile(file_name.View(), tag.Get())) continue;
    if (events_.AlbumIDStatusUpdate(STATUS_ALBUMID_QueryingWF, file_name.View(), i, n) != 0 ||
        !IsInitialized()) {
      hr = E_ABORT;
      break;
    }
    // The candidates stay on the record (its waveform list), which the main lookup reuses.
    ComPtr<CPelkFileInfoList> candidates;
    HRESULT lookup_result = S_OK;
    WaveformLookupHelper(record.Get(), &candidates, &lookup_result, options);
  }
  StopPrefetch();
  return hr;
}

HRESULT CPELKSonquixManager::AssociateAlbum(CPelkFileInfoList* list, int32_t position,
                                            CPelkFileInfoLists* query_results,
                                            ComPtr<CPelkFileInfoLists>* per_file) {
  if (!list || !query_results) return E_INVALIDARG;
  if (!per_file) return E_POINTER;
  per_file->Reset();
  int32_t k = 0;
  HRESULT hr = query_results->GetQueryResultCount(&k);
  if (FAILED(hr)) return hr;
  if (k < 2) return S_OK;
  ComPtr<IPelkFileInfoList> earlier_list, later_list;
  hr = query_results->GetQueryResult(k - 1, earlier_list.Out());
  if (SUCCEEDED(hr)) hr = query_results->GetQueryResult(k, later_list.Out());
  if (FAILED(hr)) return hr;
  ComPtr<CPelkFileInfoList> later = ImplOf<CPelkFileInfoList>(later_list.Get());
  if (!later) return E_INVALIDARG;
  ComPtr<ILookupEngine> engine = Engine();
  if (!engine) return E_ABORT;

  // Pairs: each candidate of the earlier file with a disc, and the first candidate of the
  // later file on that disc.
  std::vector<ComPtr<IPelkFileInfo>> earlier_records, later_records;
  hr = RecordsOf(earlier_list.Get(), &earlier_records);
  if (SUCCEEDED(hr)) hr = RecordsOf(later.Get(), &later_records);
  if (FAILED(hr)) return hr;
  std::vector<ComPtr<IPelkFileInfo>> pairs;
  for (const ComPtr<IPelkFileInfo>& x : earlier_records) {
    ComPtr<IDiscInfo> x_disc;
    if (FAILED(x->get_Disc(x_disc.Out())) || !x_disc) continue;
    for (const ComPtr<IPelkFileInfo>& y : later_records) {
      ComPtr<IDiscInfo> y_disc;
      int32_t same = 0;
      if (FAILED(y->get_Disc(y_disc.Out())) || !y_disc ||
          FAILED(engine->IsSameDisc(x_disc.Get(), y_disc.Get(), 0, &same)) || same == 0) {
        continue;
      }
      ShareFullDisc(x.Get(), y.Get());
      pairs.push_back(x);
      break;
    }
  }
  if (pairs.empty()) return S_OK;

  const std::vector<ComPtr<IPelkFileInfo>> files = list->Records();
  const int32_t n = static_cast<int32_t>(files.size());
  ComPtr<CPelkFileInfoLists> associations = MakeObject<CPelkFileInfoLists>();
  for (const ComPtr<IPelkFileInfo>& x : pairs) {
    ComPtr<IDiscInfo> x_disc;
    x->get_Disc(x_disc.Out());
    ComPtr<IPelkFileInfo> y;
    hr = later->GetFileInfoByDisc(x_disc.Get(), y.Out());
    if (FAILED(hr)) return hr;
    if (!y) continue;
    // The album's disc: x's when it is full (step one made both full then), else fetched.
    ComPtr<IDiscInfo> disc = x_disc;
    if (!IsFullDisc(disc.Get())) {
      ComPtr<IDiscInfo> fetched;
      GetFullDisc(x_disc.Get(), fetched.Out());
      if (fetched) disc = fetched;
      int32_t y_track = 0;
      y->get_TrackNum(&y_track);
      if (ComPtr<IDiscInfo> copy = DiscAtTrack(disc.Get(), y_track)) y->put_Disc(copy.Get());
      x->put_Disc(disc.Get());
    }
    ComPtr<CPelkFileInfoList> album = MakeObject<CPelkFileInfoList>();
    hr = album->AddFileInfo(x.Get());
    if (SUCCEEDED(hr)) hr = album->AddFileInfo(y.Get());
    if (FAILED(hr)) return hr;

    // Every other file once, from the one before this file onwards, wrapping around.
    int32_t tried = 0, total = 0, misses_in_a_row = 0;
    for (int32_t step = 0; step < n; ++step) {
      const int32_t index = ((position - 2 + step) % n + n) % n;
      ComPtr<CPelkFileInfo> record = ImplOf<CPelkFileInfo>(files[index].Get());
      if (!record) continue;
      Bstr file_name;
      record->get_Filename(file_name.Out());
      if (file_name.Empty()) return E_FAIL;
      if (album->IsFilenameInList(file_name.View())) continue;

      bool associated = false;
      int32_t track = 0, score = 0;
      if (SUCCEEDED(record->GetBestTrackNumForDisc(disc.Get(), &track, &score)) &&
          score >= kAssociationScore) {
        ComPtr<IDiscInfo> track_disc = DiscAtTrack(disc.Get(), track);
        ComPtr<CPelkFileInfo> joined;
        if (track_disc && SUCCEEDED(BuildRecordForDisc(*this, file_name.View(), record.Get(),
                                                       track_disc.Get(), &joined, true))) {
          joined->put_SonquixMatchCode(SONQUIX_MATCH_EXACT);
          joined->put_PELKMatchCode(3);
          joined->put_MatchType(MATCH_TYPE_ALBUM_ASSOCIATED);
          associated = SUCCEEDED(album->AddFileInfo(joined.Get()));
        }
      }
      ++tried;
      if (associated) {
        total += 100;
        misses_in_a_row = 0;
      } else {
        ++misses_in_a_row;
      }
      if ((tried >= kMinTried && total / tried < kMinAverage) ||
          misses_in_a_row > kMaxMissesInARow) {
        break;
      }
    }
    if (StatusAborts(STATUS_SONQUIX_CheckForAbort, u"")) return E_ABORT;
    hr = associations->AddFileInfoList(album.Get());
    if (FAILED(hr)) return hr;
  }

  // The good albums, best first, become per-file lists of associated candidates.
  hr = associations->SortAlbumsByMatchTypeCountScore();
  if (FAILED(hr)) return hr;
  ComPtr<CPelkFileInfoLists> result = MakeObject<CPelkFileInfoLists>();
  for (const ComPtr<IPelkFileInfoList>& album : associations->Lists()) {
    ComPtr<CPelkFileInfoList> impl = ImplOf<CPelkFileInfoList>(album.Get());
    int32_t score = 0;
    if (!impl || FAILED(impl->GetScore(&score)) || score < kGoodListScore) break;
    for (const ComPtr<IPelkFileInfo>& entry : impl->Records()) {
      Bstr file_name;
      entry->get_Filename(file_name.Out());
      if (file_name.Empty()) continue;
      ComPtr<IPelkFileInfoList> held;
      hr = result->GetFileInfoListByFilename(file_name.View(), held.Out());
      if (FAILED(hr)) return hr;
      if (ComPtr<CPelkFileInfoList> own = ImplOf<CPelkFileInfoList>(held.Get())) {
        hr = own->AddFileInfoNoDuplicate(entry.Get());
      } else {
        ComPtr<CPelkFileInfoList> fresh = MakeObject<CPelkFileInfoList>();
        fresh->SetListMatchCode(LIST_MATCH_ALBUM_SINGLE_ASSOCIATED);
        hr = fresh->AddFileInfo(entry.Get());
        if (SUCCEEDED(hr)) hr = result->AddFileInfoList(fresh.Get());
      }
      if (FAILED(hr)) return hr;
    }
  }
  *per_file = result;
  return S_OK;
}

}  // namespace pelk
