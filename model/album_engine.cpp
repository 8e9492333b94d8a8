// The album engine of the list of lists: grouping the query results into albums and accepting
// an album with its files.
#include <array>

#include "model/file_info_lists.h"
#include "runtime/decimal.h"

namespace pelk {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// The highest track an album collects when its disc does not say how many tracks it has.
constexpr int32_t kLastTrack = CPelkFileInfoLists::kTrackTableSize - 1;

bool InTrackTable(int32_t track) {
  return track >= 0 && track < CPelkFileInfoLists::kTrackTableSize;
}

// A new list holding record alone.
HRESULT SingleList(IPelkFileInfo* record, IPelkFileInfoList** list) {
  ComPtr<CPelkFileInfoList> single = MakeObject<CPelkFileInfoList>();
  if (!single) return E_OUTOFMEMORY;
  const HRESULT hr = single->AddFileInfo(record);
  if (FAILED(hr)) return hr;
  ComPtr<IPelkFileInfoList>(single).CopyTo(list);
  return S_OK;
}

// Whether list holds the very record.
bool HoldsRecord(IPelkFileInfoList* list, IPelkFileInfo* record) {
  std::vector<ComPtr<IPelkFileInfo>> records;
  if (!list || FAILED(RecordsOf(list, &records))) return false;
  for (const ComPtr<IPelkFileInfo>& held : records) {
    if (SameObject(held.Get(), record)) return true;
  }
  return false;
}

// The implementation behind a record: grouping needs its placement flag.
HRESULT OurRecord(IPelkFileInfo* record, ComPtr<CPelkFileInfo>* ours) {
  *ours = ImplOf<CPelkFileInfo>(record);
  return *ours ? S_OK : E_NOINTERFACE;
}

}  // namespace

HRESULT CPelkFileInfoLists::GetResultLists(CPelkFileInfoLists** lists) {
  if (!lists) return E_INVALIDARG;
  Lock lock(mutex_);
  result_lists_.CopyTo(lists);
  return S_OK;
}

HRESULT CPelkFileInfoLists::SetResultLists(CPelkFileInfoLists* lists) {
  // Its own query results would be a reference cycle, and grouping would empty what it reads.
  if (!lists || lists == this) return E_INVALIDARG;
  Lock lock(mutex_);
  int32_t count = 0;
  const HRESULT hr = lists->get_Count(&count);
  if (FAILED(hr)) return hr;
  result_lists_ = lists;
  result_count_ = count;
  processed_count_ = 0;
  return S_OK;
}

HRESULT CPelkFileInfoLists::SetOwnerManager(std::weak_ptr<AlbumStatusSink> owner) {
  if (owner.expired()) return E_INVALIDARG;
  Lock lock(mutex_);
  owner_ = std::move(owner);
  return S_OK;
}

HRESULT CPelkFileInfoLists::SetResultsListDiscMatches(bool taken) {
  Lock lock(mutex_);
  if (!result_lists_) return E_FAIL;
  HRESULT first_failure = S_OK;
  for (const ComPtr<IPelkFileInfoList>& list : result_lists_->Lists()) {
    std::vector<ComPtr<IPelkFileInfo>> records;
    HRESULT hr = RecordsOf(list.Get(), &records);
    for (const ComPtr<IPelkFileInfo>& record : records) {
      ComPtr<CPelkFileInfo> ours;
      if (SUCCEEDED(hr)) hr = OurRecord(record.Get(), &ours);
      if (ours) ours->SetTaken(taken);
    }
    if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
  }
  return first_failure;
}

