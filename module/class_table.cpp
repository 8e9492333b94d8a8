#include "module/class_table.h"

#include "fingerprint/sonquix_fingerprint.h"
#include "fingerprint/sonquix_fingerprinter.h"
#include "manager/settings.h"
#include "manager/sonquix_manager.h"
#include "model/file_info.h"
#include "model/file_info_list.h"
#include "model/file_info_lists.h"
#include "pelk/manager_interfaces.h"

namespace pelk {
namespace {

constexpr RegistrationScript kManagerScript{
    101, "PelkSonquixVXT.PELKVXTSonquixManager.1", "PelkSonquixVXT.PELKVXTSonquixManager",
    "PELKVXTSonquixManager Class", "Apartment", true, &LIBID_PelkSonquixVXTLib};
constexpr RegistrationScript kFileInfoScript{
    106, "PelkSonquixVXT.PelkFileInfo.1", "PelkSonquixVXT.PelkFileInfo", "PelkFileInfo Class",
    "both", false};
constexpr RegistrationScript kFileInfoListScript{
    108, "PelkSonquixVXT.PelkFileInfoList.1", "PelkSonquixVXT.PelkFileInfoList",
    "PelkFileInfoList Class", "both", false};
constexpr RegistrationScript kFileInfoListsScript{
    110, "PelkSonquixVXT.PelkFileInfoLists.1", "PelkSonquixVXT.PelkFileInfoLists",
    "PelkFileInfoLists Class", "both", false};
constexpr RegistrationScript kSettingsScript{
    114, "PelkSonquixVXT.PelkSonquixSettings.1", "PelkSonquixVXT.PelkSonquixSettings",
    "PelkSonquixSettings Class", "both", false};

template <class T>
HRESULT Create(IUnknown* outer, REFIID iid, void** object) {
  return T::CreateInstance(outer, iid, object);
}

const ClassEntry kClasses[] = {
    {CLSID_PELKVXTSonquixManager, "PELKVXTSonquixManager", &Create<CPELKSonquixManager>,
     &kManagerScript},
    // Reachable only through the module's class objects or from the manager: no script.
    {CLSID_PelkSonquixFingerprinter, "PelkSonquixFingerprinter", &Create<CPelkSonquixFingerprinter>,
     nullptr},
    {CLSID_PelkSonquixFingerprint, "PelkSonquixFingerprint", &Create<CPelkSonquixFingerprint>,
     nullptr},
    {CLSID_PelkFileInfo, "PelkFileInfo", &Create<CPelkFileInfo>, &kFileInfoScript},
    {CLSID_PelkFileInfoList, "PelkFileInfoList", &Create<CPelkFileInfoList>, &kFileInfoListScript},
    {CLSID_PelkFileInfoLists, "PelkFileInfoLists", &Create<CPelkFileInfoLists>,
     &kFileInfoListsScript},
    {CLSID_PelkSonquixSettings, "PelkSonquixSettings", &Create<CPelkSonquixSettings>,
     &kSettingsScript},
};

}  // namespace

std::span<const ClassEntry> ClassTable() { return kClasses; }

}  // namespace pelk
