// The classes this module serves, in object-map order: the one place a class is listed. Each
// entry creates instances and may carry the registration script that puts it in the registry.
#pragma once

#include <span>
#include <string_view>

#include "runtime/unknown.h"

namespace pelk {

struct RegistrationScript {
  int32_t id;
  std::string_view versioned_prog_id;
  std::string_view prog_id;
  std::string_view description;
  std::string_view threading_model;
  bool is_manager;  // adds CurVer, Programmable and TypeLib
};

struct ClassEntry {
  CLSID clsid;
  std::string_view name;  // the type library's class name
  HRESULT (*create)(IUnknown* outer, REFIID iid, void** object);
  const RegistrationScript* script;  // null: not registered
};

std::span<const ClassEntry> ClassTable();
const ClassEntry* FindClass(REFCLSID clsid);

// The class factory of clsid, created once and cached until ReleaseClassFactories.
HRESULT GetCachedClassFactory(REFCLSID clsid, REFIID iid, void** object);
void ReleaseClassFactories();

}  // namespace pelk
