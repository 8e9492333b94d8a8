#include <map>
#include <mutex>

#include "runtime/class_table.h"
#include "runtime/module_lock.h"
#include "runtime/object.h"

namespace pelk {
namespace {

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

std::mutex g_mutex;
// Never destroyed: factories may be released at module unload after the statics are gone.
std::map<const ClassEntry*, ComPtr<IClassFactory>>& Factories() {
  static auto* factories = new std::map<const ClassEntry*, ComPtr<IClassFactory>>();
  return *factories;
}

}  // namespace

HRESULT ModuleClassFactory(std::span<const ClassEntry> table, REFCLSID clsid, REFIID iid,
                           void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const ClassEntry* entry = FindClass(table, clsid);
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
  ComPtr<IClassFactory> factory;
  {
    std::lock_guard lock(g_mutex);
    ComPtr<IClassFactory>& cached = Factories()[entry];
    if (!cached) cached = MakeObject<EntryFactory>(entry).As<IClassFactory>();
    factory = cached;
  }
  if (!factory) return E_OUTOFMEMORY;
  return factory->QueryInterface(iid, object);
}

void ReleaseModuleClassFactories() {
  std::map<const ClassEntry*, ComPtr<IClassFactory>> released;
  std::lock_guard lock(g_mutex);
  released.swap(Factories());
}

}  // namespace pelk
