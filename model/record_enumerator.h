// The enumerators a list and a list of lists hand out: an IEnumVARIANT over the items the
// collection held when the enumerator was made (later changes to the collection do not show).
// Each item comes out as a VT_DISPATCH value holding a new reference (a stored null comes out
// as a null VT_DISPATCH).
//
// References: the enumerator and its clones share one snapshot, which holds a reference on
// every item until the last of them is released. Safe from any thread (its own lock guards
// the position).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "pelk/file_info_interfaces.h"
#include "runtime/object.h"

namespace pelk {

// I is a dual interface; instantiated for records and for lists (record_enumerator.cpp).
template <class I>
class SnapshotEnumerator final : public Object<SnapshotEnumerator<I>, IEnumVARIANT> {
 public:
  using Snapshot = std::vector<ComPtr<I>>;

  SnapshotEnumerator(std::shared_ptr<const Snapshot> items, size_t position)
      : items_(std::move(items)), position_(position) {}

  // Up to count items (E_POINTER for null items when count > 0); S_FALSE when fewer remain.
  HRESULT Next(uint32_t count, VARIANT* items, uint32_t* fetched) override;
  // S_FALSE when the end is passed.
  HRESULT Skip(uint32_t count) override;
  HRESULT Reset() override;
  // A new enumerator at the same position over the same snapshot.
  HRESULT Clone(IEnumVARIANT** clone) override;

 private:
  ~SnapshotEnumerator() override = default;
  friend class Object<SnapshotEnumerator<I>, IEnumVARIANT>;

  std::shared_ptr<const Snapshot> items_;
  std::mutex mutex_;
  size_t position_;
};

using RecordEnumerator = SnapshotEnumerator<IPelkFileInfo>;
using ListEnumerator = SnapshotEnumerator<IPelkFileInfoList>;

extern template class SnapshotEnumerator<IPelkFileInfo>;
extern template class SnapshotEnumerator<IPelkFileInfoList>;

}  // namespace pelk
