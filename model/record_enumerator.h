// The enumerator a list hands out: an IEnumVARIANT over the records the list held when the
// enumerator was made (later changes to the list do not show). Each item comes out as a
// VT_DISPATCH value holding a new reference to the record.
//
// References: the enumerator and its clones share one snapshot, which holds a reference on
// every record until the last of them is released. Safe from any thread (its own lock guards
// the position).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "runtime/object.h"
#include "server/file_info_interfaces.h"

namespace pelk {

class RecordEnumerator final : public Object<RecordEnumerator, IEnumVARIANT> {
 public:
  using Snapshot = std::vector<ComPtr<IPelkFileInfo>>;

  RecordEnumerator(std::shared_ptr<const Snapshot> records, size_t position)
      : records_(std::move(records)), position_(position) {}

  // Up to count items (E_POINTER for null items when count > 0); S_FALSE when fewer remain.
  HRESULT Next(uint32_t count, VARIANT* items, uint32_t* fetched) override;
  // S_FALSE when the end is passed.
  HRESULT Skip(uint32_t count) override;
  HRESULT Reset() override;
  // A new enumerator at the same position over the same snapshot.
  HRESULT Clone(IEnumVARIANT** clone) override;

 private:
  ~RecordEnumerator() override = default;
  friend class Object<RecordEnumerator, IEnumVARIANT>;

  std::shared_ptr<const Snapshot> records_;
  std::mutex mutex_;
  size_t position_;
};

}  // namespace pelk
