// Self-registration: the registration scripts of the class table and the type library entry,
// written into (or removed from) a registry store for a given module path.
#pragma once

#include <string>

#include "runtime/hresult.h"
#include "runtime/registry.h"

namespace pelk {

// Writes, for each registered class, its two ProgID keys and its CLSID\{id} key with
// InprocServer32 pointing at module_path; then the type library key.
HRESULT RegisterModule(Registry& registry, const std::string& module_path);
// Removes what RegisterModule wrote: the class id keys with their subtrees (ForceRemove), the
// ProgID keys' own entries (and the keys when nothing else is left in them) and the type
// library entry. CLSID itself is never removed.
HRESULT UnregisterModule(Registry& registry);

}  // namespace pelk
