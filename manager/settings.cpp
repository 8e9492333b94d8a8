#include "manager/settings.h"

#include <algorithm>

#include "runtime/thread.h"

namespace pelk {

HRESULT CPelkSonquixSettings::get_ThreadPriority(int32_t* value) {
  if (!value) return E_POINTER;
  *value = thread_priority_;
  return S_OK;
}

HRESULT CPelkSonquixSettings::put_ThreadPriority(int32_t value) {
  thread_priority_ = value;
  return S_OK;
}

HRESULT CPelkSonquixSettings::get_LibraryIDBatchSize(int32_t* value) {
  if (!value) return E_POINTER;
  *value = batch_size_;
  return S_OK;
}

HRESULT CPelkSonquixSettings::put_LibraryIDBatchSize(int32_t value) {
  batch_size_ = std::clamp(value, kMinBatchSize, kMaxBatchSize);
  return S_OK;
}

HRESULT CPelkSonquixSettings::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IPelkSonquixSettings::kIid ? S_OK : S_FALSE;
}

int32_t MapThreadPriority(int32_t priority) {
  switch (priority) {
    case SONQUIX_THREAD_PRIORITY_HIGHEST: return kThreadPriorityHighest;
    case SONQUIX_THREAD_PRIORITY_ABOVE_NORMAL: return kThreadPriorityAboveNormal;
    case SONQUIX_THREAD_PRIORITY_NORMAL: return kThreadPriorityNormal;
    case SONQUIX_THREAD_PRIORITY_BELOW_NORMAL: return kThreadPriorityBelowNormal;
    case SONQUIX_THREAD_PRIORITY_IDLE: return kThreadPriorityIdle;
    default: return kThreadPriorityLowest;
  }
}

int32_t WorkerPriority(IPelkSonquixSettings* settings) {
  int32_t value = SONQUIX_THREAD_PRIORITY_LOWEST;
  if (settings && FAILED(settings->get_ThreadPriority(&value))) {
    value = SONQUIX_THREAD_PRIORITY_LOWEST;
  }
  return MapThreadPriority(value);
}

int32_t LibraryBatchSize(IPelkSonquixSettings* settings) {
  int32_t value = CPelkSonquixSettings::kDefaultBatchSize;
  if (settings && FAILED(settings->get_LibraryIDBatchSize(&value))) {
    value = CPelkSonquixSettings::kDefaultBatchSize;
  }
  return value;
}

}  // namespace pelk
