/// @file
/// Object creation by class identifier through the registry store, and module loading: the
/// platform's CoCreateInstance, LoadLibrary and GetProcAddress.
#pragma once

#include <string>

#include "runtime/guid.h"
#include "runtime/hresult.h"
#include "runtime/unknown.h"

///@{
/// Creation contexts of CoCreateInstance; only in-process servers exist here.
constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;
constexpr uint32_t CLSCTX_INPROC_HANDLER = 0x2;
constexpr uint32_t CLSCTX_LOCAL_SERVER = 0x4;
constexpr uint32_t CLSCTX_REMOTE_SERVER = 0x10;
///@}
constexpr uint32_t CLSCTX_ALL = 23;  ///< all four of the above

/// The module a class is registered with cannot be loaded.
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
/// The module has no DllGetClassObject.
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);

/// The signature of a module's DllGetClassObject and DllGetObject exports.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);

/// A loaded module, as LoadLibrary returns it.
using HMODULE = void*;

/// dlopen with immediate binding; modules stay loaded for the life of the process, as a module
/// handed out objects whose code must stay mapped. Null when it cannot be loaded.
HMODULE LoadLibrary(const char* path);
/// An export of a loaded module by name (dlsym); null when absent.
void* GetProcAddress(HMODULE module, const char* name);

/// Creates an object of class clsid: reads the module path from
/// `CLSID\{clsid}\InprocServer32` in the registry store (pelk::Registry::DefaultPath()), loads the
/// module, and asks its DllGetClassObject for the class factory. Only in-process servers exist
/// here, so the context must include CLSCTX_INPROC_SERVER.
/// REGDB_E_CLASSNOTREG when the class is not registered; CO_E_DLLNOTFOUND when the module cannot
/// be loaded; CO_E_ERRORINDLL when it has no DllGetClassObject; otherwise the factory's result.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, uint32_t context, REFIID iid,
                         void** object);
