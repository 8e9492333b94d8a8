#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

#include "control/control_objects.h"
#include "module/class_table.h"
#include "module/registration.h"
#include "pelk/manager_interfaces.h"
#include "pelk/module_exports.h"
#include "runtime/registry.h"
#include "tests/support/event_sink.h"
#include "tests/support/fake_control.h"
#include "tests/support/hr_matchers.h"

namespace pelk::testing {
namespace {

// The module as a host uses it: loaded with dlopen, entry points looked up by name.
class LoadedModule {
 public:
  LoadedModule() : handle_(dlopen(SONQUIX_MODULE, RTLD_NOW | RTLD_LOCAL)) {}
  ~LoadedModule() {
    if (handle_) dlclose(handle_);
  }
  template <class Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(dlsym(handle_, name));
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  void* handle_;
};

using GetObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using NoArgFn = HRESULT (*)();
using VersionFn = HRESULT (*)(DLLVERSIONINFO*);
using FlagFn = HRESULT (*)(int32_t);
using HinstFn = HRESULT (*)(HMODULE);

class ServerTest : public ::testing::Test {
 protected:
  LoadedModule module_;
};

TEST_F(ServerTest, VersionRecord) {
  ASSERT_TRUE(module_);
  auto get_version = module_.Get<VersionFn>("DllGetVersion");
  ASSERT_NE(get_version, nullptr);
  DLLVERSIONINFO info{19, 7, 7, 7, 7};
  EXPECT_HR(E_INVALIDARG, get_version(&info));
  EXPECT_EQ(info.dwMajorVersion, 7u);  // untouched
  info.cbSize = 20;
  ASSERT_HR(S_OK, get_version(&info));
  EXPECT_EQ(info.dwMajorVersion, 2u);
  EXPECT_EQ(info.dwMinorVersion, 6u);
  EXPECT_EQ(info.dwBuildNumber, 203u);
  EXPECT_EQ(info.dwPlatformID, 1u);
}

TEST_F(ServerTest, ClassObjectsAndAggregationRules) {
  auto get_class_object = module_.Get<GetObjectFn>("DllGetClassObject");
  auto get_object = module_.Get<GetObjectFn>("DllGetObject");
  void* out = nullptr;
  EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, get_class_object(GUID_NULL, IClassFactory::kIid, &out));
  EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, get_object(GUID_NULL, IUnknown::kIid, &out));

  ComPtr<IClassFactory> first, second;
  ASSERT_HR(S_OK, get_class_object(CLSID_PELKVXTSonquixManager, IClassFactory::kIid,
                                   first.OutVoid()));
  ASSERT_HR(S_OK, get_class_object(CLSID_PELKVXTSonquixManager, IClassFactory::kIid,
                                   second.OutVoid()));
  EXPECT_EQ(first, second);  // cached per class

  ComPtr<IUnknown> outer = MakeRecordingSink(IID_NULL).As<IUnknown>();
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            first->CreateInstance(outer.Get(), IUnknown::kIid, &out));
  ComPtr<IClassFactory> record_factory;
  ASSERT_HR(S_OK, get_class_object(CLSID_PelkFileInfo, IClassFactory::kIid,
                                   record_factory.OutVoid()));
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            record_factory->CreateInstance(outer.Get(), IUnknown::kIid, &out));
  ComPtr<IClassFactory> lists_factory;
  ASSERT_HR(S_OK, get_class_object(CLSID_PelkFileInfoLists, IClassFactory::kIid,
                                   lists_factory.OutVoid()));
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            lists_factory->CreateInstance(outer.Get(), IUnknown::kIid, &out));
  ComPtr<IPelkFileInfoLists> lists;
  ASSERT_HR(S_OK, get_object(CLSID_PelkFileInfoLists, IPelkFileInfoLists::kIid, lists.OutVoid()));
  EXPECT_HR(E_INVALIDARG, lists->RemoveMatchAndFiles(0));
  ComPtr<IClassFactory> settings_factory;
  ASSERT_HR(S_OK, get_class_object(CLSID_PelkSonquixSettings, IClassFactory::kIid,
                                   settings_factory.OutVoid()));
  ComPtr<IUnknown> inner;
  EXPECT_HR(S_OK, settings_factory->CreateInstance(outer.Get(), IUnknown::kIid, inner.OutVoid()));
  EXPECT_TRUE(inner);
}

