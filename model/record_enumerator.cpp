#include "model/record_enumerator.h"

namespace pelk {

template <class I>
HRESULT SnapshotEnumerator<I>::Next(uint32_t count, VARIANT* items, uint32_t* fetched) {
  if (fetched) *fetched = 0;
  if (count > 0 && !items) return E_POINTER;
  std::lock_guard lock(mutex_);
  uint32_t done = 0;
  for (; done < count && position_ < items_->size(); ++done, ++position_) {
    VARIANT& item = items[done];
    VariantInit(&item);
    IDispatch* dispatch = nullptr;
    if (const ComPtr<I>& stored = (*items_)[position_]) {
      stored->QueryInterface(IDispatch::kIid, reinterpret_cast<void**>(&dispatch));
    }
    item.vt = VT_DISPATCH;
    item.pdispVal = dispatch;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

template <class I>
HRESULT SnapshotEnumerator<I>::Skip(uint32_t count) {
  std::lock_guard lock(mutex_);
  const size_t left = items_->size() - position_;
  position_ += std::min<size_t>(count, left);
  return count <= left ? S_OK : S_FALSE;
}

template <class I>
HRESULT SnapshotEnumerator<I>::Reset() {
  std::lock_guard lock(mutex_);
  position_ = 0;
  return S_OK;
}

template <class I>
HRESULT SnapshotEnumerator<I>::Clone(IEnumVARIANT** clone) {
  if (!clone) return E_POINTER;
  size_t position;
  {
    std::lock_guard lock(mutex_);
    position = position_;
  }
  ComPtr<SnapshotEnumerator> copy = MakeObject<SnapshotEnumerator>(items_, position);
  if (!copy) {
    *clone = nullptr;
    return E_OUTOFMEMORY;
  }
  *clone = copy.Detach();
  return S_OK;
}

template class SnapshotEnumerator<IPelkFileInfo>;
template class SnapshotEnumerator<IPelkFileInfoList>;

}  // namespace pelk
