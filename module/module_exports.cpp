// The module's exports and its load-time state.
#include "pelk/module_exports.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <string>

#include "control/control_objects.h"
#include "module/class_table.h"
#include "module/registration.h"
#include "runtime/com_ptr.h"
#include "runtime/module_lock.h"

namespace {

// The support code's own start-up code: initialization twice changes nothing.
constexpr int32_t kSupportAlreadyInitialized = static_cast<int32_t>(0x90100005u);
std::atomic<int32_t> g_support_initialized{0};

int32_t InitializeSupport() {
  int32_t expected = 0;
  return g_support_initialized.compare_exchange_strong(expected, 1) ? 0
                                                                    : kSupportAlreadyInitialized;
}

// This module's full path, as registration writes it.
std::string ModulePath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

__attribute__((constructor)) void ProcessAttach() { InitializeSupport(); }

__attribute__((destructor)) void ProcessDetach() {
  g_support_initialized = 0;
  pelk::ReleaseModuleClassFactories();
}

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return pelk::ModuleClassFactory(pelk::ClassTable(), clsid, iid, object);
}

HRESULT DllGetObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  pelk::ComPtr<IClassFactory> factory;
  HRESULT hr = DllGetClassObject(clsid, IClassFactory::kIid, factory.OutVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, iid, object);
}

HRESULT DllCanUnloadNow() { return pelk::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

HRESULT DllGetVersion(DLLVERSIONINFO* info) {
  if (!info || info->cbSize < sizeof(DLLVERSIONINFO)) return E_INVALIDARG;
  *info = DLLVERSIONINFO{sizeof(DLLVERSIONINFO), 2, 6, 203, 1};
  return S_OK;
}

HRESULT DllSetPelkHINST(HMODULE control_module) {
  pelk::SetControlModule(control_module);
  return S_OK;
}

HRESULT DllDisableCOMFallover(int32_t disabled) {
  pelk::SetControlFallbackDisabled(disabled);
  return S_OK;
}

HRESULT DllRegisterServer() {
  pelk::Registry registry;
  return pelk::RegisterModule(registry, ModulePath());
}

HRESULT DllUnregisterServer() {
  pelk::Registry registry;
  return pelk::UnregisterModule(registry);
}
