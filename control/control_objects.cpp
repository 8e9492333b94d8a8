#include "control/control_objects.h"

#include <atomic>
#include <mutex>

#include "runtime/com_ptr.h"

namespace pelk {
namespace {

struct Binding {
  HMODULE module = nullptr;
  DllGetClassObjectFn get_object = nullptr;
  DllGetClassObjectFn get_class_object = nullptr;
};

std::mutex g_mutex;
Binding g_binding;
std::atomic<int32_t> g_fallback_disabled{0};

Binding CurrentBinding() {
  std::lock_guard lock(g_mutex);
  return g_binding;
}

}  // namespace

void SetControlModule(HMODULE module) {
  DllGetClassObjectFn get_object = nullptr, get_class_object = nullptr;
  if (module) {
    get_object = reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(module, "DllGetObject"));
    get_class_object =
        reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(module, "DllGetClassObject"));
  }
  SetControlGetters(module, get_object, get_class_object);
}

void SetControlGetters(HMODULE module, DllGetClassObjectFn get_object,
                       DllGetClassObjectFn get_class_object) {
  std::lock_guard lock(g_mutex);
  g_binding = Binding{module, module ? get_object : nullptr, module ? get_class_object : nullptr};
}

HMODULE ControlModule() { return CurrentBinding().module; }

void SetControlFallbackDisabled(int32_t disabled) { g_fallback_disabled = disabled; }

HRESULT CreateControlObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  HRESULT hr = E_FAIL;
  const Binding binding = CurrentBinding();
  if (binding.module) {
    if (binding.get_object) {
      hr = binding.get_object(clsid, iid, object);
      if (SUCCEEDED(hr)) return hr;
      *object = nullptr;
    }
    if (binding.get_class_object) {
      ComPtr<IClassFactory> factory;
      hr = binding.get_class_object(clsid, IClassFactory::kIid, factory.OutVoid());
      if (SUCCEEDED(hr) && factory) {
        hr = factory->CreateInstance(nullptr, iid, object);
        if (SUCCEEDED(hr)) return hr;
        *object = nullptr;
      }
    }
  }
  if (g_fallback_disabled) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, object);
}

}  // namespace pelk