HRESULT CPelkFileInfoLists::BuildAlbumMatch(IPelkFileInfo* seed, IPelkFileInfoList** album,
                                            int32_t* code) {
  if (!seed || !album || !code) return E_INVALIDARG;
  *album = nullptr;
  Lock lock(mutex_);
  if (!result_lists_) return E_UNEXPECTED;

  ComPtr<CPelkFileInfo> seed_record;
  HRESULT hr = OurRecord(seed, &seed_record);
  if (FAILED(hr)) return hr;
  Bstr seed_name;
  ComPtr<IDiscInfo> disc;
  if (FAILED(hr = seed_record->get_Filename(seed_name.Out())) ||
      FAILED(hr = seed_record->get_Disc(disc.Out()))) {
    return hr;
  }
  if (!disc) return E_POINTER;
  int32_t seed_track = 0;
  Bstr track_count;
  if (FAILED(hr = disc->get_CurrentTrack(&seed_track)) ||
      FAILED(hr = disc->GetNamedText(Bstr(u"track_count").Get(), track_count.Out()))) {
    return hr;
  }
  const int32_t last_track =
      track_count.Empty() ? kLastTrack : std::min(DecimalValue(track_count.View()), kLastTrack);

  // Who holds each track. Every record here is placed (Taken); a record never holds two tracks.
  std::array<ComPtr<CPelkFileInfo>, kTrackTableSize> holder;
  if (InTrackTable(seed_track)) holder[static_cast<size_t>(seed_track)] = seed_record;
  // A record placed here must end in the album or be released: a placed record that is in no
  // list is skipped by every later grouping step and its file would be lost.
  auto fail = [&](HRESULT failure) {
    for (ComPtr<CPelkFileInfo>& record : holder) {
      if (record && record != seed_record) record->SetTaken(false);
    }
    return failure;
  };
  int32_t distinct = 1;
  int32_t unverified = 0;
  if (*code == 2) {
    unverified = 1;
    *code = 0;
  }

  DiscComparer comparer;
  for (const ComPtr<IPelkFileInfoList>& list : result_lists_->Lists()) {
    Bstr name;
    if (FAILED(hr = FirstFilename(list.Get(), &name))) return fail(hr);
    if (name.View() == seed_name.View()) continue;  // the seed's own candidates
    int32_t count = 0;
    if (FAILED(hr = list->get_Count(&count))) return fail(hr);
    for (int32_t j = 1; j <= count; ++j) {
      ComPtr<IPelkFileInfo> entry;
      ComPtr<CPelkFileInfo> candidate;
      if (FAILED(hr = list->GetFileInfo(j, entry.Out())) ||
          FAILED(hr = OurRecord(entry.Get(), &candidate))) {
        return fail(hr);
      }
      if (candidate->Taken()) continue;
      // A candidate whose disc cannot be read or compared cannot join this album; it stays
      // free and is judged as a seed of its own.
      ComPtr<IDiscInfo> candidate_disc;
      bool same = false;
      if (FAILED(candidate->get_Disc(candidate_disc.Out())) ||
          FAILED(comparer.IsSameDisc(disc.Get(), candidate_disc.Get(), &same)) || !same) {
        continue;
      }
      int32_t track = 0;
      if (FAILED(candidate->get_TrackNum(&track)) || !InTrackTable(track)) continue;
      ComPtr<CPelkFileInfo>& slot = holder[static_cast<size_t>(track)];
      // A track the album cannot hold (0, or beyond its count) keeps its first holder: the
      // winner would be released at the end all the same, and a displaced seed examined again
      // would be displaced again without end.
      if (slot && (track < 1 || track > last_track)) continue;
      if (slot) {
        int32_t score = 0, held_score = 0;
        if (FAILED(hr = candidate->GetScore(&score)) || FAILED(hr = slot->GetScore(&held_score))) {
          return fail(hr);
        }
        if (score <= held_score) continue;  // equal scores keep the first placed
        slot->SetTaken(false);
      } else {
        ++distinct;
      }
      candidate->SetTaken(true);
      slot = candidate;
      if (*code != 1) {
        ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(list.Get());
        if (!ours) return fail(E_NOINTERFACE);
        int32_t verdict = 0;
        if (FAILED(hr = ours->VerifyWFAgainstInfo(j, &verdict))) return fail(hr);
        if (verdict == 1) {
          *code = 1;
        } else if (verdict == 2) {
          ++unverified;
        }
      }
      break;  // one candidate per other file
    }
  }

  ComPtr<CPelkFileInfoList> made = MakeObject<CPelkFileInfoList>();
  if (!made) return fail(E_OUTOFMEMORY);
  ComPtr<IPelkFileInfoList>(made).CopyTo(album);
  if (*code != 1 && (distinct - unverified) * 100 / distinct < 50) *code = 2;
  const bool accepted = *code == 1 || *code == 2;
  HRESULT result = S_OK;
  std::array<bool, kTrackTableSize> in_album{};
  for (int32_t t = 1; t <= last_track; ++t) {
    const ComPtr<CPelkFileInfo>& record = holder[static_cast<size_t>(t)];
    if (!record || !accepted) continue;
    hr = made->AddFileInfo(record.Get());
    if (SUCCEEDED(hr)) {
      in_album[static_cast<size_t>(t)] = true;
    } else if (SUCCEEDED(result)) {
      result = hr;
    }
  }
  // Members on track 0 or beyond the disc's count, of a rejected album, or that could not be
  // appended go free again. The seed is its caller's: it examined it and places it.
  for (int32_t t = 0; t < kTrackTableSize; ++t) {
    ComPtr<CPelkFileInfo>& record = holder[static_cast<size_t>(t)];
    if (record && record != seed_record && !in_album[static_cast<size_t>(t)]) {
      record->SetTaken(false);
    }
  }
  if (!accepted && seed_track >= 1 && seed_track <= last_track &&
      holder[static_cast<size_t>(seed_track)] == seed_record) {
    seed_record->SetTaken(false);  // released with its rejected album
  }
  return result;
}

