// The list's published operations, collection access, score and state. Searches and appends
// are in file_info_list_search.cpp; orderings, pops and data retrieval in
// file_info_list_order.cpp.
#include "model/file_info_list.h"

#include <new>

#include "model/record_enumerator.h"
#include "text/case_fold.h"

namespace pelk {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// numerator / denominator rounded to nearest, halves away from zero. REQUIRES: denominator > 0.
int64_t DivideRounded(int64_t numerator, int64_t denominator) {
  const int64_t half = denominator / 2;
  return numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator);
}

}  // namespace

CPelkFileInfoList::Entry CPelkFileInfoList::MakeEntry(IPelkFileInfo* record) {
  return Entry{ComPtr<IPelkFileInfo>(record), ImplOf<CPelkFileInfo>(record)};
}

int32_t CPelkFileInfoList::MatchTypeOf(const Entry& entry, HRESULT* hr) {
  int32_t type = MATCH_TYPE_NONE;
  HRESULT result;
  if (entry.impl) {
    result = entry.impl->get_MatchType(&type);
  } else {
    ComPtr<IPelkFileInfo2_6> latest;
    result = entry.record.As(&latest);
    if (SUCCEEDED(result)) result = latest->get_MatchType(&type);
  }
  if (FAILED(result)) type = MATCH_TYPE_NONE;
  if (hr) *hr = result;
  return type;
}

bool CPelkFileInfoList::ValidIndex(int32_t index) const {
  return index >= 1 && static_cast<size_t>(index) <= entries_.size();
}

HRESULT CPelkFileInfoList::Insert(Entry entry) {
  try {
    entries_.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void CPelkFileInfoList::RemoveAt(size_t i) {
  Entry removed = std::move(entries_[i]);
  entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(i));
  ChangeScore(removed.impl.Get(), -1, entries_.size());
}

void CPelkFileInfoList::ChangeScore(CPelkFileInfo* record, int32_t n, size_t count) {
  if (list_score_ == -1) return;
  if (count == 0) {
    list_score_ = -1;
    return;
  }
  int32_t score = 0;
  if (!record || FAILED(record->GetScore(&score))) return;
  const int64_t c = static_cast<int64_t>(count);
  const int64_t old_sum = DivideRounded(int64_t{list_score_} * (c - n), 10000);
  list_score_ = static_cast<int32_t>(DivideRounded(10000 * (int64_t{n} * score + old_sum), c));
}

// --- IPelkFileInfoList ---

HRESULT CPelkFileInfoList::GetFileInfo(int32_t index, IPelkFileInfo** record) {
  Lock lock(mutex_);
  if (!record || !ValidIndex(index)) return E_INVALIDARG;
  entries_[static_cast<size_t>(index - 1)].record.CopyTo(record);
  return S_OK;
}

HRESULT CPelkFileInfoList::AddFileInfo(IPelkFileInfo* record) {
  if (!record) return E_INVALIDARG;
  Lock lock(mutex_);
  Entry entry = MakeEntry(record);
  ComPtr<CPelkFileInfo> impl = entry.impl;
  HRESULT hr;
  if (sorted_by_metadata_) {
    hr = InsertSorted(std::move(entry), &MetadataBefore);
  } else if (sorted_by_folder_) {
    hr = InsertSorted(std::move(entry), &FolderBefore);
  } else {
    hr = Insert(std::move(entry));
  }
  if (FAILED(hr)) return hr;
  ChangeScore(impl.Get(), +1, entries_.size());
  batch_target_ = 0;
  return S_OK;
}

HRESULT CPelkFileInfoList::get_Count(int32_t* count) {
  if (!count) return E_POINTER;
  Lock lock(mutex_);
  *count = static_cast<int32_t>(entries_.size());
  return S_OK;
}

HRESULT CPelkFileInfoList::AddFileInfoFields(BSTR file_name, IPelkSonquixFingerprint* fingerprint,
                                             int32_t track_count, int32_t track_num, IFileTag* tag,
                                             IDiscInfo* disc, int32_t match_code) {
  Lock lock(mutex_);
  ComPtr<CPelkFileInfo> record = MakeObject<CPelkFileInfo>();
  if (!record) return E_OUTOFMEMORY;
  HRESULT hr = S_OK;
  if (file_name && FAILED(hr = record->put_Filename(file_name))) return hr;
  if (fingerprint) record->put_Fingerprint(fingerprint);
  if (track_count) record->put_TrackCount(track_count);
  if (track_num) record->put_TrackNum(track_num);
  if (tag) record->put_Tag(tag);
  if (disc) record->put_Disc(disc);
  if (match_code) record->put_SonquixMatchCode(match_code);
  return AddFileInfo(record.Get());
}

HRESULT CPelkFileInfoList::GetFileInfoFields(int32_t index, BSTR* file_name,
                                             IPelkSonquixFingerprint** fingerprint,
                                             int32_t* track_count, int32_t* track_num,
                                             IFileTag** tag, IDiscInfo** disc,
                                             int32_t* match_code) {
  Lock lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  IPelkFileInfo* record = entries_[static_cast<size_t>(index - 1)].record.Get();
  HRESULT first_failure = S_OK;
  auto note = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
  };
  if (file_name) note(record->get_Filename(file_name));
  if (fingerprint) note(record->get_Fingerprint(fingerprint));
  if (track_count) note(record->get_TrackCount(track_count));
  if (track_num) note(record->get_TrackNum(track_num));
  if (tag) note(record->get_Tag(tag));
  if (disc) note(record->get_Disc(disc));
  if (match_code) note(record->get_SonquixMatchCode(match_code));
  return first_failure;
}