TEST_F(ServerTest, FileInfoListFromTheLoadedModule) {
  auto get_class_object = module_.Get<GetObjectFn>("DllGetClassObject");
  auto get_object = module_.Get<GetObjectFn>("DllGetObject");
  auto can_unload = module_.Get<NoArgFn>("DllCanUnloadNow");
  ComPtr<IPelkFileInfoList2_6> list;
  ASSERT_HR(S_OK, get_object(CLSID_PelkFileInfoList, IPelkFileInfoList2_6::kIid, list.OutVoid()));
  EXPECT_HR(S_FALSE, can_unload());
  ASSERT_HR(S_OK, list->AddFileInfoFields(Bstr(u"/m/a.mp3").Get(), nullptr, 0, 3, nullptr,
                                          nullptr, 0));
  int32_t count = 0, code = 0;
  ASSERT_HR(S_OK, list->get_Count(&count));
  EXPECT_EQ(count, 1);
  ASSERT_HR(S_OK, list->GetListMatchCode(&code));
  EXPECT_EQ(code, LIST_MATCH_NONE);
  list.Reset();
  EXPECT_HR(S_OK, can_unload());

  // The list class accepts an outer object; its inner unknown answers the list interfaces.
  ComPtr<IClassFactory> factory;
  ASSERT_HR(S_OK,
            get_class_object(CLSID_PelkFileInfoList, IClassFactory::kIid, factory.OutVoid()));
  ComPtr<IUnknown> outer = MakeRecordingSink(IID_NULL).As<IUnknown>();
  ComPtr<IUnknown> inner;
  ASSERT_HR(S_OK, factory->CreateInstance(outer.Get(), IUnknown::kIid, inner.OutVoid()));
  void* out = nullptr;
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            factory->CreateInstance(outer.Get(), IPelkFileInfoList::kIid, &out));
  IPelkFileInfoList* aggregated = nullptr;
  ASSERT_HR(S_OK, inner->QueryInterface(IPelkFileInfoList::kIid,
                                        reinterpret_cast<void**>(&aggregated)));
  ASSERT_HR(S_OK, aggregated->get_Count(&count));
  EXPECT_EQ(count, 0);
  aggregated->Release();  // through the outer object, which took the reference
}

TEST_F(ServerTest, CanUnloadOnlyWhenNoObjectLives) {
  auto can_unload = module_.Get<NoArgFn>("DllCanUnloadNow");
  auto get_object = module_.Get<GetObjectFn>("DllGetObject");
  EXPECT_HR(S_OK, can_unload());
  ComPtr<IPelkFileInfo2_6> record;
  ASSERT_HR(S_OK, get_object(CLSID_PelkFileInfo, IPelkFileInfo2_6::kIid, record.OutVoid()));
  EXPECT_HR(S_FALSE, can_unload());
  record.Reset();
  EXPECT_HR(S_OK, can_unload());
  ComPtr<IPelkSonquixSettings> settings;
  ASSERT_HR(S_OK, get_object(CLSID_PelkSonquixSettings, IPelkSonquixSettings::kIid,
                             settings.OutVoid()));
  EXPECT_HR(S_FALSE, can_unload());
  settings.Reset();
  EXPECT_HR(S_OK, can_unload());
}

// The fingerprinting classes come only through the module's class objects (they have no
// registration script), answer no IDispatch of their own and are never aggregated.
TEST_F(ServerTest, HandsOutFingerprintersAndFingerprints) {
  auto get_class_object = module_.Get<GetObjectFn>("DllGetClassObject");
  auto get_object = module_.Get<GetObjectFn>("DllGetObject");
  ComPtr<IPelkSonquixFingerprinter2> fingerprinter;
  ASSERT_HR(S_OK, get_object(CLSID_PelkSonquixFingerprinter, IPelkSonquixFingerprinter2::kIid,
                             fingerprinter.OutVoid()));
  Bstr value;
  ASSERT_HR(S_OK, fingerprinter->GetSetting(Bstr(u"fixed_length").Get(), value.Out()));
  EXPECT_EQ(value.Utf8(), "14210");
  ComPtr<IPelkSonquixFingerprint> fingerprint;
  ASSERT_HR(S_OK, get_object(CLSID_PelkSonquixFingerprint, IPelkSonquixFingerprint::kIid,
                             fingerprint.OutVoid()));
  EXPECT_HR(E_PENDING, fingerprint->get_Type(value.Out()));

  void* out = nullptr;
  EXPECT_HR(E_NOINTERFACE, get_object(CLSID_PelkSonquixFingerprinter, IDispatch::kIid, &out));
  ComPtr<IUnknown> outer = MakeRecordingSink(IID_NULL).As<IUnknown>();
  for (const CLSID& clsid : {CLSID_PelkSonquixFingerprinter, CLSID_PelkSonquixFingerprint}) {
    ComPtr<IClassFactory> factory;
    ASSERT_HR(S_OK, get_class_object(clsid, IClassFactory::kIid, factory.OutVoid()));
    EXPECT_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), IUnknown::kIid, &out));
    EXPECT_EQ(out, nullptr);
  }
}

