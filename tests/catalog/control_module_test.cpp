#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

#include "catalog/catalog_control.h"
#include "pelk/manager_interfaces.h"
#include "pelk/module_exports.h"
#include "runtime/registry.h"
#include "tests/support/hr_matchers.h"

namespace pelk::catalog {
namespace {

using GetObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using HinstFn = HRESULT (*)(HMODULE);
using NoArgFn = HRESULT (*)();

// Both modules as a host uses them: the identification module bound to our control module.
TEST(ControlModuleTest, ManagerInitializesAgainstTheCatalogueModule) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("pelk-control-module-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  void* control_module = dlopen(SONQUIX_CONTROL_MODULE, RTLD_NOW | RTLD_LOCAL);
  void* sonquix_module = dlopen(SONQUIX_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_TRUE(control_module && sonquix_module) << dlerror();

  auto control_get = reinterpret_cast<GetObjectFn>(dlsym(control_module, "DllGetObject"));
  ComPtr<ILookupControl> control;
  ASSERT_HR(S_OK, control_get(CLSID_PelkLookupControl, ILookupControl::kIid, control.OutVoid()));
  Bstr path = Bstr::FromUtf8((dir / "catalog.db").string());
  ASSERT_HR(S_OK, control.As<IPelkCatalogControl>()->OpenCatalog(path.Get()));

  ASSERT_HR(S_OK, reinterpret_cast<HinstFn>(dlsym(sonquix_module, "DllSetPelkHINST"))(
                      control_module));
  auto get_object = reinterpret_cast<GetObjectFn>(dlsym(sonquix_module, "DllGetObject"));
  ComPtr<IPELKSonquixManager3> manager;
  ASSERT_HR(S_OK, get_object(CLSID_PELKVXTSonquixManager, IPELKSonquixManager3::kIid,
                             manager.OutVoid()));
  ASSERT_HR(S_OK, manager->Initialize(control.Get()));
  EXPECT_HR(S_OK, manager->Shutdown());

  auto can_unload = reinterpret_cast<NoArgFn>(dlsym(control_module, "DllCanUnloadNow"));
  EXPECT_HR(S_FALSE, can_unload());
  manager.Reset();
  control.Reset();
  EXPECT_HR(S_OK, can_unload());
  std::filesystem::remove_all(dir);
}

TEST(ControlModuleTest, RegisteredControlIsCreatableByClassIdentifier) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("pelk-control-reg-" + std::to_string(::getpid()));
  std::filesystem::remove(file);
  setenv("PELK_REGISTRY", file.c_str(), 1);
  void* module = dlopen(SONQUIX_CONTROL_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_TRUE(module);
  ASSERT_HR(S_OK, reinterpret_cast<NoArgFn>(dlsym(module, "DllRegisterServer"))());
  EXPECT_EQ(Registry(file).GetValue("PelkControl.LookupControl\\CurVer"),
            "PelkControl.LookupControl.1");
  ComPtr<ILookupControl> control;
  ASSERT_HR(S_OK, CoCreateInstance(CLSID_PelkLookupControl, nullptr, CLSCTX_ALL,
                                   ILookupControl::kIid, control.OutVoid()));
  Bstr version;
  control->get_Version(version.Out());
  EXPECT_EQ(version.View(), u"PELKControl 2.6.0.10");
  ASSERT_HR(S_OK, reinterpret_cast<NoArgFn>(dlsym(module, "DllUnregisterServer"))());
  EXPECT_FALSE(Registry(file).KeyExists("CLSID\\" + GuidToString(CLSID_PelkLookupControl)));
  unsetenv("PELK_REGISTRY");
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace pelk::catalog
