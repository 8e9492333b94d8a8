#include "module/registration.h"

#include <filesystem>

#include "module/class_table.h"
#include "pelk/manager_interfaces.h"

namespace pelk {
namespace {

constexpr std::string_view kTypeLibHelp = "PelkSonquix(VXT) 1.0 Type Library";

std::string TypeLibKey() { return "TypeLib\\" + GuidToString(LIBID_PelkSonquixVXTLib); }

}  // namespace

HRESULT RegisterModule(Registry& registry, const std::string& module_path) {
  return registry.Update([&](RegistryKey& root) {
    WriteClassKeys(root, ClassTable(), module_path);
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
    RemoveClassKeys(root, ClassTable());
    root.Remove(TypeLibKey() + "\\1.0");
    if (RegistryKey* lib = root.Find(TypeLibKey()); lib && lib->Empty()) root.Remove(TypeLibKey());
    return true;
  });
}

}  // namespace pelk