// A host's whole session with the module: create, advise, initialize, shut down.
TEST_F(ServerTest, HostDrivesTheLoadedModule) {
  auto get_object = module_.Get<GetObjectFn>("DllGetObject");
  ComPtr<IPELKSonquixManager3> manager;
  ASSERT_HR(S_OK, get_object(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid,
                             manager.OutVoid()));
  ComPtr<IConnectionPointContainer> container = manager.As<IConnectionPointContainer>();
  ASSERT_TRUE(container);
  ComPtr<IConnectionPoint> point;
  ASSERT_HR(S_OK, container->FindConnectionPoint(DIID__IPELKSonquixManagerEvents, point.Out()));
  auto sink = MakeRecordingSink(DIID__IPELKSonquixManagerEvents);
  uint32_t cookie = 0;
  ASSERT_HR(S_OK, point->Advise(sink.As<IUnknown>().Get(), &cookie));
  EXPECT_EQ(cookie, 1u);

  auto fake = FakeLookupControl::Create();
  ASSERT_HR(S_OK, manager->Initialize(fake->Control().Get()));
  EXPECT_EQ(fake->LiveAnchors(), 1);
  ComPtr<IPelkSonquixSettings> settings;
  ASSERT_HR(S_OK, manager->GetSettings(settings.Out()));
  EXPECT_TRUE(settings);
  ASSERT_HR(S_OK, manager->Shutdown());
  EXPECT_EQ(fake->LiveAnchors(), 0);
  EXPECT_HR(S_OK, point->Unadvise(cookie));
}

class ControlObjectTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetControlGetters(nullptr, nullptr, nullptr);
    SetControlFallbackDisabled(0);
    unsetenv("PELK_REGISTRY");
  }
  static HRESULT FailingGetter(REFCLSID, REFIID, void** out) {
    *out = nullptr;
    ++failing_calls;
    return E_ACCESSDENIED;
  }
  static inline int failing_calls = 0;
  int handle_ = 0;
};

TEST_F(ControlObjectTest, GetterOrderAndFallback) {
  // No registration: the fallback runs and reports the class as unregistered.
  setenv("PELK_REGISTRY", "/nonexistent/registry", 1);
  void* out = nullptr;
  EXPECT_HR(REGDB_E_CLASSNOTREG, CreateControlObject(CLSID_PelkFileTag, IFileTag::kIid, &out));
  SetControlFallbackDisabled(1);
  EXPECT_HR(E_FAIL, CreateControlObject(CLSID_PelkFileTag, IFileTag::kIid, &out));

  // A module whose object getter fails and whose class-object getter is absent.
  failing_calls = 0;
  SetControlGetters(&handle_, &FailingGetter, nullptr);
  EXPECT_HR(E_ACCESSDENIED, CreateControlObject(CLSID_PelkFileTag, IFileTag::kIid, &out));
  EXPECT_EQ(failing_calls, 1);
  SetControlFallbackDisabled(0);
  EXPECT_HR(REGDB_E_CLASSNOTREG, CreateControlObject(CLSID_PelkFileTag, IFileTag::kIid, &out));
  EXPECT_EQ(failing_calls, 2);

  // A working object getter is used first.
  SetControlGetters(&handle_, &FakeControlGetObject, &FailingGetter);
  ComPtr<IFileTag> tag;
  EXPECT_HR(S_OK, CreateControlObject(CLSID_PelkFileTag, tag.Out()));
  EXPECT_TRUE(tag);
  EXPECT_EQ(failing_calls, 2);
}

