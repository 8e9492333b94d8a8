// A loadable module serving CCounter, for the CoCreateInstance tests.
#include "runtime/class_factory.h"
#include "runtime/module_lock.h"
#include "tests/runtime/test_interfaces.h"

namespace {
constexpr CLSID kCounterClsid = pelk::MakeGuid("6B1D2A10-7C41-4E0B-9A11-0000000000C1");
}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID iid,
                                                                            void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(clsid == kCounterClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  auto factory = pelk::MakeObject<pelk::ClassFactory<pelk::testing::CCounter>>();
  return factory->QueryInterface(iid, object);
}

extern "C" __attribute__((visibility("default"))) int32_t TestModuleLockCount() {
  return pelk::ModuleLockCount();
}
