#include "server/class_table.h"

#include <map>
#include <mutex>

#include "fingerprint/sonquix_fingerprint.h"
#include "fingerprint/sonquix_fingerprinter.h"
#include "manager/settings.h"
#include "manager/sonquix_manager.h"
#include "runtime/object.h"
#include "server/manager_interfaces.h"

namespace pelk {
namespace {

constexpr RegistrationScript kManagerScript{
    101, "PelkSonquixVXT.PELKVXTSonquixManager.1", "PelkSonquixVXT.PELKVXTSonquixManager",
    "PELKVXTSonquixManager Class", "Apartment", true};
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
    {CLSID_PelkSonquixSettings, "PelkSonquixSettings", &Create<CPelkSonquixSettings>,
     &kSettingsScript},
};

// A factory for one class-table entry. It does not count in the module's lock count: the
// module keeps it cached for as long as it is loaded.
class EntryFactory final : public Object<EntryFactory, IClassFactory> {
 public:
  static constexpr bool kCountsInModuleLock = false;
  explicit EntryFactory(const ClassEntry* entry) : entry_(entry) {}
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    return entry_->create(outer, iid, object);
  }
  HRESULT LockServer(int32_t lock) override {
    lock ? ModuleLockIncrement() : ModuleLockDecrement();
    return S_OK;
  }

 private:
  const ClassEntry* entry_;
};

std::mutex g_factories_mutex;
std::map<const ClassEntry*, ComPtr<IClassFactory>>& Factories() {
  static auto* factories = new std::map<const ClassEntry*, ComPtr<IClassFactory>>();
  return *factories;
}

}  // namespace

std::span<const ClassEntry> ClassTable() { return kClasses; }

const ClassEntry* FindClass(REFCLSID clsid) {
  for (const ClassEntry& e : kClasses) {
    if (e.clsid == clsid) return &e;
  }
  return nullptr;
}

HRESULT GetCachedClassFactory(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const ClassEntry* entry = FindClass(clsid);
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
  ComPtr<IClassFactory> factory;
  {
    std::lock_guard lock(g_factories_mutex);
    ComPtr<IClassFactory>& cached = Factories()[entry];
    if (!cached) cached = MakeObject<EntryFactory>(entry).As<IClassFactory>();
    factory = cached;
  }
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(iid, object);
}

void ReleaseClassFactories() {
  std::map<const ClassEntry*, ComPtr<IClassFactory>> released;
  std::lock_guard lock(g_factories_mutex);
  released.swap(Factories());
}

}  // namespace pelk
