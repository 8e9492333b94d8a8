// The exports of libpelkcontrol.so: a host hands this module's handle to the identification
// module (DllSetPelkHINST) or registers it for creation by class identifier.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <string>

#include "catalog/control_classes.h"
#include "runtime/com_ptr.h"
#include "runtime/module_lock.h"

#define PELK_EXPORT extern "C" __attribute__((visibility("default")))

PELK_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
PELK_EXPORT HRESULT DllGetObject(REFCLSID clsid, REFIID iid, void** object);
PELK_EXPORT HRESULT DllCanUnloadNow();
PELK_EXPORT HRESULT DllRegisterServer();
PELK_EXPORT HRESULT DllUnregisterServer();

namespace {

std::string ModulePath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

__attribute__((destructor)) void ProcessDetach() { pelk::ReleaseModuleClassFactories(); }

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return pelk::ModuleClassFactory(pelk::catalog::ControlClassTable(), clsid, iid, object);
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

HRESULT DllRegisterServer() {
  pelk::Registry registry;
  const std::string path = ModulePath();
  return registry.Update([&](pelk::RegistryKey& root) {
    pelk::WriteClassKeys(root, pelk::catalog::ControlClassTable(), path);
    return true;
  });
}

HRESULT DllUnregisterServer() {
  pelk::Registry registry;
  return registry.Update([&](pelk::RegistryKey& root) {
    pelk::RemoveClassKeys(root, pelk::catalog::ControlClassTable());
    return true;
  });
}