HRESULT CPelkFileInfoLists::BuildAlbumLists(AlbumStatusSink* sink) {
  Lock lock(mutex_);
  if (!result_lists_) return S_OK;
  if (!sink) return E_INVALIDARG;
  HRESULT hr = SetResultsListDiscMatches(false);
  if (FAILED(hr)) return hr;
  lists_.clear();

  const std::vector<ComPtr<IPelkFileInfoList>> results = result_lists_->Lists();
  const int32_t n = static_cast<int32_t>(results.size());
  for (int32_t i = 1; i <= n; ++i) {
    IPelkFileInfoList* list = results[static_cast<size_t>(i - 1)].Get();
    Bstr name;
    if (FAILED(hr = FirstFilename(list, &name))) return hr;
    if (sink->AlbumIDStatusUpdate(STATUS_ALBUMID_Processing, name.View(), i, n) != 0) {
      return E_ABORT;
    }
    int32_t list_code = LIST_MATCH_ERROR;
    list->GetListMatchCode(&list_code);
    if (list_code == LIST_MATCH_ERROR) {  // a failed file stays one list, shared
      if (FAILED(hr = AddFileInfoList(list))) return hr;
      continue;
    }
    ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(list);
    int32_t count = 0;
    if (FAILED(hr = list->get_Count(&count))) return hr;
    // A seed that a better candidate displaced is examined again (j steps back). This ends:
    // each step back leaves its displacer placed for the rest of the rebuild.
    for (int32_t j = 1; j <= count; ++j) {
      ComPtr<IPelkFileInfo> entry;
      ComPtr<CPelkFileInfo> candidate;
      if (FAILED(hr = list->GetFileInfo(j, entry.Out())) ||
          FAILED(hr = OurRecord(entry.Get(), &candidate))) {
        return hr;
      }
      if (candidate->Taken()) continue;
      candidate->SetTaken(true);
      int32_t type = MATCH_TYPE_NONE;
      candidate->get_MatchType(&type);
      ComPtr<IPelkFileInfoList> made;
      int32_t made_code = LIST_MATCH_NONE;
      if (type == MATCH_TYPE_NONE || type == MATCH_TYPE_TXT_ALBUM_LEVEL) {
        if (FAILED(hr = SingleList(entry.Get(), made.Out()))) return hr;
      } else {
        int32_t verdict = 0;
        if (!ours || FAILED(ours->VerifyWFAgainstInfo(j, &verdict))) verdict = 0;
        if (FAILED(BuildAlbumMatch(entry.Get(), made.Out(), &verdict))) {
          // A seed whose disc cannot be read or grouped stands alone, like a rejected seed.
          made.Reset();
          if (FAILED(hr = SingleList(entry.Get(), made.Out()))) return hr;
        } else if (verdict == 1 || verdict == 2) {
          made_code = LIST_MATCH_ALBUM_MULTIPLE;
          if (!candidate->Taken()) {
            --j;
          } else if (!HoldsRecord(made.Get(), entry.Get())) {
            // Its track lies outside the album's table: the album grows from the other files
            // and the seed stands alone beside it.
            ComPtr<IPelkFileInfoList> alone;
            if (FAILED(hr = SingleList(entry.Get(), alone.Out()))) return hr;
            alone->SetListMatchCode(LIST_MATCH_NONE);
            if (FAILED(hr = AddFileInfoList(alone.Get()))) return hr;
          }
        } else if (FAILED(hr = made->AddFileInfo(entry.Get()))) {
          return hr;
        }
      }
      made->SetListMatchCode(made_code);
      if (FAILED(hr = AddFileInfoList(made.Get()))) return hr;
    }
  }
  return SortAlbumsByMatchTypeCountScore();
}

