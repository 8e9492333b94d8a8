// A class factory for any class built on pelk::Object. Factories do not count in the module's
// lock count (a module caches them for its lifetime); LockServer does.
#pragma once

#include "runtime/module_lock.h"
#include "runtime/object.h"

namespace pelk {

template <class T>
class ClassFactory final : public Object<ClassFactory<T>, IClassFactory> {
 public:
  static constexpr bool kCountsInModuleLock = false;

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    return T::CreateInstance(outer, iid, object);
  }
  HRESULT LockServer(int32_t lock) override {
    if (lock) {
      ModuleLockIncrement();
    } else {
      ModuleLockDecrement();
    }
    return S_OK;
  }
};

}  // namespace pelk