HRESULT CPelkFileInfoList::GetListMatchCode(int32_t* match_code) {
  if (!match_code) return E_POINTER;
  Lock lock(mutex_);
  *match_code = list_match_code_;
  return S_OK;
}

HRESULT CPelkFileInfoList::SetListMatchCode(int32_t match_code) {
  Lock lock(mutex_);
  list_match_code_ = match_code;
  return S_OK;
}

HRESULT CPelkFileInfoList::RemoveFileInfo(IPelkFileInfo* record) {
  if (!record) return E_INVALIDARG;
  Lock lock(mutex_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (SameObject(entries_[i].record.Get(), record)) {
      RemoveAt(i);
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT CPelkFileInfoList::RemoveFile(BSTR file_name) {
  const std::u16string_view name = BstrView(file_name);
  if (name.empty()) return E_INVALIDARG;
  Lock lock(mutex_);
  for (size_t i = 0; i < entries_.size(); ++i) {
    Bstr entry_name;
    if (FAILED(entries_[i].record->get_Filename(entry_name.Out()))) continue;
    if (text::EqualsIgnoreCase(entry_name.View(), name)) {
      RemoveAt(i);
      return S_OK;
    }
  }
  return E_FAIL;
}

// --- collection access ---

HRESULT CPelkFileInfoList::get_Item(int32_t index, VARIANT* item) {
  if (!item) return E_POINTER;
  VariantInit(item);
  if (index <= 0) return E_INVALIDARG;
  Lock lock(mutex_);
  if (static_cast<size_t>(index) > entries_.size()) return E_FAIL;
  IDispatch* dispatch = nullptr;
  const HRESULT hr = entries_[static_cast<size_t>(index - 1)].record->QueryInterface(
      IDispatch::kIid, reinterpret_cast<void**>(&dispatch));
  if (FAILED(hr)) return hr;
  item->vt = VT_DISPATCH;
  item->pdispVal = dispatch;
  return S_OK;
}

HRESULT CPelkFileInfoList::get__NewEnum(IUnknown** enumerator) {
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  std::shared_ptr<RecordEnumerator::Snapshot> snapshot;
  try {
    snapshot = std::make_shared<RecordEnumerator::Snapshot>(Records());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  ComPtr<RecordEnumerator> made = MakeObject<RecordEnumerator>(std::move(snapshot), 0);
  if (!made) return E_OUTOFMEMORY;
  *enumerator = made.Detach();
  return S_OK;
}

// --- score ---

HRESULT CPelkFileInfoList::GetScore(int32_t* score) {
  if (!score) return E_POINTER;
  Lock lock(mutex_);
  if (entries_.empty()) {
    *score = 0;
    return S_OK;
  }
  if (list_score_ == -1) {
    int64_t sum = 0;
    for (const Entry& entry : entries_) {
      int32_t value = 0;
      if (entry.impl && SUCCEEDED(entry.impl->GetScore(&value))) sum += value;
    }
    list_score_ =
        static_cast<int32_t>(DivideRounded(10000 * sum, static_cast<int64_t>(entries_.size())));
  }
  *score = list_score_;
  return S_OK;
}

HRESULT CPelkFileInfoList::ChangeScoreWithInfo(IPelkFileInfo* record, int32_t n) {
  Lock lock(mutex_);
  ChangeScore(ImplOf<CPelkFileInfo>(record).Get(), n, entries_.size());
  return S_OK;
}

// --- state ---

HRESULT CPelkFileInfoList::Clear() {
  Lock lock(mutex_);
  entries_.clear();
  sorted_by_folder_ = false;
  sorted_by_metadata_ = false;
  return S_OK;
}

HRESULT CPelkFileInfoList::set_Options(int32_t value) {
  Lock lock(mutex_);
  options_ = value;
  return S_OK;
}

HRESULT CPelkFileInfoList::get_Options(int32_t* value) {
  if (!value) return E_POINTER;
  Lock lock(mutex_);
  *value = options_;
  return S_OK;
}

bool CPelkFileInfoList::SortedByFolder() {
  Lock lock(mutex_);
  return sorted_by_folder_;
}

bool CPelkFileInfoList::SortedByMetadata() {
  Lock lock(mutex_);
  return sorted_by_metadata_;
}

int32_t CPelkFileInfoList::BatchTarget() {
  Lock lock(mutex_);
  return batch_target_;
}

std::vector<ComPtr<IPelkFileInfo>> CPelkFileInfoList::Records() {
  Lock lock(mutex_);
  std::vector<ComPtr<IPelkFileInfo>> records;
  records.reserve(entries_.size());
  for (const Entry& entry : entries_) records.push_back(entry.record);
  return records;
}

HRESULT RecordsOf(IPelkFileInfoList* list, std::vector<ComPtr<IPelkFileInfo>>* records) {
  records->clear();
  if (!list) return S_OK;
  if (ComPtr<CPelkFileInfoList> ours = ImplOf<CPelkFileInfoList>(list)) {
    *records = ours->Records();
    return S_OK;
  }
  int32_t count = 0;
  HRESULT hr = list->get_Count(&count);
  if (FAILED(hr)) return hr;
  for (int32_t i = 1; i <= count; ++i) {
    ComPtr<IPelkFileInfo> record;
    hr = list->GetFileInfo(i, record.Out());
    if (FAILED(hr)) return hr;
    if (record) records->push_back(std::move(record));
  }
  return S_OK;
}

}  // namespace pelk
