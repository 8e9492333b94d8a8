// Creation of the lookup control library's objects (tags, the disc-tag builder, extended data)
// by class identifier, and the binding to that library's module that a host hands over.
//
// The binding is state of the module this code is linked into: libpelksonquix.so keeps one.
#pragma once

#include "runtime/com_create.h"
#include "runtime/guid.h"
#include "runtime/hresult.h"

namespace pelk {

// Records the control library's module (null forgets it) and looks up its "DllGetObject" and
// "DllGetClassObject" exports (either may be absent).
void SetControlModule(HMODULE module);
// The same binding with explicit getters, for a control linked into the process directly.
void SetControlGetters(HMODULE module, DllGetClassObjectFn get_object,
                       DllGetClassObjectFn get_class_object);
HMODULE ControlModule();
// Non-zero: never fall back to CoCreateInstance.
void SetControlFallbackDisabled(int32_t disabled);

// Creates an object of the control library:
//  1. with a control module: its DllGetObject(clsid, iid); on failure or when absent, its
//     DllGetClassObject's factory CreateInstance(no outer, iid);
//  2. then, unless the fallback is disabled, CoCreateInstance(clsid, null, 23, iid);
// E_FAIL when nothing could be tried; otherwise the last failure.
HRESULT CreateControlObject(REFCLSID clsid, REFIID iid, void** object);

template <class I>
HRESULT CreateControlObject(REFCLSID clsid, I** object) {
  return CreateControlObject(clsid, I::kIid, reinterpret_cast<void**>(object));
}

}  // namespace pelk
