/// @file
/// The exports of libpelksonquix.so. A host either links the module or loads it with
/// LoadLibrary/dlopen and looks these up by name.
#pragma once

#include <cstdint>

#include "runtime/com_create.h"
#include "runtime/guid.h"
#include "runtime/hresult.h"

/// The platform's five-field version record.
struct DLLVERSIONINFO {
  uint32_t cbSize;          ///< set by the caller: the size of the record (20)
  uint32_t dwMajorVersion;  ///< major version
  uint32_t dwMinorVersion;  ///< minor version
  uint32_t dwBuildNumber;   ///< build number
  uint32_t dwPlatformID;    ///< platform (1)
};

#define PELK_EXPORT extern "C" __attribute__((visibility("default")))

/// The class factory of a class of the class table; CLASS_E_CLASSNOTAVAILABLE for another class.
PELK_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
/// Creates an object of a class of the class table, without an outer object.
PELK_EXPORT HRESULT DllGetObject(REFCLSID clsid, REFIID iid, void** object);
/// S_OK when no object of the module is alive and no server lock is held, else S_FALSE.
PELK_EXPORT HRESULT DllCanUnloadNow();
/// E_INVALIDARG (record untouched) when cbSize is below 20; else 2.6, build 203, platform 1.
PELK_EXPORT HRESULT DllGetVersion(DLLVERSIONINFO* info);
/// Hands over the lookup control library's module (null forgets it); always S_OK.
PELK_EXPORT HRESULT DllSetPelkHINST(HMODULE control_module);
/// Non-zero: control objects are never created through CoCreateInstance; always S_OK.
PELK_EXPORT HRESULT DllDisableCOMFallover(int32_t disabled);
/// Write and remove the registry keys of the registered classes and of the type library, for
/// this module's own path, in the registry store.
PELK_EXPORT HRESULT DllRegisterServer();
/// Removes what DllRegisterServer wrote.
PELK_EXPORT HRESULT DllUnregisterServer();
