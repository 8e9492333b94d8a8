#include "runtime/class_table.h"

namespace pelk {
namespace {

std::string ClassKey(const ClassEntry& e) { return "CLSID\\" + GuidToString(e.clsid); }

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

const ClassEntry* FindClass(std::span<const ClassEntry> table, REFCLSID clsid) {
  for (const ClassEntry& e : table) {
    if (e.clsid == clsid) return &e;
  }
  return nullptr;
}

void WriteClassKeys(RegistryKey& root, std::span<const ClassEntry> table,
                    const std::string& module_path) {
  for (const ClassEntry& e : table) {
    if (!e.script) continue;
    const RegistrationScript& s = *e.script;
    WriteProgId(root, s.versioned_prog_id, e, s, false);
    WriteProgId(root, s.prog_id, e, s, s.cur_ver);
    RegistryKey* clsid = root.Find(ClassKey(e), true);
    clsid->values[""] = std::string(s.description);
    clsid->Find("ProgID", true)->values[""] = std::string(s.versioned_prog_id);
    clsid->Find("VersionIndependentProgID", true)->values[""] = std::string(s.prog_id);
    RegistryKey* server = clsid->Find("InprocServer32", true);
    server->values[""] = module_path;
    server->values["ThreadingModel"] = std::string(s.threading_model);
    if (s.type_lib) {
      clsid->Find("Programmable", true);
      clsid->values["TypeLib"] = GuidToString(*s.type_lib);
    }
  }
}

void RemoveClassKeys(RegistryKey& root, std::span<const ClassEntry> table) {
  for (const ClassEntry& e : table) {
    if (!e.script) continue;
    RemoveProgId(root, e.script->versioned_prog_id);
    RemoveProgId(root, e.script->prog_id);
    root.Remove(ClassKey(e));  // ForceRemove: the whole subtree
  }
}

}  // namespace pelk
