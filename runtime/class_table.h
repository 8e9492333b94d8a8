// Class tables of in-process modules: which classes a module serves, how it creates them, and
// the registration script each registered class writes into the registry store.
//
// Registration (RegisterClasses, UnregisterClasses) is stateless and lives in the runtime; the
// cache of class factories is per module (sonquix_runtime_module), as a module's factories are.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "runtime/registry.h"
#include "runtime/unknown.h"

namespace pelk {

struct RegistrationScript {
  int32_t id;
  std::string_view versioned_prog_id;
  std::string_view prog_id;
  std::string_view description;
  std::string_view threading_model;
  bool cur_ver = false;          // the version-independent ProgID names the versioned one
  const GUID* type_lib = nullptr;  // adds a ForceRemove "Programmable" key and a TypeLib value
};

struct ClassEntry {
  CLSID clsid;
  std::string_view name;
  HRESULT (*create)(IUnknown* outer, REFIID iid, void** object);
  const RegistrationScript* script;  // null: not registered
};

const ClassEntry* FindClass(std::span<const ClassEntry> table, REFCLSID clsid);

// Writes, for each class with a script, its two ProgID keys and its CLSID\{id} key with
// InprocServer32 pointing at module_path, inside root (one registry transaction).
void WriteClassKeys(RegistryKey& root, std::span<const ClassEntry> table,
                    const std::string& module_path);
// Removes what WriteClassKeys wrote: the class id keys with their subtrees (ForceRemove), the
// ProgID keys' own entries (and the keys when nothing else is left in them). CLSID stays.
void RemoveClassKeys(RegistryKey& root, std::span<const ClassEntry> table);

// The class factory of clsid from this module's table, created once and cached;
// CLASS_E_CLASSNOTAVAILABLE for a class not in the table.
HRESULT ModuleClassFactory(std::span<const ClassEntry> table, REFCLSID clsid, REFIID iid,
                           void** object);
void ReleaseModuleClassFactories();

}  // namespace pelk