TEST_F(ControlObjectTest, ForgettingTheModuleForgetsBothGetters) {
  SetControlGetters(&handle_, &FakeControlGetObject, &FakeControlGetObject);
  SetControlModule(nullptr);
  EXPECT_EQ(ControlModule(), nullptr);
  SetControlFallbackDisabled(1);
  void* out = nullptr;
  EXPECT_HR(E_FAIL, CreateControlObject(CLSID_PelkFileTag, IFileTag::kIid, &out));
}

TEST(RegistrationTest, WritesAndRemovesExactlyTheScriptsKeys) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("pelk-reg-" + std::to_string(::getpid()));
  std::filesystem::remove(file);
  Registry registry(file);
  registry.SetValue("CLSID\\{OTHER}", "", "kept");
  ASSERT_HR(S_OK, RegisterModule(registry, "/opt/pelk/libpelksonquix.so"));

  const std::string manager = "CLSID\\" + GuidToString(CLSID_PELKVXTSonquixManager);
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PELKVXTSonquixManager.1"),
            "PELKVXTSonquixManager Class");
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PELKVXTSonquixManager.1\\CLSID"),
            GuidToString(CLSID_PELKVXTSonquixManager));
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PELKVXTSonquixManager\\CurVer"),
            "PelkSonquixVXT.PELKVXTSonquixManager.1");
  EXPECT_EQ(registry.GetValue(manager), "PELKVXTSonquixManager Class");
  EXPECT_EQ(registry.GetValue(manager + "\\ProgID"), "PelkSonquixVXT.PELKVXTSonquixManager.1");
  EXPECT_EQ(registry.GetValue(manager + "\\VersionIndependentProgID"),
            "PelkSonquixVXT.PELKVXTSonquixManager");
  EXPECT_EQ(registry.GetValue(manager + "\\InprocServer32"), "/opt/pelk/libpelksonquix.so");
  EXPECT_EQ(registry.GetValue(manager + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_TRUE(registry.KeyExists(manager + "\\Programmable"));
  EXPECT_EQ(registry.GetValue(manager, "TypeLib"), GuidToString(LIBID_PelkSonquixVXTLib));

  const std::string record = "CLSID\\" + GuidToString(CLSID_PelkFileInfo);
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PelkFileInfo.1"), "PelkFileInfo Class");
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PelkFileInfo\\CLSID"),
            GuidToString(CLSID_PelkFileInfo));
  EXPECT_EQ(registry.GetValue(record + "\\ProgID"), "PelkSonquixVXT.PelkFileInfo.1");
  EXPECT_EQ(registry.GetValue(record + "\\VersionIndependentProgID"),
            "PelkSonquixVXT.PelkFileInfo");
  EXPECT_EQ(registry.GetValue(record + "\\InprocServer32", "ThreadingModel"), "both");
  EXPECT_FALSE(registry.KeyExists("PelkSonquixVXT.PelkFileInfo\\CurVer"));

  const std::string list = "CLSID\\" + GuidToString(CLSID_PelkFileInfoList);
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PelkFileInfoList.1"), "PelkFileInfoList Class");
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PelkFileInfoList.1\\CLSID"),
            GuidToString(CLSID_PelkFileInfoList));
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PelkFileInfoList"), "PelkFileInfoList Class");
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PelkFileInfoList\\CLSID"),
            GuidToString(CLSID_PelkFileInfoList));
  EXPECT_FALSE(registry.KeyExists("PelkSonquixVXT.PelkFileInfoList\\CurVer"));
  EXPECT_EQ(registry.GetValue(list), "PelkFileInfoList Class");
  EXPECT_EQ(registry.GetValue(list + "\\ProgID"), "PelkSonquixVXT.PelkFileInfoList.1");
  EXPECT_EQ(registry.GetValue(list + "\\VersionIndependentProgID"),
            "PelkSonquixVXT.PelkFileInfoList");
  EXPECT_EQ(registry.GetValue(list + "\\InprocServer32"), "/opt/pelk/libpelksonquix.so");
  EXPECT_EQ(registry.GetValue(list + "\\InprocServer32", "ThreadingModel"), "both");
  EXPECT_FALSE(registry.KeyExists(list + "\\Programmable"));

  const std::string lists = "CLSID\\" + GuidToString(CLSID_PelkFileInfoLists);
  EXPECT_EQ(registry.GetValue("PelkSonquixVXT.PelkFileInfoLists.1\\CLSID"),
            GuidToString(CLSID_PelkFileInfoLists));
  EXPECT_EQ(registry.GetValue(lists + "\\VersionIndependentProgID"),
            "PelkSonquixVXT.PelkFileInfoLists");
  EXPECT_EQ(registry.GetValue(lists + "\\InprocServer32", "ThreadingModel"), "both");

  const std::string settings = "CLSID\\" + GuidToString(CLSID_PelkSonquixSettings);
  EXPECT_EQ(registry.GetValue(settings + "\\InprocServer32", "ThreadingModel"), "both");
  EXPECT_FALSE(registry.KeyExists("PelkSonquixVXT.PelkSonquixSettings\\CurVer"));
  EXPECT_FALSE(registry.KeyExists(settings + "\\Programmable"));
  EXPECT_EQ(registry.GetValue("TypeLib\\" + GuidToString(LIBID_PelkSonquixVXTLib) + "\\1.0"),
            "PelkSonquix(VXT) 1.0 Type Library");

  // A key someone else added under a ProgID survives unregistration; the ProgID key with it.
  registry.SetValue("PelkSonquixVXT.PelkSonquixSettings\\Extra", "", "x");
  ASSERT_HR(S_OK, UnregisterModule(registry));
  EXPECT_FALSE(registry.KeyExists(manager));
  EXPECT_FALSE(registry.KeyExists(settings));
  EXPECT_FALSE(registry.KeyExists(record));
  EXPECT_FALSE(registry.KeyExists(list));
  EXPECT_FALSE(registry.KeyExists(lists));
  EXPECT_FALSE(registry.KeyExists("PelkSonquixVXT.PelkFileInfoList.1"));
  EXPECT_FALSE(registry.KeyExists("PelkSonquixVXT.PelkFileInfo"));
  EXPECT_FALSE(registry.KeyExists("PelkSonquixVXT.PELKVXTSonquixManager.1"));
  EXPECT_FALSE(registry.KeyExists("PelkSonquixVXT.PELKVXTSonquixManager"));
  EXPECT_TRUE(registry.KeyExists("PelkSonquixVXT.PelkSonquixSettings\\Extra"));
  EXPECT_FALSE(registry.KeyExists("PelkSonquixVXT.PelkSonquixSettings\\CLSID"));
  EXPECT_FALSE(registry.KeyExists("TypeLib\\" + GuidToString(LIBID_PelkSonquixVXTLib)));
  EXPECT_EQ(registry.GetValue("CLSID\\{OTHER}"), "kept");
  std::filesystem::remove(file);
}

