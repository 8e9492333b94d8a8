// CPelkSonquixSettings: the thread priority of the manager's workers and the library batch
// size. No lock: each value is one 32-bit word read and written whole. Aggregatable.
#pragma once

#include <atomic>

#include "pelk/manager_interfaces.h"
#include "runtime/object.h"

namespace pelk {

class CPelkSonquixSettings final
    : public Object<CPelkSonquixSettings, Dual<IPelkSonquixSettings>, ISupportErrorInfo> {
 public:
  static constexpr bool kAggregatable = true;
  static constexpr int32_t kDefaultBatchSize = 200;
  static constexpr int32_t kMinBatchSize = 10;
  static constexpr int32_t kMaxBatchSize = 100000;

  HRESULT get_ThreadPriority(int32_t* value) override;
  // Stored unchanged; out-of-range values map to the lowest priority when used.
  HRESULT put_ThreadPriority(int32_t value) override;
  HRESULT get_LibraryIDBatchSize(int32_t* value) override;
  HRESULT put_LibraryIDBatchSize(int32_t value) override;
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  std::atomic<int32_t> thread_priority_{SONQUIX_THREAD_PRIORITY_LOWEST};
  std::atomic<int32_t> batch_size_{kDefaultBatchSize};
};

// The platform priority a worker thread takes for a SonquixThreadPriority value.
int32_t MapThreadPriority(int32_t priority);
// Reads the live settings the way workers do: with no settings object, or when a read fails,
// priority 5 (lowest) and batch size 200.
int32_t WorkerPriority(IPelkSonquixSettings* settings);
int32_t LibraryBatchSize(IPelkSonquixSettings* settings);

}  // namespace pelk
