#include "server/registration.h"

#include <filesystem>

#include "server/class_table.h"
#include "server/manager_interfaces.h"

namespace pelk {
namespace {

constexpr std::string_view kTypeLibHelp = "PelkSonquix(VXT) 1.0 Type Library";

std::string ClassKey(const ClassEntry& e) { return "CLSID\\" + GuidToString(e.clsid); }
std::string TypeLibKey() { return "TypeLib\\" + GuidToString(LIBID_PelkSonquixVXTLib); }

void WriteProgId(RegistryKey& root, std::string_view prog_id, const ClassEntry& e,
                 const RegistrationScript& s, bool with_cur_ver) {
  RegistryKey* key = root.Find(prog_id, true);
  key->values[""] = std::string(s.description);
  key->Find("CLSID", true)->values[""] = GuidToString(e.clsid);
  if (with_cur_ver) key->Find("CurVer", true)->values[""] = std::string(s.versioned_prog_id);
}

// Removes what WriteProgId wrote; the key itself goes only when nothing else is left in it.
void RemoveProgId(RegistryKey& root, std::string_view prog_id) {
  RegistryKey* key = root.Find(prog_id);
  if (!key) return;
  key->Remove("CLSID");
  key->Remove("CurVer");
  key->values.erase("");
  if (key->Empty()) root.Remove(prog_id);
}

}  // namespace

HRESULT RegisterModule(Registry& registry, const std::string& module_path) {
  return registry.Update([&](RegistryKey& root) {
    for (const ClassEntry& e : ClassTable()) {
      if (!e.script) continue;
      const RegistrationScript& s = *e.script;
      WriteProgId(root, s.versioned_prog_id, e, s, false);
      WriteProgId(root, s.prog_id, e, s, s.is_manager);
      RegistryKey* clsid = root.Find(ClassKey(e), true);
      clsid->values[""] = std::string(s.description);
      clsid->Find("ProgID", true)->values[""] = std::string(s.versioned_prog_id);
      clsid->Find("VersionIndependentProgID", true)->values[""] = std::string(s.prog_id);
      RegistryKey* server = clsid->Find("InprocServer32", true);
      server->values[""] = module_path;
      server->values["ThreadingModel"] = std::string(s.threading_model);
      if (s.is_manager) {
        clsid->Find("Programmable", true);
        clsid->values["TypeLib"] = GuidToString(LIBID_PelkSonquixVXTLib);
      }
    }
    RegistryKey* typelib = root.Find(TypeLibKey() + "\\1.0", true);
    typelib->values[""] = std::string(kTypeLibHelp);
    typelib->Find("0\\linux", true)->values[""] = module_path;
    typelib->Find("FLAGS", true)->values[""] = "0";
    typelib->Find("HELPDIR", true)->values[""] =
        std::filesystem::path(module_path).parent_path().string();
    return true;
  });
}

HRESULT UnregisterModule(Registry& registry) {
  return registry.Update([&](RegistryKey& root) {
    for (const ClassEntry& e : ClassTable()) {
      if (!e.script) continue;
      RemoveProgId(root, e.script->versioned_prog_id);
      RemoveProgId(root, e.script->prog_id);
      root.Remove(ClassKey(e));  // ForceRemove: the whole subtree
    }
    root.Remove(TypeLibKey() + "\\1.0");
    if (RegistryKey* lib = root.Find(TypeLibKey()); lib && lib->Empty()) root.Remove(TypeLibKey());
    return true;
  });
}

}  // namespace pelk
