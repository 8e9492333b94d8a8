// The list's orderings, sorted insertion, pops and data retrieval.
#include <new>
#include <numeric>

#include "control/tag_utils.h"
#include "model/file_info_list.h"
#include "text/case_fold.h"

namespace pelk {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

}  // namespace

// --- orderings ---

void CPelkFileInfoList::SortBy(Before before) {
  const size_t n = entries_.size();
  if (n < 2) return;
  try {
    std::vector<OrderingFacts> facts;
    facts.reserve(n);
    for (const Entry& entry : entries_) facts.emplace_back(entry.impl.Get());
    // Sorting positions keeps the facts of each record in one place while the order changes.
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    StableMergeSort(order, [&](uint32_t a, uint32_t b) { return before(facts[a], facts[b]); });
    std::vector<Entry> sorted;
    sorted.reserve(n);
    for (uint32_t i : order) sorted.push_back(std::move(entries_[i]));
    entries_.swap(sorted);
  } catch (const std::bad_alloc&) {
    // Without memory for the work buffers the list keeps its order (nothing has moved yet:
    // every allocation precedes the first move).
  }
}

HRESULT CPelkFileInfoList::SortItemsByTrackNum() {
  Lock lock(mutex_);
  SortBy(&TrackNumBefore);
  return S_OK;
}

HRESULT CPelkFileInfoList::SortItemsByMatchType() {
  Lock lock(mutex_);
  SortBy(&MatchTypeBefore);
  return S_OK;
}

HRESULT CPelkFileInfoList::SortItemsByFolder() {
  Lock lock(mutex_);
  if (!sorted_by_folder_) {
    SortBy(&FolderBefore);
    sorted_by_folder_ = true;
  }
  return S_OK;
}

HRESULT CPelkFileInfoList::SortItemsByMetadata() {
  Lock lock(mutex_);
  if (!sorted_by_metadata_) {
    SortBy(&MetadataBefore);
    sorted_by_metadata_ = true;
  }
  return S_OK;
}

HRESULT CPelkFileInfoList::SortItemsByMatchQuality() {
  Lock lock(mutex_);
  SortBy(&MatchQualityBefore<OrderingFacts>);
  return S_OK;
}

