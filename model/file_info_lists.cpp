// The collection's published operations, collection access, the query-result operations and
// the ranking. Grouping and acceptance are in album_engine.cpp.
#include "model/file_info_lists.h"

#include <new>

#include "model/list_ordering.h"
#include "model/record_enumerator.h"

namespace pelk {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Rank of a list code in the album order: accepted albums first, failed files last.
int32_t CodeRank(int32_t code) {
  switch (code) {
    case LIST_MATCH_ALBUM_SINGLE:
      return 0;
    case LIST_MATCH_ALBUM_MULTIPLE:
      return 1;
    case LIST_MATCH_TRACK_SINGLE:
      return 2;
    case LIST_MATCH_TRACK_MULTIPLE:
      return 3;
    case LIST_MATCH_NONE:
      return 4;
    default:
      return 5;
  }
}

}  // namespace

HRESULT CPelkFileInfoLists::FirstFilename(IPelkFileInfoList* list, Bstr* name) {
  name->Reset();
  if (!list) return E_FAIL;
  return list->GetFileInfoFields(1, name->Out(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr);
}

bool CPelkFileInfoLists::HoldsFile(IPelkFileInfoList* list, std::u16string_view name) {
  ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(list);
  // The list's test compares its names cut to the buffer length; cutting the wanted name the
  // same way keeps a longer path findable.
  return ours && ours->IsFilenameInList(name.substr(0, kNameLimit));
}

bool CPelkFileInfoLists::ValidIndex(int32_t index) const {
  return index >= 1 && static_cast<size_t>(index) <= lists_.size();
}

// --- IPelkFileInfoLists ---

HRESULT CPelkFileInfoLists::GetFileInfoList(int32_t index, IPelkFileInfoList** list) {
  if (!list) return E_INVALIDARG;
  *list = nullptr;
  Lock lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  const ComPtr<IPelkFileInfoList>& stored = lists_[static_cast<size_t>(index - 1)];
  if (!stored) return E_FAIL;
  stored.CopyTo(list);
  return S_OK;
}

HRESULT CPelkFileInfoLists::get_Count(int32_t* count) {
  if (!count) return E_POINTER;
  Lock lock(mutex_);
  *count = static_cast<int32_t>(lists_.size());
  return S_OK;
}

HRESULT CPelkFileInfoLists::RemoveFileInfoList(IPelkFileInfoList* list) {
  if (!list) return E_INVALIDARG;
  Lock lock(mutex_);
  for (size_t i = 0; i < lists_.size(); ++i) {
    if (lists_[i] && SameObject(lists_[i].Get(), list)) {
      lists_.erase(lists_.begin() + static_cast<ptrdiff_t>(i));
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

HRESULT CPelkFileInfoLists::AddFileInfoList(IPelkFileInfoList* list) {
  Lock lock(mutex_);
  try {
    lists_.emplace_back(list);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CPelkFileInfoLists::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IPelkFileInfoLists::kIid ? S_OK : S_FALSE;
}

// --- collection access ---

HRESULT CPelkFileInfoLists::get_Item(int32_t index, VARIANT* item) {
  if (!item) return E_POINTER;
  VariantInit(item);
  if (index <= 0) return E_INVALIDARG;
  Lock lock(mutex_);
  if (static_cast<size_t>(index) > lists_.size()) return E_FAIL;
  IDispatch* dispatch = nullptr;
  if (const ComPtr<IPelkFileInfoList>& stored = lists_[static_cast<size_t>(index - 1)]) {
    const HRESULT hr = stored->QueryInterface(IDispatch::kIid, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr)) return hr;
  }
  item->vt = VT_DISPATCH;
  item->pdispVal = dispatch;
  return S_OK;
}

HRESULT CPelkFileInfoLists::get__NewEnum(IUnknown** enumerator) {
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  std::shared_ptr<ListEnumerator::Snapshot> snapshot;
  try {
    snapshot = std::make_shared<ListEnumerator::Snapshot>(Lists());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  ComPtr<ListEnumerator> made = MakeObject<ListEnumerator>(std::move(snapshot), 0);
  if (!made) return E_OUTOFMEMORY;
  *enumerator = made.Detach();
  return S_OK;
}

std::vector<ComPtr<IPelkFileInfoList>> CPelkFileInfoLists::Lists() {
  Lock lock(mutex_);
  return lists_;
}

// --- as a query-result collection ---

HRESULT CPelkFileInfoLists::GetFileInfoListByFilename(std::u16string_view name,
                                                      IPelkFileInfoList** list) {
  if (name.empty()) return E_INVALIDARG;
  if (!list) return E_POINTER;
  *list = nullptr;
  Lock lock(mutex_);
  for (const ComPtr<IPelkFileInfoList>& stored : lists_) {
    Bstr first;
    if (FAILED(FirstFilename(stored.Get(), &first))) continue;
    if (!first.Empty() && first.View() == name) {
      stored.CopyTo(list);
      break;
    }
  }
  return S_OK;
}

HRESULT CPelkFileInfoLists::GetQueryResultCount(int32_t* count) {
  if (!count) return E_POINTER;
  Lock lock(mutex_);
  int32_t found = 0;
  for (const ComPtr<IPelkFileInfoList>& stored : lists_) {
    if (!stored) break;
    ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(stored.Get());
    if (!ours) return E_NOINTERFACE;
    bool has = false;
    const HRESULT hr = ours->HasQueryResults(&has);
    if (FAILED(hr)) return hr;
    if (has) ++found;
  }
  *count = found;
  return S_OK;
}

HRESULT CPelkFileInfoLists::GetQueryResult(int32_t n, IPelkFileInfoList** list) {
  if (!list) return E_POINTER;
  *list = nullptr;
  Lock lock(mutex_);
  int32_t count = 0;
  HRESULT hr = GetQueryResultCount(&count);
  if (FAILED(hr)) return hr;
  if (n < 1 || n > count) return E_INVALIDARG;
  for (const ComPtr<IPelkFileInfoList>& stored : lists_) {
    ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(stored.Get());
    if (!ours) return E_FAIL;
    bool has = false;
    if (FAILED(hr = ours->HasQueryResults(&has))) return hr;
    if (has && --n == 0) {
      stored.CopyTo(list);
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT CPelkFileInfoLists::FileInGoodAlbumIDResult(std::u16string_view name, bool* found) {
  if (name.empty() || !found) return E_INVALIDARG;
  Lock lock(mutex_);
  *found = false;
  for (const ComPtr<IPelkFileInfoList>& stored : lists_) {
    int32_t count = 0;
    if (!stored || FAILED(stored->get_Count(&count)) || count <= 1) continue;
    if (HoldsFile(stored.Get(), name)) {
      *found = true;
      break;
    }
  }
  return S_OK;
}

HRESULT CPelkFileInfoLists::AddTrackIDResult(IPelkFileInfoList* list) {
  if (!list) return E_INVALIDARG;
  Lock lock(mutex_);
  Bstr name;
  HRESULT hr = FirstFilename(list, &name);
  if (FAILED(hr)) return hr;
  if (name.Empty()) return E_FAIL;
  ComPtr<IPelkFileInfoList> held;
  if (FAILED(hr = GetFileInfoListByFilename(name.View(), held.Out()))) return hr;
  if (!held) return AddFileInfoList(list);
  ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(held.Get());
  if (!ours) return E_NOINTERFACE;
  if (FAILED(hr = ours->AppendFileInfoListMatchesNoDuplicate(list))) return hr;
  return ours->SortItemsByMatchQuality();
}

HRESULT CPelkFileInfoLists::AddTrackIDResults(IPelkFileInfoLists* lists) {
  if (!lists) return E_INVALIDARG;
  Lock lock(mutex_);
  int32_t count = 0;
  HRESULT hr = lists->get_Count(&count);
  if (FAILED(hr)) return hr;
  for (int32_t i = 1; i <= count; ++i) {
    ComPtr<IPelkFileInfoList> list;
    if (FAILED(hr = lists->GetFileInfoList(i, list.Out()))) return hr;
    if (FAILED(hr = AddTrackIDResult(list.Get()))) return hr;
  }
  return S_OK;
}

// --- ranking ---

HRESULT CPelkFileInfoLists::HighConfidenceResults() {
  Lock lock(mutex_);
  HRESULT hr = S_OK;
  for (size_t i = 0; i < lists_.size();) {
    const ComPtr<IPelkFileInfoList> list = lists_[i];
    int32_t count = 0;
    if (!list || FAILED(list->get_Count(&count)) || count != 1) {
      ++i;
      continue;
    }
    Bstr name;
    bool in_album = false;
    if (FAILED(hr = FirstFilename(list.Get(), &name)) ||
        FAILED(hr = FileInGoodAlbumIDResult(name.View(), &in_album))) {
      break;
    }
    if (in_album) {
      lists_.erase(lists_.begin() + static_cast<ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return hr;
}

HRESULT CPelkFileInfoLists::SortAlbumsByMatchTypeCountScore() {
  Lock lock(mutex_);
  struct Ranked {
    ComPtr<IPelkFileInfoList> list;
    int32_t rank = 5;
    int32_t count = 0;
    int32_t score = 0;
  };
  std::vector<Ranked> ranked;
  try {
    ranked.reserve(lists_.size());
    for (const ComPtr<IPelkFileInfoList>& list : lists_) {
      Ranked item{list};
      if (!list || FAILED(list->get_Count(&item.count)) || item.count <= 0) continue;
      int32_t code = LIST_MATCH_NONE;
      if (FAILED(list->GetListMatchCode(&code))) code = LIST_MATCH_NONE;
      item.rank = CodeRank(code);
      ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(list.Get());
      if (!ours || FAILED(ours->GetScore(&item.score))) item.score = 0;
      ranked.push_back(std::move(item));
    }
    StableMergeSort(ranked, [](const Ranked& a, const Ranked& b) {
      if (a.rank != b.rank) return a.rank < b.rank;
      if (a.count != b.count) return a.count > b.count;
      return a.score > b.score;
    });
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  lists_.clear();
  for (Ranked& item : ranked) lists_.push_back(std::move(item.list));
  return S_OK;
}

int32_t CPelkFileInfoLists::ResultCount() {
  Lock lock(mutex_);
  return result_count_;
}

int32_t CPelkFileInfoLists::ProcessedCount() {
  Lock lock(mutex_);
  return processed_count_;
}

}  // namespace pelk
