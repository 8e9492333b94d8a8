#include "runtime/com_create.h"

#include <dlfcn.h>

#include "runtime/com_ptr.h"
#include "runtime/registry.h"

HMODULE LoadLibrary(const char* path) {
  if (!path || !*path) return nullptr;
  return dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) return nullptr;
  return dlsym(module, name);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, uint32_t context, REFIID iid,
                         void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  const pelk::Registry registry;
  const auto path =
      registry.GetValue("CLSID\\" + pelk::GuidToString(clsid) + "\\InprocServer32");
  if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
  HMODULE module = LoadLibrary(path->c_str());
  if (!module) return CO_E_DLLNOTFOUND;
  auto get_class_object =
      reinterpret_cast<DllGetClassObjectFn>(GetProcAddress(module, "DllGetClassObject"));
  if (!get_class_object) return CO_E_ERRORINDLL;
  pelk::ComPtr<IClassFactory> factory;
  HRESULT hr = get_class_object(clsid, IClassFactory::kIid, factory.OutVoid());
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  return factory->CreateInstance(outer, iid, object);
}