HRESULT CPelkFileInfoLists::RemoveMatchAndFiles(int32_t index) {
  Lock lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  ComPtr<IPelkFileInfoList> match;
  HRESULT hr = GetFileInfoList(index, match.Out());
  if (FAILED(hr)) return hr;
  if (result_lists_) {
    int32_t count = 0;
    if (FAILED(hr = match->get_Count(&count))) return hr;
    if (count == 0) return S_OK;
    DiscComparer comparer;
    for (int32_t i = 1; i <= count; ++i) {
      Bstr file;
      if (FAILED(hr = match->GetFileInfoFields(i, file.Out(), nullptr, nullptr, nullptr, nullptr,
                                               nullptr, nullptr))) {
        return hr;
      }
      if (!file.Empty()) {
        ComPtr<IPelkFileInfoList> answered;
        result_lists_->GetFileInfoListByFilename(file.View(), answered.Out());
        if (answered) result_lists_->RemoveFileInfoList(answered.Get());
      }
      // A snapshot: the status event below may let the host change this collection.
      for (const ComPtr<IPelkFileInfoList>& other : Lists()) {
        if (!other || SameObject(other.Get(), match.Get())) continue;
        if (FAILED(hr = RemoveFileFrom(other.Get(), match.Get(), file.View(), comparer))) {
          return hr;
        }
      }
      if (std::shared_ptr<AlbumStatusSink> owner = owner_.lock()) {
        ++processed_count_;
        if (owner->AlbumIDStatusUpdate(STATUS_ALBUMID_Processed, file.View(), processed_count_,
                                       result_count_) != 0) {
          return E_ABORT;
        }
      }
    }
  }
  RemoveFileInfoList(match.Get());
  return SortAlbumsByMatchTypeCountScore();
}

HRESULT CPelkFileInfoLists::RemoveFileFrom(IPelkFileInfoList* other, IPelkFileInfoList* match,
                                           std::u16string_view file, DiscComparer& comparer) {
  if (file.empty()) return S_OK;
  int32_t count = 0;
  HRESULT hr = other->get_Count(&count);
  if (FAILED(hr)) return hr;
  bool refilled = false;
  for (int32_t j = 1; j <= count;) {
    ComPtr<IPelkFileInfo> entry;
    Bstr name;
    if (FAILED(hr = other->GetFileInfo(j, entry.Out())) ||
        FAILED(hr = entry->get_Filename(name.Out()))) {
      return hr;
    }
    if (name.View() != file) {
      ++j;
      continue;
    }
    ComPtr<IDiscInfo> disc;
    int32_t track = 0;
    if (FAILED(hr = entry->get_Disc(disc.Out())) || FAILED(hr = entry->get_TrackNum(&track)) ||
        FAILED(hr = other->RemoveFileInfo(entry.Get()))) {
      return hr;
    }
    --count;  // the walk goes on at the same position
    ComPtr<CPelkFileInfo> replacement;
    hr = FindReplacement(match, other, file, disc.Get(), track, comparer, &replacement);
    if (FAILED(hr)) return hr;
    if (replacement) {
      replacement->SetTaken(true);
      if (FAILED(hr = other->AddFileInfo(replacement.Get()))) return hr;
      ++count;
      refilled = true;
    }
  }
  if (refilled) {
    if (ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(other)) {
      ours->SortItemsByTrackNum();
    }
  }
  return S_OK;
}

HRESULT CPelkFileInfoLists::FindReplacement(IPelkFileInfoList* match, IPelkFileInfoList* other,
                                            std::u16string_view file, IDiscInfo* disc,
                                            int32_t track, DiscComparer& comparer,
                                            ComPtr<CPelkFileInfo>* found) {
  found->Reset();
  if (!disc) return S_OK;  // nothing is on the same disc as no disc
  int32_t best = 0;
  HRESULT hr = S_OK;
  for (const ComPtr<IPelkFileInfoList>& list : result_lists_->Lists()) {
    Bstr name;
    if (FAILED(FirstFilename(list.Get(), &name))) continue;
    // A file already in the list being refilled would appear in it twice.
    if (name.View() == file || HoldsFile(match, name.View()) || HoldsFile(other, name.View())) {
      continue;
    }
    std::vector<ComPtr<IPelkFileInfo>> entries;
    if (FAILED(hr = RecordsOf(list.Get(), &entries))) return hr;
    for (const ComPtr<IPelkFileInfo>& entry : entries) {
      ComPtr<CPelkFileInfo> candidate;
      if (FAILED(hr = OurRecord(entry.Get(), &candidate))) return hr;
      if (candidate->Taken()) continue;
      int32_t candidate_track = 0;
      if (FAILED(hr = candidate->get_TrackNum(&candidate_track))) return hr;
      if (candidate_track != track) continue;
      ComPtr<IDiscInfo> candidate_disc;
      bool same = false;
      if (FAILED(hr = candidate->get_Disc(candidate_disc.Out())) ||
          FAILED(hr = comparer.IsSameDisc(disc, candidate_disc.Get(), &same))) {
        return hr;
      }
      if (!same) continue;
      int32_t score = 0;
      if (FAILED(hr = candidate->GetScore(&score))) return hr;
      if (!*found || score > best) {
        *found = candidate;
        best = score;
      }
    }
  }
  return S_OK;
}

}  // namespace pelk