TEST(RegistrationTest, RegisteredModuleIsCreatableByClassIdentifier) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("pelk-reg-co-" + std::to_string(::getpid()));
  std::filesystem::remove(file);
  setenv("PELK_REGISTRY", file.c_str(), 1);
  LoadedModule module;
  ASSERT_HR(S_OK, module.Get<NoArgFn>("DllRegisterServer")());
  const std::string path = *Registry(file).GetValue(
      "CLSID\\" + GuidToString(CLSID_PELKVXTSonquixManager) + "\\InprocServer32");
  EXPECT_EQ(path, std::filesystem::canonical(SONQUIX_MODULE).string());

  ComPtr<IPELKSonquixManager> manager;
  ASSERT_HR(S_OK, CoCreateInstance(CLSID_PELKVXTSonquixManager, nullptr, CLSCTX_ALL,
                                   IPELKSonquixManager::kIid, manager.OutVoid()));
  Bstr version;
  manager->get_Version(version.Out());
  EXPECT_EQ(version.View(), u"PelkSonquix 2.6.206.203");
  ASSERT_HR(S_OK, module.Get<NoArgFn>("DllUnregisterServer")());
  EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_PELKVXTSonquixManager, nullptr,
                                                  CLSCTX_ALL, IUnknown::kIid,
                                                  manager.OutVoid()));
  unsetenv("PELK_REGISTRY");
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace pelk::testing