HRESULT CPelkFileInfoList::InsertSorted(Entry entry, Before before) {
  OrderingFacts inserted(entry.impl.Get());
  size_t position = entries_.size();
  for (size_t i = 0; i < entries_.size(); ++i) {
    OrderingFacts existing(entries_[i].impl.Get());
    if (!before(existing, inserted)) {
      position = i + 1;
      break;
    }
  }
  try {
    entries_.insert(entries_.begin() + static_cast<ptrdiff_t>(position), std::move(entry));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CPelkFileInfoList::InsertSortedByFolder(IPelkFileInfo* record) {
  if (!record) return E_INVALIDARG;
  Lock lock(mutex_);
  return InsertSorted(MakeEntry(record), &FolderBefore);
}

HRESULT CPelkFileInfoList::InsertSortedByMetadata(IPelkFileInfo* record) {
  if (!record) return E_INVALIDARG;
  Lock lock(mutex_);
  return InsertSorted(MakeEntry(record), &MetadataBefore);
}

// --- pops ---

HRESULT CPelkFileInfoList::MoveFront(size_t count, CPelkFileInfoList* target) {
  HRESULT hr = S_OK;
  size_t moved = 0;
  for (; moved < count; ++moved) {
    if (FAILED(hr = target->AddFileInfo(entries_[moved].record.Get()))) break;
  }
  // The score follows the removals one by one; the entries go in one step (a batch may be
  // large, and removing from the front one at a time would be quadratic).
  const size_t total = entries_.size();
  for (size_t k = 0; k < moved; ++k) ChangeScore(entries_[k].impl.Get(), -1, total - 1 - k);
  entries_.erase(entries_.begin(), entries_.begin() + static_cast<ptrdiff_t>(moved));
  return hr;
}

HRESULT CPelkFileInfoList::PopFolderList(CPelkFileInfoList** list) {
  if (!list) return E_POINTER;
  *list = nullptr;
  Lock lock(mutex_);
  SortItemsByFolder();
  ComPtr<CPelkFileInfoList> popped = MakeObject<CPelkFileInfoList>();
  if (!popped) return E_OUTOFMEMORY;
  popped.CopyTo(list);
  if (entries_.empty()) return S_OK;

  const std::u16string folder = FolderOfEntry(0);
  size_t count = 1;
  while (count < entries_.size() && text::EqualsIgnoreCase(FolderOfEntry(count), folder)) {
    ++count;
  }
  const HRESULT hr = MoveFront(count, popped.Get());
  if (entries_.empty()) sorted_by_folder_ = sorted_by_metadata_ = false;
  return hr;
}

bool CPelkFileInfoList::BatchEndsAfter(size_t last) {
  OrderingFacts moved(entries_[last].impl.Get());
  OrderingFacts next(entries_[last + 1].impl.Get());
  if (!text::EqualsIgnoreCase(moved.SortAlbum(), next.SortAlbum()) &&
      !text::EqualsIgnoreCase(moved.SortArtist(), next.SortArtist())) {
    return true;
  }
  // Files without album and artist stay together by the start of their names.
  return moved.SortAlbum().empty() && moved.SortArtist().empty() &&
         !text::EqualsIgnoreCase(moved.SortFilenamePrefix(), next.SortFilenamePrefix());
}

HRESULT CPelkFileInfoList::PopBatch(int32_t size, CPelkFileInfoList** list) {
  if (!list) return E_POINTER;
  *list = nullptr;
  if (size < 10 || size > 100000) return E_INVALIDARG;
  Lock lock(mutex_);
  const size_t n = entries_.size();
  if (batch_target_ == 0) {
    batch_target_ = static_cast<int32_t>(n);
    while (size < batch_target_) batch_target_ = (batch_target_ + 1) / 2;
  }
  if (static_cast<size_t>(size) < n) SortItemsByMetadata();
  ComPtr<CPelkFileInfoList> popped = MakeObject<CPelkFileInfoList>();
  if (!popped) return E_OUTOFMEMORY;
  popped.CopyTo(list);

  // The batch is decided on the entries in place, then moved at once.
  size_t count = 0;
  while (count < n) {
    ++count;
    if (count >= static_cast<size_t>(batch_target_) && count < n && BatchEndsAfter(count - 1)) {
      break;
    }
  }
  const HRESULT hr = MoveFront(count, popped.Get());
  if (entries_.empty()) sorted_by_folder_ = sorted_by_metadata_ = false;
  return hr;
}

// --- data retrieval ---

HRESULT CPelkFileInfoList::RetrieveData(int32_t data_options) {
  Lock lock(mutex_);
  if (list_match_code_ == LIST_MATCH_ERROR || list_match_code_ == LIST_MATCH_NONE) {
    return S_FALSE;
  }
  DiscComparer comparer;
  HRESULT hr = S_OK;
  for (size_t c = 0; c < entries_.size(); ++c) {
    ComPtr<IPelkFileInfo2_6> current;
    if (FAILED(hr = entries_[c].record.As(&current))) return E_FAIL;
    if (FAILED(hr = current->RetrieveData(data_options))) return hr;
    ComPtr<IDiscInfo> disc;
    if (FAILED(hr = current->get_Disc(disc.Out()))) return hr;
    // Later entries on the same disc share the retrieved data, each at its own track.
    for (size_t i = c + 1; i < entries_.size(); ++i) {
      IPelkFileInfo* other = entries_[i].record.Get();
      ComPtr<IDiscInfo> other_disc;
      if (FAILED(hr = other->get_Disc(other_disc.Out()))) return hr;
      bool same = false;
      if (FAILED(hr = comparer.IsSameDisc(other_disc.Get(), disc.Get(), &same))) return hr;
      if (!same) continue;
      ComPtr<IDiscInfo> copy;
      if (FAILED(hr = disc->Copy(copy.Out()))) return hr;
      if (!copy) return E_FAIL;
      int32_t track = 0;
      if (FAILED(hr = other->get_TrackNum(&track))) return hr;
      if (track == 0) return E_FAIL;
      if (FAILED(hr = copy->put_CurrentTrack(track))) return hr;
      if (FAILED(hr = other->put_Disc(copy.Get()))) return hr;
      Bstr name;
      if (FAILED(hr = other->get_Filename(name.Out()))) return hr;
      ComPtr<IFileTag> tag;
      if (FAILED(hr = TagFromDisc(name.View(), copy.Get(), track, tag.Out()))) return hr;
      if (FAILED(hr = other->put_Tag(tag.Get()))) return hr;
    }
  }
  return hr;
}

}  // namespace pelk
